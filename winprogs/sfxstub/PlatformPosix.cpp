// The native build's services: POSIX calls. Used by the tests and the fuzzer; it runs no
// program but prints the command it would start.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Platform.h"
#include "common/DosTime.h"

namespace sfx::os {

const char kSeparator = '/';

namespace {

std::string ErrorText(int err) { return std::strerror(err); }

class FileSource : public ByteSource {
public:
    FileSource(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    ~FileSource() override { ::close(m_fd); }
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > m_size || count > m_size - offset) return false;
        auto* p = static_cast<char*>(buffer);
        while (count > 0) {
            ssize_t n = ::pread(m_fd, p, count, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            offset += uint64_t(n);
            count -= size_t(n);
        }
        return true;
    }

private:
    int m_fd;
    uint64_t m_size;
};

}  // namespace

std::string SelfPath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FullPath(const std::string& path) {
    if (IsAbsolute(path)) return path;
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return path;
    return std::string(buf) + "/" + path;
}

std::string ExpandEnvironment(const std::string& text) { return text; }

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::unique_ptr<ByteSource> OpenSource(const std::string& path, std::string& error) {
    // Opened without waiting: a named pipe or a device given as the archive is refused,
    // never waited on or read forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    int problem = fd < 0 || ::fstat(fd, &st) != 0 ? errno : 0;
    if (!problem && !S_ISREG(st.st_mode)) {
        error = "Not a regular file";
    } else if (!problem && ::fcntl(fd, F_SETFL, O_RDONLY) != 0) {  // blocking again
        problem = errno;
    } else if (!problem) {
        return std::make_unique<FileSource>(fd, uint64_t(st.st_size));
    }
    if (problem) error = ErrorText(problem);
    if (fd >= 0) ::close(fd);
    return nullptr;
}

Kind KindOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? Kind::Missing : Kind::Other;
    if (S_ISLNK(st.st_mode)) return Kind::Link;
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    if (S_ISREG(st.st_mode)) return Kind::File;
    return Kind::Other;
}

std::string CreateFolders(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty() || partial == "/") continue;
        struct stat st {};
        if (::stat(partial.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return partial + " is not a folder";
            continue;
        }
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return ErrorText(errno);
    }
    return {};
}

std::string CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0) return ErrorText(errno);
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool FreeSpace(const std::string& folder, uint64_t& bytes) {
    struct statvfs vs {};
    if (::statvfs(folder.c_str(), &vs) != 0) return false;
    bytes = uint64_t(vs.f_bavail) * vs.f_frsize;
    return true;
}

OutputFile::~OutputFile() { Discard(); }

std::string OutputFile::Create(const std::string& target) {
    m_target = target;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temp = target + ".~sfx" + std::to_string(attempt);
        int fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_handle = fd;
            return {};
        }
        if (errno != EEXIST) break;
    }
    m_temp.clear();
    return ErrorText(errno);
}

bool OutputFile::Write(const uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t n = ::write(int(m_handle), data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        count -= size_t(n);
    }
    return true;
}

std::string OutputFile::Commit(const ZipEntry& entry) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = common::FromDosDateTime(entry.dosDate, entry.dosTime);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ::futimens(int(m_handle), times);
    // Unix permission bits stored by a Unix archiver (execute bits of scripts and programs).
    if ((entry.madeBy >> 8) == 3 && (entry.externalAttributes >> 16) != 0)
        ::fchmod(int(m_handle), mode_t((entry.externalAttributes >> 16) & 0777));
    int fd = int(m_handle);
    m_handle = -1;
    if (::close(fd) != 0) return "cannot write " + m_target + ": " + ErrorText(errno);
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) return "cannot replace " + m_target + ": " + ErrorText(errno);
    m_temp.clear();
    return {};
}

void OutputFile::Discard() {
    if (m_handle >= 0) ::close(int(m_handle));
    m_handle = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

std::string EntryNameToPath(const std::string& name, bool) { return name; }

std::string RunProgram(const std::string& program, const std::string& arguments, const std::string& folder) {
    std::printf("run: %s|%s|%s\n", program.c_str(), arguments.c_str(), folder.c_str());
    std::fflush(stdout);
    return {};
}

}  // namespace sfx::os
