// The Win32 platform layer under Wine: native paths, the file system's own letter case,
// share modes as the test of a file in use, the system's copy and profile functions, and
// texts in the ANSI code page. Where Wine differs from Windows, the test says so.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/WinText.h"
// (after windows.h, which it needs)
#include <shellapi.h>

#include "platform/DynamicLibrary.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"

namespace {

using namespace platform;

// A fresh folder under the system's temporary folder, removed with what it holds.
class Win32Platform : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ::GetTempPathW(MAX_PATH + 1, temp);
        dir = win32::HostPath(temp) + "tallomir-" + std::to_string(::GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(ForceDirectories(dir));
    }
    void TearDown() override {
        std::wstring from = win32::NativePath(dir);
        from.push_back(L'\0');
        SHFILEOPSTRUCTW op{};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
        ::SHFileOperationW(&op);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        EXPECT_FALSE(WriteFile(path, bytes)) << path;
        return path;
    }
    // Another opener of `path`, holding it until it goes out of scope.
    static win32::Handle Hold(const std::string& path, DWORD access, DWORD share) {
        win32::Handle h(::CreateFileW(win32::NativePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(h.IsValid()) << path;
        return h;
    }
    std::string dir;
};

TEST_F(Win32Platform, PathsAreNativeWithForwardSeparators) {
    EXPECT_EQ(ExpandFileName("C:\\Data\\..\\Maps\\.\\roads.tab"), "C:/Maps/roads.tab");
    EXPECT_EQ(ExpandFileName("\\\\server\\share\\maps\\x.wor"), "//server/share/maps/x.wor");
    ASSERT_FALSE(SetCurrentDir(dir));
    EXPECT_EQ(ExpandFileName("sub\\a.tab"), dir + "/sub/a.tab");
    EXPECT_EQ(CurrentDir(), dir);
    EXPECT_TRUE(IsAbsoluteText("d:\\x") && IsAbsoluteText("\\\\s\\h") && !IsAbsoluteText("x\\y"));
    EXPECT_EQ(DriveMappings().at("z"), "Z:/");  // the system's own drives, each its own root
    EXPECT_EQ(LibraryFileName("ZipEngine"), "ZipEngine.dll");
    EXPECT_EQ(ProgramDir().back(), '/');
}

TEST_F(Win32Platform, LookupsIgnoreLetterCaseAndGiveTheOnDiskSpelling) {
    ASSERT_TRUE(ForceDirectories(dir + "/Maps/Roads"));
    Write("Maps/Roads/Streets.TAB", "header");
    Write("Maps/Roads/streets.dat", "data");
    EXPECT_EQ(ResolveCase(dir + "/MAPS/roads/STREETS.tab"), dir + "/Maps/Roads/Streets.TAB");
    EXPECT_FALSE(ResolveCase(dir + "/maps/none.tab"));
    auto found = FindFiles(dir + "/maps/roads", "STREETS.*");
    EXPECT_EQ(found.size(), 2u);
    auto a = StatPath(dir + "/maps/roads/streets.tab");
    auto b = StatPath(dir + "\\Maps\\Roads\\Streets.TAB");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->inode, b->inode);
    EXPECT_EQ(a->device, b->device);
    EXPECT_TRUE(a->isRegularFile);
    EXPECT_EQ(a->size, 6u);
    EXPECT_TRUE(DirectoryExists(dir + "/MAPS") && FileExists(dir + "/maps/roads/STREETS.DAT"));
}

TEST_F(Win32Platform, AFileOpenedWithoutSharingIsInUse) {
    const std::string tab = Write("held.tab", "x");
    {
        // Shared with no one (share mode 0): in use for copying and for replacing.
        win32::Handle held = Hold(tab, GENERIC_READ, 0);
        EXPECT_TRUE(HeldByAnother(tab, Access::SharedRead));
        EXPECT_TRUE(HeldByAnother(tab, Access::Exclusive));
        EXPECT_EQ(CopyFile(tab, dir + "/copy.tab").code, kErrorSharingViolation);
        EXPECT_FALSE(FileExists(dir + "/copy.tab"));
    }
    {
        // Another reader that shares reading: the file may be copied, not replaced.
        win32::Handle reader = Hold(tab, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_FALSE(HeldByAnother(tab, Access::SharedRead));
        EXPECT_TRUE(HeldByAnother(tab, Access::Exclusive));
    }
    {
        // A writer that lets others read: what is copied could change under the copy.
        win32::Handle writer = Hold(tab, GENERIC_WRITE, FILE_SHARE_READ);
        EXPECT_TRUE(HeldByAnother(tab, Access::SharedRead));
    }
    EXPECT_FALSE(HeldByAnother(tab, Access::Exclusive));
    EXPECT_FALSE(HeldByAnother(dir + "/missing.tab", Access::SharedRead));
    EXPECT_TRUE(HeldByAnother(dir + "/missing.tab", Access::Exclusive));
    // Read-only counts as in use (Wine lets root write read-only files, so the attribute
    // itself is what is tested).
    ASSERT_FALSE(SetFileAttributes(tab, kAttrReadOnly));
    EXPECT_TRUE(HeldByAnother(tab, Access::Exclusive));
}

TEST_F(Win32Platform, CopyCarriesTimeAndRefusesWhatItMustNotReplace) {
    const std::string src = Write("src.dat", std::string(100000, 'q'));
    ASSERT_FALSE(CopyFile(src, dir + "/dst.dat"));
    EXPECT_EQ(ReadFile(dir + "/dst.dat").bytes, std::string(100000, 'q'));
    EXPECT_EQ(StatPath(src)->modifiedNs, StatPath(dir + "/dst.dat")->modifiedNs);
    EXPECT_EQ(CopyFile(src, dir + "/SRC.DAT").code, kErrorSharingViolation);  // itself
    EXPECT_EQ(ReadFile(src).bytes->size(), 100000u);
    const std::string locked = Write("readonly.dat", "keep");
    ASSERT_FALSE(SetFileAttributes(locked, kAttrReadOnly));
    EXPECT_EQ(GetFileAttributes(locked) & kAttrReadOnly, kAttrReadOnly);
    EXPECT_EQ(CopyFile(src, locked).code, kErrorAccessDenied);
    EXPECT_EQ(WriteFile(locked, "lost").code, kErrorAccessDenied);
    EXPECT_EQ(ReadFile(locked).bytes, "keep");
    // Devices are not files: nothing is read from or written to them.
    EXPECT_EQ(File::Open("NUL", File::Mode::Read).error.message, "Not a regular file");
    EXPECT_TRUE(CopyFile("NUL", dir + "/nul.dat"));
    EXPECT_FALSE(FileExists(dir + "/nul.dat"));
}

TEST_F(Win32Platform, WholeFilesAndProfilesKeepWhatTheyDoNotChange) {
    const std::string ini = Write("Setup.ini", "; note\r\n[Run]\r\nA=1\r\n[Other]\r\nB=2\r\n");
    ASSERT_FALSE(WriteProfileString(ini, "run", "C", "3"));
    ASSERT_FALSE(FlushProfile(ini));
    EXPECT_EQ(GetProfileString(ini, "RUN", "a", "-"), "1");
    EXPECT_EQ(GetProfileString(ini, "Run", "C", "-"), "3");
    EXPECT_EQ(GetProfileString(ini, "Other", "B", "-"), "2");
    EXPECT_EQ(GetProfileString(ini, "Other", "none", "-"), "-");
    EXPECT_NE(ReadFile(ini).bytes->find("; note"), std::string::npos);
    ASSERT_FALSE(WriteProfileString(ini, "Run", "Long", std::string(3000, 'v')));
    EXPECT_EQ(GetProfileString(ini, "Run", "Long", ""), std::string(kProfileValueMax, 'v'));

    // Names and contents in the ANSI code page ("é" is one byte) come back as they went in.
    const std::string name =
        "Stra\xE9"
        "e.tab";
    Write(name, "\xE9");
    auto listed = FindFiles(dir, "*.TAB");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, name);
    EXPECT_EQ(ReadFile(dir + "/" + name).bytes, "\xE9");
    ASSERT_FALSE(RenameFile(dir + "/" + name, dir + "/renamed.tab"));
    EXPECT_FALSE(FileExists(dir + "/" + name));
    EXPECT_TRUE(GetVolumeInfo(dir + "/not/yet/made").has_value());
}

}  // namespace
