#pragma once
// The outcome of a platform call that can fail: the system's error code (0 = success) and
// its description. Codes follow the Windows numbering where the program relies on one.
#include <string>

namespace platform {

// Windows' "sharing violation": the file is in use by another program. Busy, locked and
// text-busy files on this platform report this code.
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorAlreadyExists = 183;
inline constexpr int kErrorDiskFull = 112;

struct SysError {
    int code = 0;         // 0 = success
    std::string message;  // the system's description; empty on success

    explicit operator bool() const { return code != 0; }  // true when it failed
    static SysError Ok() { return {}; }
    // Translates an errno value into the Windows-style code and a description.
    static SysError FromErrno(int err);
    // The error the last failed system call of this thread left.
    static SysError Last();
};

}  // namespace platform
