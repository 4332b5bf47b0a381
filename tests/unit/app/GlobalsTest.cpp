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

// Another process that holds `path` open with an exclusive lock until destroyed.
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            int fd = ::open(path.c_str(), O_RDWR);
            ::flock(fd, LOCK_EX);
            char c = 'x';
            (void)!::write(ready[1], &c, 1);
            ::pause();
            ::_exit(0);
        }
        char c;
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockHolder() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

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
    {
        LockHolder holder(locked);
        EXPECT_TRUE(app::FileInUse(locked));
    }
    EXPECT_FALSE(app::FileInUse(locked));
    // The test itself leaves no lock behind.
    EXPECT_FALSE(app::FileInUse(free));
}

}  // namespace
