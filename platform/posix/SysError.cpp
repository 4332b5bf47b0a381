#include <cerrno>

#include "platform/SysError.h"

namespace platform {

SysError SysError::Last() { return FromErrno(errno); }

}  // namespace platform
