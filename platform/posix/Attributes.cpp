// Changes to folders and names, attributes, the desktop's trash and the volume of a path.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/posix/PosixFileSystem.h"

namespace platform {
namespace {

bool StatusOf(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

}  // namespace

SysError CreateDir(const std::string& dir) {
    std::string d = ExpandFileName(dir);
    posix::OwnChange change(d);
    if (::mkdir(d.c_str(), 0777) != 0) return SysError::FromErrno(errno);
    change.Added();
    return {};
}

bool ForceDirectories(const std::string& dir) {
    std::string d = ExpandFileName(dir);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (DirectoryExists(d)) return true;
    std::size_t slash = d.rfind('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(d.substr(0, slash))) return false;
    // The parent may exist under another letter case.
    std::string parent = slash == 0 ? "/" : d.substr(0, slash);
    std::string target = ResolveCase(parent).value_or(parent);
    if (target.back() != '/') target += '/';
    target += d.substr(slash + 1);
    posix::OwnChange change(target);
    if (::mkdir(target.c_str(), 0777) == 0) {
        change.Added();
        return true;
    }
    return errno == EEXIST && DirectoryExists(target);
}

SysError RemoveDir(const std::string& dir) {
    std::string d = ResolveCase(dir).value_or(ExpandFileName(dir));
    posix::OwnChange change(d);
    if (::rmdir(d.c_str()) != 0) return SysError::FromErrno(errno);
    change.Removed();
    return {};
}

SysError DeleteFile(const std::string& path) {
    std::string p = ResolveCase(path).value_or(ExpandFileName(path));
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return SysError::FromErrno(EISDIR);
    posix::OwnChange change(p);
    if (::unlink(p.c_str()) != 0) return SysError::FromErrno(errno);
    change.Removed();
    return {};
}

SysError RenameFile(const std::string& from, const std::string& to) {
    std::string f = ResolveCase(from).value_or(ExpandFileName(from));
    std::string t = ResolveCase(to).value_or(ExpandFileName(to));
    if (::rename(f.c_str(), t.c_str()) != 0) return SysError::FromErrno(errno);
    posix::ForgetListing(f.substr(0, std::max<std::size_t>(f.rfind('/'), 1)));
    posix::ForgetListing(t.substr(0, std::max<std::size_t>(t.rfind('/'), 1)));
    return {};
}

int GetFileAttributes(const std::string& path) {
    // (a link whose target is missing is reported by its own status, which is not wanted here)
    auto found = posix::ResolvePath(path);
    if (!found || S_ISLNK(found->status.st_mode)) return -1;
    const struct stat& st = found->status;
    const std::string* r = &found->path;
    int attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= kAttrDirectory;
    else attrs |= kAttrArchive;
    if ((st.st_mode & 0222) == 0) attrs |= kAttrReadOnly;
    std::string name = r->substr(r->find_last_of('/', r->size() > 1 ? r->size() - 2 : 0) + 1);
    if (!name.empty() && name[0] == '.') attrs |= kAttrHidden;
    return attrs;
}

SysError SetFileAttributes(const std::string& path, int attributes) {
    auto found = posix::ResolvePath(path);
    if (!found || S_ISLNK(found->status.st_mode)) return SysError::FromErrno(ENOENT);
    const struct stat& st = found->status;
    const std::string& resolved = found->path;
    const mode_t old = st.st_mode & 07777;
    mode_t mode = old;
    if (attributes & kAttrReadOnly) {
        mode &= ~static_cast<mode_t>(0222);
    } else if ((mode & 0222) == 0) {
        mode |= S_IWUSR;  // clearing read-only gives the owner write access back
    }
    if (mode == old) return {};  // nothing to change (the usual case after a copy)
    if (::chmod(resolved.c_str(), mode) != 0) return SysError::FromErrno(errno);
    return {};
}

SysError MoveToTrash(const std::string& path) {
    auto r = ResolveCase(path);
    if (!r) return SysError::FromErrno(ENOENT);
    // The desktop's trash must exist first: without it the file would be moved into a
    // "files" folder under the current folder instead.
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') dataHome = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) dataHome = std::string(home) + "/.local/share";
    if (dataHome.empty() || !ForceDirectories(dataHome + "/Trash/files") || !ForceDirectories(dataHome + "/Trash/info"))
        return {kErrorAccessDenied, "There is no trash folder for this user."};
    QFile file(QString::fromLocal8Bit(r->c_str()));
    if (!file.moveToTrash()) return {kErrorAccessDenied, file.errorString().toLocal8Bit().toStdString()};
    return {};
}

std::optional<VolumeInfo> GetVolumeInfo(const std::string& path) {
    std::string p = ResolveCase(path).value_or(ExpandFileName(path));
    struct stat st;
    // Walk up to an existing folder: a path that is about to be created still has a volume.
    while (!StatusOf(p, st)) {
        std::size_t slash = p.find_last_of('/', p.size() > 1 ? p.size() - 2 : 0);
        if (slash == std::string::npos || p == "/") return std::nullopt;
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
    struct statvfs vfs;
    if (::statvfs(p.c_str(), &vfs) != 0) return std::nullopt;
    VolumeInfo info;
    info.totalBytes = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    info.freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // The mount point: the highest folder on the same device.
    std::string root = p;
    while (root != "/") {
        std::size_t slash = root.find_last_of('/', root.size() - 1);
        std::string parent = slash == 0 ? "/" : root.substr(0, slash);
        struct stat pst;
        if (!StatusOf(parent, pst) || pst.st_dev != st.st_dev) break;
        root = parent;
    }
    info.root = root;
    // The label, where the system lists one for the device behind the mount.
    posix::DirHandle labels(::opendir("/dev/disk/by-label"));
    if (labels) {
        while (dirent* e = ::readdir(labels.get())) {
            std::string link = std::string("/dev/disk/by-label/") + e->d_name;
            struct stat dev;
            if (e->d_name[0] != '.' && ::stat(link.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode) &&
                dev.st_rdev == st.st_dev) {
                info.label = e->d_name;
                break;
            }
        }
    }
    return info;
}

}  // namespace platform
