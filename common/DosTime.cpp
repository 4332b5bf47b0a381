#include "common/DosTime.h"

namespace common {

namespace {

// The C library's thread-safe local time: POSIX localtime_r or the Windows CRT's localtime_s.
bool LocalTime(std::time_t t, std::tm& out) {
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

}  // namespace

DosDateTime ToDosDateTime(std::time_t t) {
    DosDateTime r;
    std::tm tmv{};
    if (!LocalTime(t, tmv) || tmv.tm_year < 80) return r;
    if (tmv.tm_year > 207) {
        tmv.tm_year = 207;
        tmv.tm_mon = 11;
        tmv.tm_mday = 31;
        tmv.tm_hour = 23;
        tmv.tm_min = 59;
        tmv.tm_sec = 58;
    }
    r.date = std::uint16_t(((tmv.tm_year - 80) << 9) | ((tmv.tm_mon + 1) << 5) | tmv.tm_mday);
    r.time = std::uint16_t((tmv.tm_hour << 11) | (tmv.tm_min << 5) | (tmv.tm_sec / 2));
    return r;
}

std::time_t FromDosDateTime(std::uint16_t date, std::uint16_t time) {
    std::tm tmv{};
    tmv.tm_year = ((date >> 9) & 0x7F) + 80;
    tmv.tm_mon = ((date >> 5) & 0x0F) - 1;
    tmv.tm_mday = date & 0x1F;
    tmv.tm_hour = (time >> 11) & 0x1F;
    tmv.tm_min = (time >> 5) & 0x3F;
    tmv.tm_sec = (time & 0x1F) * 2;
    tmv.tm_isdst = -1;
    return std::mktime(&tmv);
}

}  // namespace common
