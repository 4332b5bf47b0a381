#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "TempFile.h"

namespace zipengine {

namespace {

// A descriptor opened only to look at a file: its close has nothing to report.
class LookingFd {
public:
    explicit LookingFd(int fd) : m_fd(fd) {}
    ~LookingFd() {
        if (m_fd >= 0) close(m_fd);
    }
    LookingFd(const LookingFd&) = delete;
    LookingFd& operator=(const LookingFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
};

bool ForceNamed() {
    const char* v = std::getenv("ZIPENGINE_TEST_NAMED_TEMP");
    return v && std::strcmp(v, "1") == 0;
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Creates an unnamed file in `folder`, or returns -1. Only a file that Complete() can name is
// kept: linking through /proc needs /proc, which a container may lack.
int CreateUnnamed(const std::string& folder) {
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat viaProc {
    }, own{};
    if (stat(ProcPath(fd).c_str(), &viaProc) != 0 || fstat(fd, &own) != 0 || viaProc.st_ino != own.st_ino ||
        viaProc.st_dev != own.st_dev) {
        close(fd);  // empty and unnamed: nothing to report
        return -1;
    }
    return fd;
}

}  // namespace

int TempFile::CreateIn(const std::string& folder) {
    m_folder = folder.empty() ? std::string(".") : folder;
    if (m_folder.back() != '/') m_folder += '/';
    if (!ForceNamed()) m_handle = CreateUnnamed(m_folder);
    if (m_handle < 0) {
        std::string name = OwnName(false);
        std::vector<char> buf(name.begin(), name.end());
        buf.push_back('\0');
        m_handle = mkostemps(buf.data(), int(kSuffixLength), O_CLOEXEC);
        if (m_handle < 0) return errno;
        m_path = buf.data();
    }
    // Held until closed, also by the unnamed file, which keeps it once named. A file system
    // without locks leaves only the age to protect the file (see kStaleAge).
    flock(m_handle, LOCK_EX | LOCK_NB);
    return 0;
}

int TempFile::WriteAt(const unsigned char* data, size_t size, uint64_t position) {
    while (size > 0) {
        ssize_t w = pwrite(m_handle, data, size, off_t(position));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        if (w == 0) return EIO;
        data += w;
        size -= size_t(w);
        position += uint64_t(w);
    }
    return 0;
}

int TempFile::Resize(uint64_t size) { return ftruncate(m_handle, off_t(size)) == 0 ? 0 : errno; }

int TempFile::SetMode(uint32_t mode) { return fchmod(m_handle, mode_t(mode)) == 0 ? 0 : errno; }

int TempFile::Complete() {
    int error = fsync(m_handle) == 0 ? 0 : errno;
    // A fresh name of our own: link() never replaces, so names are tried until one is free.
    for (int attempt = 0; !error && m_path.empty() && attempt < 100; ++attempt) {
        std::string name = OwnName(true);
        if (linkat(AT_FDCWD, ProcPath(m_handle).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) m_path = name;
        else if (errno != EEXIST) error = errno;
    }
    if (!error && m_path.empty()) error = EEXIST;
    if (close(m_handle) != 0 && !error) error = errno;
    m_handle = -1;
    return error;
}

void TempFile::Discard() {
    if (m_handle >= 0) close(m_handle);  // the file is being thrown away: its close result is moot
    m_handle = -1;
    if (!m_path.empty()) unlink(m_path.c_str());
    m_path.clear();
}

void TempFile::RemoveStaleIn(const std::string& folder) {
    std::unique_ptr<DIR, CloseDir> dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return;
    const int dirFd = dirfd(dir.get());
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!IsOwnName(name)) continue;
        LookingFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (fd.get() < 0 || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
        // A lock someone holds means a live writer; a file system without locks leaves the age.
        if (flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) continue;
        if (now - opened.st_mtime < kStaleAge) continue;
        // Only the file judged: the name may have changed hands since it was opened.
        struct stat named {};
        if (fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            unlinkat(dirFd, name.c_str(), 0);
    }
}

}  // namespace zipengine
