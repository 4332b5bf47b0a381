#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <map>

#include "TestSupport.h"
#include "platform/FileSystem.h"
#include "platform/Hash.h"

using namespace platform;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

struct CwdGuard {
    std::string saved = CurrentDir();
    ~CwdGuard() { SetCurrentDir(saved); }
};

TEST(ExpandFileName, FoldsDotsAndTakesBothSeparators) {
    CwdGuard guard;
    TempDir dir;
    ASSERT_FALSE(SetCurrentDir(dir.path()));
    const std::string cwd = CurrentDir();
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Roads.TAB", cwd + "/Roads.TAB"},
        {"data\\Roads.TAB", cwd + "/data/Roads.TAB"},
        {"..\\x\\.\\Roads.TAB", cwd.substr(0, cwd.rfind('/')) + "/x/Roads.TAB"},
        {"/a/b/../c/", "/a/c/"},
        {"\\a\\b", "/a/b"},
        {"Z:\\tmp\\x.tab", "/tmp/x.tab"},
        {"z:/tmp/../x.tab", "/x.tab"},
        {"/..", "/"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpandFileName(c.in), c.out) << c.in;
}

TEST(ExpandFileName, DrivesAndSharesGoThroughTheDriveMap) {
    ClearDriveMappings();
    SetDriveMapping("C", "/mnt/c/");
    SetDriveMapping("\\\\Server\\Share", "/srv/share");
    EXPECT_EQ(ExpandFileName("C:\\Data\\Roads.tab"), "/mnt/c/Data/Roads.tab");
    EXPECT_EQ(ExpandFileName("c:/Data"), "/mnt/c/Data");
    EXPECT_EQ(ExpandFileName("\\\\server\\SHARE\\maps\\a.tab"), "/srv/share/maps/a.tab");
    // An unmapped drive is a place where no file exists.
    std::string unmapped = ExpandFileName("Q:\\Data\\x.tab");
    EXPECT_FALSE(PathExists(unmapped));
    EXPECT_FALSE(FileExists("Q:\\Data\\x.tab"));
    EXPECT_FALSE(FileExists("\\\\other\\share\\x.tab"));
    ClearDriveMappings();
    EXPECT_EQ(ExpandFileName("C:\\x"), unmapped.substr(0, unmapped.find("/q")) + "/c/x");
    // The environment adds drives for the program and its plugins alike.
    setenv("TALLOMIR_DRIVES", "D=/media/d/; \\\\nas\\maps = /srv/maps", 1);
    ClearDriveMappings();
    EXPECT_EQ(ExpandFileName("d:\\x.tab"), "/media/d/x.tab");
    EXPECT_EQ(ExpandFileName("//NAS/Maps/a/b.tab"), "/srv/maps/a/b.tab");
    unsetenv("TALLOMIR_DRIVES");
    ClearDriveMappings();
    EXPECT_TRUE(IsAbsoluteText("C:x"));
    EXPECT_TRUE(IsAbsoluteText("\\x"));
    EXPECT_FALSE(IsAbsoluteText("x\\y"));
}

TEST(Lookup, IgnoresLetterCaseAndReportsOnDiskNames) {
    TempDir dir;
    WriteText(dir / "Data/Roads.TAB", "header");
    EXPECT_TRUE(FileExists(dir / "data/roads.tab"));
    EXPECT_TRUE(FileExists(dir.path() + "\\DATA\\ROADS.tab"));
    EXPECT_FALSE(FileExists(dir / "data"));  // a folder is not a file
    EXPECT_TRUE(DirectoryExists(dir / "DATA"));
    EXPECT_FALSE(FileExists(dir / "data/roads.dat"));
    EXPECT_EQ(ResolveCase(dir / "DATA/ROADS.TAB"), dir.path() + "/Data/Roads.TAB");
    EXPECT_EQ(FileSize(dir / "data/roads.tab"), 6u);
    // An exact spelling wins over a case-insensitive twin.
    WriteText(dir / "Data/roads.tab", "other!!");
    EXPECT_EQ(ResolveCase(dir / "Data/roads.tab"), dir.path() + "/Data/roads.tab");
}

TEST(Lookup, StatPathGivesSpellingKindSizeAndIdentity) {
    TempDir dir;
    WriteText(dir / "Data/Roads.TAB", "header");
    auto found = StatPath(dir / "DATA/roads.tab");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, dir.path() + "/Data/Roads.TAB");
    EXPECT_EQ(found->size, 6u);
    EXPECT_TRUE(found->isRegularFile);
    EXPECT_FALSE(found->isDirectory);
    auto folder = StatPath(dir / "data");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory);
    EXPECT_FALSE(folder->isRegularFile);
    EXPECT_EQ(folder->size, 0u);
    ASSERT_EQ(::mkfifo((dir / "Data/pipe.tab").c_str(), 0644), 0);
    auto pipe = StatPath(dir / "data/PIPE.TAB");
    ASSERT_TRUE(pipe);
    EXPECT_FALSE(pipe->isRegularFile) << "a pipe must never be read as a file";
    EXPECT_FALSE(pipe->isDirectory);
    EXPECT_FALSE(StatPath(dir / "data/none.tab"));

    // A file put in the place of another is told apart even with the same size and name.
    WriteText(dir / "Data/new.tmp", "HEADER");
    ASSERT_EQ(::rename((dir / "Data/new.tmp").c_str(), (dir / "Data/Roads.TAB").c_str()), 0);
    auto replaced = StatPath(dir / "data/roads.tab");
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->size, found->size);
    EXPECT_NE(replaced->inode, found->inode);
}

TEST(Lookup, ReadFileFindsEveryLetterCaseAndReportsTheMissingFile) {
    TempDir dir;
    WriteText(dir / "Maps/Data/Roads.TAB", "header");
    for (const char* spelling : {"Maps/Data/Roads.TAB", "Maps/Data/roads.tab", "MAPS/DATA/ROADS.TAB"}) {
        auto read = ReadFile(dir / spelling);
        ASSERT_TRUE(read.bytes) << spelling;
        EXPECT_EQ(*read.bytes, "header") << spelling;
    }
    auto missing = ReadFile(dir / "maps/data/rivers.tab");
    EXPECT_FALSE(missing.bytes);
    EXPECT_EQ(missing.error.code, kErrorFileNotFound);
    auto noFolder = ReadFile(dir / "Maps/Data/Roads.TAB/inside");
    EXPECT_FALSE(noFolder.bytes) << "a file used as a folder";
    // Only regular files are read: a pipe without a writer, a device or a folder is refused
    // at once instead of being waited for or read forever.
    ASSERT_EQ(::mkfifo((dir / "Maps/Pipe.WOR").c_str(), 0644), 0);
    for (const std::string& other : {dir / "maps/pipe.wor", std::string("/dev/zero"), dir / "Maps"}) {
        auto refused = ReadFile(other);
        EXPECT_FALSE(refused.bytes) << other;
        EXPECT_EQ(refused.error.code, kErrorAccessDenied) << other;
        EXPECT_FALSE(refused.error.message.empty()) << other;
    }
}

// A folder this program fills is not listed again after each change it makes, yet every
// lookup sees its own changes, and another program's later changes too.
TEST(Lookup, OwnChangesKeepTheListingTrueAndOthersAreSeen) {
    TempDir dir;
    const std::string folder = dir / "TABLES";
    ASSERT_FALSE(CreateDir(folder));
    EXPECT_FALSE(ResolveCase(folder + "/roads.tab"));  // lists the folder
    ASSERT_FALSE(WriteFile(folder + "/Roads.tab", "stub"));
    ASSERT_FALSE(CopyFile(folder + "/Roads.tab", folder + "/Lots.tab"));
    ASSERT_FALSE(CreateDir(folder + "/DATA"));
    EXPECT_EQ(ResolveCase(folder + "/ROADS.TAB"), folder + "/Roads.tab");
    EXPECT_EQ(ResolveCase(folder + "/lots.TAB"), folder + "/Lots.tab");
    EXPECT_EQ(ResolveCase(folder + "/data"), folder + "/DATA");
    ASSERT_FALSE(DeleteFile(folder + "/roads.TAB"));
    ASSERT_FALSE(RemoveDir(folder + "/data"));
    EXPECT_FALSE(ResolveCase(folder + "/ROADS.TAB"));
    EXPECT_FALSE(ResolveCase(folder + "/Data"));
    EXPECT_EQ(FindFiles(folder, "*.tab").size(), 1u);
    // Another program's change, a clock tick later, is seen.
    ::usleep(20000);
    WriteText(folder + "/Wells.TAB", "theirs");
    EXPECT_EQ(ResolveCase(folder + "/wells.tab"), folder + "/Wells.TAB");
}

TEST(FindFiles, MatchesWildcardsWithoutCaseAndListsEverything) {
    TempDir dir;
    WriteText(dir / "Roads.TAB", "1");
    WriteText(dir / "ROADS.dat", "12345");
    WriteText(dir / "roads.Map", std::string(70000, 'm'));
    WriteText(dir / ".roads.hidden", "");
    WriteText(dir / "Roads2.tab", "x");
    ASSERT_EQ(::mkdir((dir / "roads.d").c_str(), 0755), 0);
    std::map<std::string, DirEntry> found;
    for (auto& e : FindFiles(dir / "", "roads.*")) found[e.name] = e;
    ASSERT_EQ(found.size(), 4u);  // Roads2.tab and .roads.hidden do not match "roads.*"
    EXPECT_EQ(found["ROADS.dat"].size, 5u);
    EXPECT_EQ(found["roads.Map"].size, 70000u);
    EXPECT_TRUE(found["roads.d"].isDirectory);
    auto hidden = FindFiles(dir.path(), ".ROADS.*");
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_TRUE(hidden[0].isHidden);
    EXPECT_EQ(FindFiles(dir.path(), "*").size(), 6u);
    EXPECT_TRUE(FindFiles(dir / "missing", "*").empty());
}

TEST(CopyFile, KeepsModeAndTimesAndOverwrites) {
    TempDir dir;
    std::string src = dir / "src.dat", dst = dir / "dst.dat";
    WriteText(src, std::string(300000, 'a'));
    WriteText(dst, "newer but replaced");
    ASSERT_EQ(::chmod(src.c_str(), 0640), 0);
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
    ASSERT_FALSE(CopyFile(src, dst));
    EXPECT_EQ(ReadText(dst), std::string(300000, 'a'));
    struct stat st;
    ASSERT_EQ(::stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    // A read-only source gives a read-only copy.
    ASSERT_EQ(::chmod(src.c_str(), 0444), 0);
    std::string dst2 = dir / "dst2.dat";
    ASSERT_FALSE(CopyFile(src, dst2));
    EXPECT_EQ(GetFileAttributes(dst2) & kAttrReadOnly, kAttrReadOnly);
    ASSERT_FALSE(SetFileAttributes(dst2, 0));
    EXPECT_EQ(GetFileAttributes(dst2) & kAttrReadOnly, 0);
}

TEST(CopyFile, ReplacesWhateverSpellingExistsAndLeavesNothingOfTheOldBytes) {
    TempDir dir;
    WriteText(dir / "Data/Roads.DAT", "short");
    WriteText(dir / "Target/roads.dat", std::string(100000, 'x'));
    // source and destination named in other letter cases: the existing files are used
    ASSERT_FALSE(CopyFile(dir / "DATA/roads.dat", dir / "target/ROADS.DAT"));
    EXPECT_EQ(ReadText(dir / "Target/roads.dat"), "short") << "a longer old file is cut to the new length";
    EXPECT_EQ(FindFiles(dir / "Target", "*").size(), 1u) << "no second spelling made beside it";
    // a new destination, and again over the copy just made
    ASSERT_FALSE(CopyFile(dir / "Data/Roads.DAT", dir / "Target/New.DAT"));
    ASSERT_FALSE(CopyFile(dir / "Data/Roads.DAT", dir / "Target/New.DAT"));
    EXPECT_EQ(ReadText(dir / "Target/New.DAT"), "short");
    // a destination promised new but there after all is replaced as usual, and a read-only
    // source copied as writable gives a copy that can be written
    WriteText(dir / "Target/roads.dat", std::string(100000, 'x'));
    ASSERT_EQ(::chmod((dir / "Data/Roads.DAT").c_str(), 0444), 0);
    CopyOptions options;
    options.newDestination = true;
    options.writable = true;
    ASSERT_FALSE(CopyFile(dir / "Data/Roads.DAT", dir / "Target/roads.dat", options));
    EXPECT_TRUE(ReadText(dir / "Target/roads.dat") == "short");
    EXPECT_EQ(FindFiles(dir / "Target", "roads.*").size(), 1u);
    EXPECT_EQ(GetFileAttributes(dir / "Target/roads.dat") & kAttrReadOnly, 0);
    // clearing a read-only flag that is not set changes nothing and succeeds
    const int before = GetFileAttributes(dir / "Target/New.DAT");
    ASSERT_FALSE(SetFileAttributes(dir / "target/new.dat", before & ~kAttrReadOnly));
    EXPECT_EQ(GetFileAttributes(dir / "Target/New.DAT"), before);
}

// A POSIX record lock held on another open file of the same file (as another program
// would hold one); released when the file is closed.
struct RecordLock {
    int fd;
    RecordLock(const std::string& path, short type) : fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        struct flock lock {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    }
    ~RecordLock() { ::close(fd); }
};

TEST(CopyFile, RecordLocksOfOtherProgramsAreRespected) {
    TempDir dir;
    const std::string src = dir / "src.dat", dst = dir / "dst.dat";
    WriteText(src, "new");
    {
        RecordLock reader(src, F_RDLCK);  // readers share
        ASSERT_FALSE(CopyFile(src, dst));
    }
    {
        RecordLock writer(src, F_WRLCK);  // a file being written is in use
        EXPECT_EQ(CopyFile(src, dir / "other.dat").code, kErrorSharingViolation);
        EXPECT_FALSE(testing_support::Exists(dir / "other.dat"));
    }
    WriteText(dst, "kept");
    {
        RecordLock reader(dst, F_RDLCK);  // a destination another program reads is not replaced
        EXPECT_EQ(CopyFile(src, dst).code, kErrorSharingViolation);
        EXPECT_EQ(ReadText(dst), "kept");
    }
    ASSERT_FALSE(CopyFile(src, dst));
    EXPECT_EQ(ReadText(dst), "new");
}

TEST(CopyFile, FailuresCarryCodeAndDescription) {
    TempDir dir;
    std::string src = dir / "src.dat", ro = dir / "ro.dat";
    WriteText(src, "new");
    WriteText(ro, "old");
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    SysError err = CopyFile(src, ro);
    EXPECT_EQ(err.code, kErrorAccessDenied);
    EXPECT_FALSE(err.message.empty());
    EXPECT_EQ(ReadText(ro), "old");

    err = CopyFile(dir / "missing.dat", dir / "out.dat");
    EXPECT_EQ(err.code, kErrorFileNotFound);
    EXPECT_FALSE(testing_support::Exists(dir / "out.dat"));

    err = CopyFile(src, dir / "no/such/folder/out.dat");
    EXPECT_TRUE(err);
    EXPECT_FALSE(err.message.empty());
}

TEST(CopyFile, PipesAndDevicesAtEitherEndAreRefusedWithoutWaiting) {
    TempDir dir;
    WriteText(dir / "file.dat", "bytes");
    ASSERT_EQ(::mkfifo((dir / "pipe.dat").c_str(), 0644), 0);
    const struct {
        const char* what;
        std::string source, dest;
    } rows[] = {
        {"a pipe as the source", dir / "pipe.dat", dir / "new.dat"},
        {"a device as the source", "/dev/zero", dir / "new.dat"},
        {"a pipe as the destination", dir / "file.dat", dir / "PIPE.DAT"},
    };
    for (const auto& r : rows) {
        // (in a child with a time limit: a copy that waits on the pipe would wait for ever)
        auto outcome = testing_support::FinishedWithin(10, [&] {
            SysError err = CopyFile(r.source, r.dest);
            return std::to_string(err.code) + " " + err.message;
        });
        EXPECT_EQ(outcome, std::to_string(kErrorAccessDenied) + " Not a regular file") << r.what;
        EXPECT_FALSE(testing_support::Exists(dir / "new.dat")) << r.what;
        struct stat st {};
        EXPECT_TRUE(::lstat((dir / "pipe.dat").c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << r.what;
    }
}

// A copy with a digest hands larger files to another thread in pieces: the digest must still
// be the source's, byte for byte in order, at every size around the pieces; a write failing
// part-way leaves no copy behind and the next copy digests right again.
TEST(CopyFile, DigestIsTheSourcesAtEverySizeAndAFailedCopyLeavesNothing) {
    TempDir dir;
    std::string bytes;
    for (unsigned i = 0; bytes.size() < (std::size_t(5) << 20) + 4321; ++i) bytes += std::to_string(i * 7919u) + ',';
    const std::string src = dir / "src.dat", dst = dir / "dst.dat";
    for (std::size_t size : {0, 1000, 65536, 262143, 262144, 262145, 1 << 20, (1 << 20) + 1, int(bytes.size())}) {
        const std::string content = bytes.substr(0, size);
        WriteText(src, content);
        Sha256 hash;
        ASSERT_FALSE(CopyFile(src, dst, &hash)) << size;
        EXPECT_EQ(hash.HexDigest(), Sha256Hex(content)) << size;
        EXPECT_TRUE(ReadText(dst) == content) << size;
    }
    // (files may grow to 600 KB meanwhile: the write that would pass it fails)
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 600 * 1024;
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    Sha256 failed;
    const SysError err = CopyFile(src, dir / "cut.dat", &failed);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(err);
    EXPECT_FALSE(testing_support::Exists(dir / "cut.dat"));
    Sha256 again;
    ASSERT_FALSE(CopyFile(src, dst, &again));
    EXPECT_EQ(again.HexDigest(), Sha256Hex(bytes));
}

TEST(FileChanges, FoldersDeleteRenameAndVolume) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir / "a/b/c"));
    EXPECT_TRUE(ForceDirectories(dir / "A/B/c/d"));  // existing parents found without case
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c/d"));
    EXPECT_EQ(CreateDir(dir / "a").code, kErrorAlreadyExists);
    WriteText(dir / "a/f.txt", "x");
    EXPECT_TRUE(RemoveDir(dir / "a"));  // not empty
    EXPECT_FALSE(RenameFile(dir / "A/F.TXT", dir / "a/g.txt"));
    EXPECT_FALSE(FileExists(dir / "a/f.txt"));
    EXPECT_FALSE(DeleteFile(dir / "a/G.txt"));
    EXPECT_EQ(DeleteFile(dir / "a/g.txt").code, kErrorFileNotFound);
    EXPECT_FALSE(RemoveDir(dir / "a/b/c/d"));
    EXPECT_EQ(GetFileAttributes(dir / "a/b") & kAttrDirectory, kAttrDirectory);
    EXPECT_EQ(GetFileAttributes(dir / "nothing"), -1);

    auto vol = GetVolumeInfo(dir / "not/yet/made");
    ASSERT_TRUE(vol.has_value());
    EXPECT_GT(vol->totalBytes, 0u);
    EXPECT_LE(vol->freeBytes, vol->totalBytes);
    EXPECT_FALSE(vol->root.empty());
}

TEST(FileChanges, ReadAndWriteWholeFiles) {
    TempDir dir;
    std::string bytes("a\r\nb\0c", 6);
    ASSERT_FALSE(WriteFile(dir / "x.bin", bytes));
    auto back = ReadFile(dir / "X.BIN");
    ASSERT_TRUE(back.bytes);
    EXPECT_EQ(*back.bytes, bytes);
    auto missing = ReadFile(dir / "y.bin");
    EXPECT_FALSE(missing.bytes);
    EXPECT_EQ(missing.error.code, kErrorFileNotFound);
}

}  // namespace

namespace {

TEST(FileChanges, TrashIsMadeWhenMissingAndNothingLandsInTheCurrentFolder) {
    CwdGuard guard;
    TempDir dir;
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", (dir / "data-home").c_str(), 1);  // does not exist yet
    WriteText(dir / "work/Out.zip", "archive");
    ASSERT_FALSE(SetCurrentDir(dir / "work"));
    EXPECT_FALSE(MoveToTrash(dir / "work/OUT.ZIP"));
    EXPECT_FALSE(testing_support::Exists(dir / "work/Out.zip"));
    EXPECT_FALSE(testing_support::Exists(dir / "work/files"));
    EXPECT_EQ(FindFiles(dir / "data-home/Trash/files", "*").size(), 1u);
    if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
}

}  // namespace
