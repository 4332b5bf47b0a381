#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "app/Globals.h"

using testing_support::TempDir;
using testing_support::WriteText;

namespace {

using testing_support::LockHolder;

TEST(FileInUse, AnswersForMissingReadOnlyLockedAndFreeFiles) {
    TempDir dir;
    std::string free = dir / "free.dat", ro = dir / "ro.dat", locked = dir / "locked.dat";
    WriteText(free, "x");
    WriteText(ro, "x");
    WriteText(locked, "x");
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);

    EXPECT_FALSE(app::FileInUse(free));
    EXPECT_FALSE(app::FileInUse(dir / "FREE.DAT"));  // letter case ignored
    EXPECT_TRUE(app::FileInUse(dir / "missing.dat"));
    EXPECT_FALSE(testing_support::Exists(dir / "missing.dat"));  // never creates a file
    EXPECT_TRUE(app::FileInUse(ro));
    EXPECT_TRUE(app::FileInUse(dir.path()));  // a folder is no file to open
    WriteText(dir / "shut/inside.dat", "x");
    ASSERT_EQ(::chmod((dir / "shut").c_str(), 0555), 0);
    EXPECT_TRUE(app::FileInUse(dir / "shut/inside.dat")) << "a writable file in a read-only folder";
    ASSERT_EQ(::chmod((dir / "shut").c_str(), 0755), 0);
    EXPECT_FALSE(app::FileInUse(dir / "shut/inside.dat"));
    {
        LockHolder holder(locked);
        EXPECT_TRUE(app::FileInUse(locked));
    }
    EXPECT_FALSE(app::FileInUse(locked));
    {
        // a POSIX record lock, as programs (Wine's among them) take, held on another open file
        int other = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
        EXPECT_TRUE(app::FileInUse(locked));
        ::close(other);
    }
    EXPECT_FALSE(app::FileInUse(locked));
    // The test itself leaves no lock behind.
    EXPECT_FALSE(app::FileInUse(free));
}

}  // namespace
