#include "ZipFormat.h"

namespace zipengine {

DosDateTime ToDosDateTime(time_t t) {
    DosDateTime r;
    struct tm tmv {};
    if (!localtime_r(&t, &tmv) || tmv.tm_year < 80) return r;
    if (tmv.tm_year > 207) {
        tmv.tm_year = 207;
        tmv.tm_mon = 11;
        tmv.tm_mday = 31;
        tmv.tm_hour = 23;
        tmv.tm_min = 59;
        tmv.tm_sec = 58;
    }
    r.date = uint16_t(((tmv.tm_year - 80) << 9) | ((tmv.tm_mon + 1) << 5) | tmv.tm_mday);
    r.time = uint16_t((tmv.tm_hour << 11) | (tmv.tm_min << 5) | (tmv.tm_sec / 2));
    return r;
}

time_t FromDosDateTime(uint16_t date, uint16_t time) {
    struct tm tmv {};
    tmv.tm_year = ((date >> 9) & 0x7F) + 80;
    tmv.tm_mon = ((date >> 5) & 0x0F) - 1;
    tmv.tm_mday = date & 0x1F;
    tmv.tm_hour = (time >> 11) & 0x1F;
    tmv.tm_min = (time >> 5) & 0x3F;
    tmv.tm_sec = (time & 0x1F) * 2;
    tmv.tm_isdst = -1;
    return mktime(&tmv);
}

}  // namespace zipengine
