#include "common/ByteCursor.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using common::ByteCursor;
using common::ByteWriter;

// Each row reads a sequence from the same seven bytes; a read that does not fit fails for
// good, yields zero, and every read after it yields zero too, even one that would fit.
TEST(ByteCursor, ReadsLittleEndianAndFailsStickily) {
    const std::string bytes("\x50\x4B\x05\x06\xFF\x01\x80", 7);
    struct Row {
        const char* what;
        std::uint32_t first, second, third;
        bool ok;
        std::size_t pos;
    };
    auto read = [&](int row) -> Row {
        ByteCursor c(bytes);
        switch (row) {
            case 0: return {"u32 u16 u8", c.U32LE(), c.U16LE(), c.U8(), c.ok(), c.pos()};
            case 1: return {"u32 u32 then u8", c.U32LE(), c.U32LE(), c.U8(), c.ok(), c.pos()};
            case 2: return {"skip past end then u8", (c.Skip(8), 0u), c.U8(), c.U16LE(), c.ok(), c.pos()};
            case 3:
                return {"seek to end, u8",
                        (c.Seek(7), 0u),
                        c.U8(),
                        static_cast<std::uint32_t>(c.remaining()),
                        c.ok(),
                        c.pos()};
            default:
                return {"bytes past end", static_cast<std::uint32_t>(c.Bytes(8).size()), c.U8(), 0u, c.ok(), c.pos()};
        }
    };
    const Row expected[] = {
        {"u32 u16 u8", 0x06054B50u, 0x01FFu, 0x80u, true, 7},
        {"u32 u32 then u8", 0x06054B50u, 0u, 0u, false, 4},
        {"skip past end then u8", 0u, 0u, 0u, false, 0},
        {"seek to end, u8", 0u, 0u, 0u, false, 7},
        {"bytes past end", 0u, 0u, 0u, false, 0},
    };
    for (int row = 0; row < 5; ++row) {
        const Row got = read(row);
        const Row& want = expected[row];
        EXPECT_EQ(got.first, want.first) << want.what;
        EXPECT_EQ(got.second, want.second) << want.what;
        EXPECT_EQ(got.third, want.third) << want.what;
        EXPECT_EQ(got.ok, want.ok) << want.what;
        EXPECT_EQ(got.pos, want.pos) << want.what;
    }
}

// A write that does not fit leaves the buffer as it was, and so does every write after it.
TEST(ByteWriter, WritesLittleEndianAndFailsStickily) {
    unsigned char buffer[8] = {};
    ByteWriter w(buffer, 7);
    w.U32LE(0x06054B50);
    w.U16LE(0x01FF);
    w.U16LE(0xAAAA);  // one byte short: not written at all
    w.U8(0x80);       // would fit, but the writer has failed
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), std::string("\x50\x4B\x05\x06\xFF\x01\0\0", 8));

    ByteWriter fits(buffer, 7);
    fits.Seek(4);
    fits.Bytes("abc");
    EXPECT_TRUE(fits.ok());
    EXPECT_EQ(fits.pos(), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 7), std::string("\x50\x4B\x05\x06"
                                                                           "abc",
                                                                           7));
}

}  // namespace
