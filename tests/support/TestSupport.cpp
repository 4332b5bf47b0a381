#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tallomir-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write access first, so read-only test files do not stay behind.
    for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

void WriteText(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::pair<std::string, std::string>> TreeSnapshot(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string content = ReadText(e.path().string());
        QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Sha256);
        out.emplace_back(fs::relative(e.path(), root).string(), hash.toHex().toStdString());
    }
    std::sort(out.begin(), out.end());
    return out;
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) result.output.append(buf.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveTool(const std::string& tool) { return RunCommand("command -v " + tool + " >/dev/null 2>&1").status == 0; }

namespace {

// Every test program starts with the environment a ctest run would give it, so a test
// binary started by hand behaves the same.
struct TestEnvironment {
    TestEnvironment() {
        setenv("TALLOMIR_BIN_DIR", TALLOMIR_DEFAULT_BIN_DIR, 0);
        setenv("TALLOMIR_TEST_BIN_DIR", TALLOMIR_DEFAULT_TEST_BIN_DIR, 0);
        setenv("TALLOMIR_SOURCE_DIR", TALLOMIR_DEFAULT_SOURCE_DIR, 0);
        setenv("TALLOMIR_AUTOMATION_PATH", TALLOMIR_DEFAULT_AUTOMATION_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // Files the program sends to the desktop's trash land in the build tree, never in the
        // trash of the user who runs the tests.
        setenv("XDG_DATA_HOME", (std::string(TALLOMIR_DEFAULT_TEST_BIN_DIR) + "/../xdg-data").c_str(), 1);
    }
} g_testEnvironment;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}
}  // namespace

std::string BinDir() { return EnvOr("TALLOMIR_BIN_DIR", "build/bin"); }
std::string SourceDir() { return EnvOr("TALLOMIR_SOURCE_DIR", "."); }
std::string TestBinDir() { return EnvOr("TALLOMIR_TEST_BIN_DIR", "build/tests/bin"); }

LockHolder::LockHolder(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        int fd = ::open(path.c_str(), O_RDONLY);
        ::flock(fd, LOCK_EX);
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char c;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
}

LockHolder::~LockHolder() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::optional<std::string> FinishedWithin(int seconds, const std::function<std::string()>& work) {
    int out[2];
    if (::pipe(out) != 0) return std::nullopt;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string text;
        try {
            text = work();
        } catch (const std::exception& e) {
            text = std::string("exception: ") + e.what();
        }
        for (std::size_t done = 0; done < text.size();) {
            ssize_t n = ::write(out[1], text.data() + done, text.size() - done);
            if (n <= 0) ::_exit(1);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (pid > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[4096];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            ended = true;
            break;
        }
    }
    ::close(out[0]);
    if (pid > 0 && !ended) ::kill(pid, SIGKILL);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

std::vector<std::string> RecordingUserInterface::Notes() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == "note") out.push_back(e.text);
    return out;
}

std::vector<std::string> RecordingUserInterface::Kinds() const {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.kind);
    return out;
}

}  // namespace testing_support
