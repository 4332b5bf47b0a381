#pragma once
// The copy that digests what it copies, shared by the file copies of every system: each byte
// passes through the program once, read into a buffer that is both hashed and written.
#include "platform/File.h"
#include "platform/Hash.h"
#include "platform/SysError.h"

namespace platform {

// The bytes of `in` from its position to its end (a source that became shorter is copied as
// it is) written to `out` at its position and fed to `hash` in order. A file larger than one
// buffer is hashed on a helper thread while this one reads and writes. Returns the error of
// the read or write that failed; every piece handed to the helper is hashed before it
// returns, so `hash` is the caller's again either way.
SysError HashingCopy(File& in, File& out, Sha256& hash);

}  // namespace platform
