#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Profile.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

TEST(Profile, MissingFileSectionOrKeyGiveTheDefault) {
    TempDir dir;
    std::string ini = dir / "Tallomir.INI";
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Path", "C:\\TEMP\\Tallomir"), "C:\\TEMP\\Tallomir");
    WriteText(ini, "[Other]\r\nPath=x\r\n");
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Path", "dflt"), "dflt");
    WriteText(ini, "[Copy Details]\r\nZip=True\r\n");
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Path", "dflt"), "dflt");
}

TEST(Profile, SectionsAndKeysIgnoreCaseValuesKeepTheirs) {
    TempDir dir;
    std::string ini = dir / "a.ini";
    WriteText(ini, "; comment\n[copy details]\n  zip = false  \nZipFile=\"Out.zip\"\nEmpty=\n");
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Zip", ""), "false");
    EXPECT_EQ(GetProfileString(ini, "COPY DETAILS", "ZIPFILE", ""), "Out.zip");
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Empty", "dflt"), "");
}

TEST(Profile, WriteKeepsEveryOtherLineAndRoundTrips) {
    TempDir dir;
    std::string ini = dir / "a.ini";
    WriteText(ini, "; keep me\r\n[Drives]\r\nC=/mnt/c\r\n\r\n[Copy Details]\r\nZip=False\r\nPath=old\r\n");
    ASSERT_FALSE(WriteProfileString(ini, "copy details", "PATH", "C:\\new"));
    ASSERT_FALSE(WriteProfileString(ini, "Copy Details", "CD", "True"));
    ASSERT_FALSE(WriteProfileString(ini, "Third", "K", "V"));
    ASSERT_FALSE(FlushProfile(ini));
    EXPECT_EQ(ReadText(ini),
              "; keep me\r\n[Drives]\r\nC=/mnt/c\r\n\r\n[Copy Details]\r\nZip=False\r\nPATH=C:\\new\r\n"
              "CD=True\r\n\r\n[Third]\r\nK=V\r\n");
    EXPECT_EQ(GetProfileString(ini, "Copy Details", "Path", ""), "C:\\new");
    EXPECT_EQ(GetProfileString(ini, "Drives", "C", ""), "/mnt/c");
}

TEST(Profile, LongValuesAreCutTo2047Characters) {
    TempDir dir;
    std::string ini = dir / "a.ini";
    std::string longValue(3000, 'x');
    longValue[2046] = 'y';
    ASSERT_FALSE(WriteProfileString(ini, "S", "K", longValue));
    std::string back = GetProfileString(ini, "S", "K", "");
    EXPECT_EQ(back.size(), 2047u);
    EXPECT_EQ(back.back(), 'y');
    EXPECT_EQ(GetProfileString(ini, "S", "missing", std::string(2100, 'd')).size(), 2047u);
}

TEST(Profile, UnwritableFileReportsAnError) {
    TempDir dir;
    std::string sub = dir / "ro";
    WriteText(sub + "/a.ini", "[S]\r\nK=1\r\n");
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
    // Root may write anywhere; only a real refusal can be checked.
    SysError err = WriteProfileString(sub + "/b.ini", "S", "K", "2");
    if (::geteuid() != 0) {
        EXPECT_TRUE(err);
    }
    ::chmod(sub.c_str(), 0755);
}
