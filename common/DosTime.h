#pragma once
// DOS date and time fields as zip records carry them: local time in 2-second steps, years
// 1980 to 2107; the date packs year-1980, month and day, the time hour, minute, second/2.
#include <cstdint>
#include <ctime>

namespace common {

// A DOS date and time; the default is 1 January 1980 00:00, the earliest the fields hold.
struct DosDateTime {
    std::uint16_t time = 0;
    std::uint16_t date = (1 << 5) | 1;
};

// The DOS date and time of a Unix time in local time, odd seconds rounded down. Times before
// 1980 (and times local time cannot express) become the default, times after 2107 the last
// second the fields hold.
DosDateTime ToDosDateTime(std::time_t t);

// The Unix time of DOS date and time fields read as local time; fields out of range are
// normalised the way mktime does.
std::time_t FromDosDateTime(std::uint16_t date, std::uint16_t time);

}  // namespace common
