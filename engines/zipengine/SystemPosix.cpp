#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "System.h"

namespace zipengine::sys {

namespace {

// Files from this size on are announced as read from start to end.
constexpr off_t kHintedSize = off_t(1) << 20;

void Fill(const struct stat& st, FileInfo& info) {
    info.isFolder = S_ISDIR(st.st_mode);
    info.isRegular = S_ISREG(st.st_mode);
    info.hidden = false;
    info.readOnly = (st.st_mode & S_IWUSR) == 0;
    info.size = info.isRegular ? uint64_t(st.st_size) : 0;
    info.modified = st.st_mtime;
    info.mode = uint32_t(st.st_mode & 07777);
    info.id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

}  // namespace

bool Stat(const std::string& path, FileInfo& info) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    Fill(st, info);
    return true;
}

bool CanRead(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::vector<std::string>&) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(dir);
    return true;
}

PathStart SplitRoot(const std::string& path) {
    std::string p = path;
    if (p.size() >= 2 && (p[0] == 'Z' || p[0] == 'z') && p[1] == ':') p = p.substr(2);
    if (!p.empty() && p[0] == '/') return {"/", p.substr(1)};
    return {"", p};
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsSeparator(char c) { return c == '/'; }

std::string File::Open(const std::string& path, Pattern pattern, FileInfo* info) {
    Close();
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    std::string error;
    int problem = fstat(fd, &st) != 0 ? errno : 0;
    // (the waitless flag changes nothing for a regular file, so it stays)
    if (!problem && !S_ISREG(st.st_mode)) error = "Not a regular file";
    if (problem) error = std::strerror(problem);
    if (!error.empty()) {
        close(fd);
        return error;
    }
    // The hint matters only to a file read in many pieces; a small one is read at once.
    if (pattern == Pattern::Sequential && st.st_size >= kHintedSize) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (info) Fill(st, *info);
    m_handle = fd;
    return {};
}

void File::Close() {
    if (m_handle != kClosed) close(int(m_handle));  // opened to be read: its close has nothing to report
    m_handle = kClosed;
}

uint64_t File::Size() const {
    struct stat st {};
    return IsOpen() && fstat(int(m_handle), &st) == 0 ? uint64_t(st.st_size) : 0;
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    auto* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = pread(int(m_handle), p + done, count - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

bool File::ReadFullyAt(uint64_t offset, void* buffer, size_t count) const {
    return ReadAt(offset, buffer, count) == int64_t(count);
}

int RenameOver(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool IsOtherVolume(int error) { return error == EXDEV; }

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

void SetModified(const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

uint32_t NewFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return uint32_t(0666 & ~mask);
}

std::string ErrorText(int error) { return std::strerror(error); }

double TrialSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace zipengine::sys
