// The error mapping shared by every platform: C library errors in the Windows numbering.
#include "platform/SysError.h"

#include <cerrno>
#include <cstring>

namespace platform {

SysError SysError::FromErrno(int err) {
    if (err == 0) return {};
    int code;
    switch (err) {
        case ENOENT: code = kErrorFileNotFound; break;
        case ENOTDIR: code = kErrorPathNotFound; break;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR: code = kErrorAccessDenied; break;
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
#if defined(EWOULDBLOCK) && EWOULDBLOCK != EBUSY
        case EWOULDBLOCK:
#endif
            code = kErrorSharingViolation;
            break;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            code = kErrorDiskFull;
            break;
        case EEXIST: code = kErrorAlreadyExists; break;
        default: code = 10000 + err; break;  // no Windows counterpart: keep it distinct
    }
    return {code, std::strerror(err)};
}

}  // namespace platform
