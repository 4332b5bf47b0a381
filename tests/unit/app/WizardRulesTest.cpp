// The text rules of the wizard: zip name, path field, relative "ZipFile", flags, line breaks.
#include <gtest/gtest.h>

#include "app/WizardRules.h"

using namespace app;

TEST(WizardRules, ZipNameRule) {
    struct Case {
        const char* given;
        const char* expected;
    } cases[] = {
        {"", "Tallomir.zip"},
        {"Out", "Out.zip"},
        {"Out.ZIP", "Out.zip"},
        {"Out.", "Out.zip"},
        {"Out.zip", "Out.zip"},
        {"Out.tar", "Out.zip"},
        {"C:\\Data\\Out", "C:\\Data\\Out.zip"},
        {"..\\Out.Zip", "..\\Out.zip"},
        // a dot in a folder name is no extension: the name is kept
        {"C:\\my.data\\Out", "C:\\my.data\\Out.zip"},
        {"/tmp/x.y/Out", "/tmp/x.y/Out.zip"},
        {"D:Out", "D:Out.zip"},
    };
    for (const Case& c : cases) EXPECT_EQ(ApplyZipNameRule(c.given), c.expected) << '"' << c.given << '"';
}

TEST(WizardRules, PathFieldRule) {
    struct Case {
        const char* given;
        const char* expected;
    } cases[] = {
        {"  C:\\Data\\  ", "C:\\Data"},
        {"C:\\Data\\\\", "C:\\Data\\"},
        {"C:\\", "C:"},
        {"\t/tmp/Out/\r\n", "/tmp/Out"},
        {"   ", ""},
        {"", ""},
        {"C:\\Data", "C:\\Data"},
        {"\\", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ApplyPathFieldRule(c.given), c.expected) << '"' << c.given << '"';
}

TEST(WizardRules, ZipFileRelativeToTheTargetFolder) {
    struct Case {
        const char* folder;
        const char* zip;
        const char* expected;
    } cases[] = {
        {"C:\\TEMP\\Tallomir", "C:\\TEMP\\Tallomir\\Out.zip", "Out.zip"},
        {"C:\\TEMP\\Tallomir", "C:\\TEMP\\Out.zip", "..\\Out.zip"},
        {"C:\\TEMP\\Tallomir", "D:\\Out.zip", "D:\\Out.zip"},
        {"C:\\TEMP\\Tallomir", "Tallomir.zip", "Tallomir.zip"},
        {"C:\\TEMP\\Tallomir", "c:\\temp\\TALLOMIR\\sub\\Out.zip", "sub\\Out.zip"},
        {"C:\\TEMP\\Tallomir", "C:\\Other\\Deep\\Out.zip", "..\\..\\Other\\Deep\\Out.zip"},
        {"\\\\srv\\share\\T", "\\\\SRV\\Share\\Out.zip", "..\\Out.zip"},
        {"\\\\srv\\share\\T", "\\\\srv\\other\\Out.zip", "\\\\srv\\other\\Out.zip"},
        // host paths: the root counts as a drive, a bare name has none
        {"/tmp/Tallomir", "/tmp/Tallomir/Out.zip", "Out.zip"},
        {"/tmp/Tallomir", "/tmp/Out.zip", "../Out.zip"},
        {"/tmp/Tallomir", "/home/me/Out.zip", "../../home/me/Out.zip"},
        {"/tmp/Tallomir", "Tallomir.zip", "Tallomir.zip"},
        {"/tmp/Tallomir", "../Out.zip", "../Out.zip"},
    };
    for (const Case& c : cases) EXPECT_EQ(RelativeToFolder(c.folder, c.zip), c.expected) << c.folder << " + " << c.zip;
}

TEST(WizardRules, OnlyFalseTurnsAFlagOff) {
    EXPECT_FALSE(ProfileFlag("False"));
    for (const char* on : {"True", "false", "FALSE", "0", "", "no", " False"}) EXPECT_TRUE(ProfileFlag(on)) << on;
}

TEST(WizardRules, LineBreaks) {
    EXPECT_EQ(WithNewlines("a\r\nb\rc\nd\r\n"), "a\nb\nc\nd\n");
    EXPECT_EQ(WithCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(WithCrLf(""), "");
}
