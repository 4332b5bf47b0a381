#include "common/DosTime.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

// The Unix time of a local date and time, so the rows hold in any time zone; every row is
// at a time of day far from a daylight-saving change.
std::time_t Local(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// Each row turns a local time into DOS fields (year-1980 << 9 | month << 5 | day, and
// hour << 11 | minute << 5 | second / 2) and, where the fields hold it, back again.
TEST(DosTime, ClampsRoundsAndReadsBack) {
    struct Row {
        const char* what;
        std::time_t t;
        std::uint16_t date, time;
        std::time_t back;  // what the fields read back as; -1 where they cannot hold t
    };
    const Row rows[] = {
        {"the earliest time", Local(1980, 1, 1, 0, 0, 0), 0x0021, 0x0000, Local(1980, 1, 1, 0, 0, 0)},
        {"an odd second rounds down", Local(2024, 5, 17, 12, 30, 59), 0x58B1, 0x63DD, Local(2024, 5, 17, 12, 30, 58)},
        {"the latest time", Local(2107, 12, 31, 23, 59, 58), 0xFF9F, 0xBF7D, Local(2107, 12, 31, 23, 59, 58)},
        {"before 1980 is the earliest", Local(1979, 12, 31, 12, 0, 0), 0x0021, 0x0000, -1},
        {"after 2107 is the latest", Local(2108, 6, 1, 12, 0, 0), 0xFF9F, 0xBF7D, -1},
    };
    for (const Row& row : rows) {
        const common::DosDateTime d = common::ToDosDateTime(row.t);
        EXPECT_EQ(d.date, row.date) << row.what;
        EXPECT_EQ(d.time, row.time) << row.what;
        if (row.back != -1) {
            EXPECT_EQ(common::FromDosDateTime(d.date, d.time), row.back) << row.what;
        }
    }
    const common::DosDateTime unset;
    EXPECT_EQ(unset.date, 0x0021);
    EXPECT_EQ(unset.time, 0x0000);
}

}  // namespace
