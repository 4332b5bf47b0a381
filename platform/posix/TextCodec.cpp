#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace platform {

std::optional<std::string> Utf8FromCodePage(const std::string& bytes, unsigned codePage) {
    // iconv names the Windows code pages "CPnnnn" and the ISO 8859 sets by their own names.
    std::string from = codePage == 65001                        ? "UTF-8"
                       : codePage >= 28591 && codePage <= 28599 ? "ISO-8859-" + std::to_string(codePage - 28590)
                                                                : "CP" + std::to_string(codePage);
    iconv_t cd = ::iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(bytes.size() * 4 + 4, '\0');
    std::string in = bytes;
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const std::size_t done = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace platform
