#pragma once
// Shared helpers of the test programs: temporary folders, file helpers, a user interface
// that records what the core asked of it, and the places of the built tree.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UserInterface.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }  // no trailing '/'
    std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }

private:
    std::string m_path;
};

// Writes `bytes` to `path`, creating parent folders.
void WriteText(const std::string& path, const std::string& bytes);
std::string ReadText(const std::string& path);
bool Exists(const std::string& path);
// Every regular file below `root` with its bytes, as "relative/path" -> content hash.
std::vector<std::pair<std::string, std::string>> TreeSnapshot(const std::string& root);

// Runs a shell command; returns its exit status and what it printed on stdout.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult RunCommand(const std::string& command);
bool HaveTool(const std::string& tool);

// Another process that holds `path` open with an exclusive lock (flock) until destroyed,
// as a program that has the file open would.
class LockHolder {
public:
    explicit LockHolder(const std::string& path);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    int m_pid = -1;
};

// Runs `work` in a child process and hands back the text it returned; nullopt when it did
// not end within `seconds` (the child is then killed) or ended abnormally. Code that would
// wait forever on a pipe or read a device forever fails its test this way, not hang it.
std::optional<std::string> FinishedWithin(int seconds, const std::function<std::string()>& work);

// Where the built programs and the sources are (from the test environment).
std::string BinDir();      // build/bin
std::string SourceDir();   // the repository
std::string TestBinDir();  // build/tests/bin

// Records every call; answers ProgressCancelled from a flag the test controls.
class RecordingUserInterface : public app::UserInterface {
public:
    struct Event {
        std::string kind;  // "note", "begin", "progress", "end", "message", "error", "beep", ...
        std::string text;
        int value = 0;
    };
    std::vector<Event> events;
    bool cancelled = false;
    // Called from ProcessMessages, so a test can act "while the window is open".
    std::function<void()> onProcessMessages;

    std::vector<std::string> Notes() const;
    std::vector<std::string> Kinds() const;

    void ShowNote(const std::string& text) override { events.push_back({"note", text}); }
    void BeginProgress(int maximum) override {
        cancelled = false;
        events.push_back({"begin", "", maximum});
    }
    void SetProgress(int position, const std::string& text) override { events.push_back({"progress", text, position}); }
    void EndProgress() override { events.push_back({"end", ""}); }
    bool ProgressCancelled() const override { return cancelled; }
    void ProcessMessages() override {
        if (onProcessMessages) onProcessMessages();
    }
    void SetHourglass(bool on) override { events.push_back({"hourglass", "", on ? 1 : 0}); }
    void Beep() override { events.push_back({"beep", ""}); }
    void ShowMessage(const std::string& text) override { events.push_back({"message", text}); }
    void ReportError(const std::string& text) override { events.push_back({"error", text}); }
};

// Installs a RecordingUserInterface for the lifetime of the object.
class ScopedRecordingUI : public RecordingUserInterface {
public:
    ScopedRecordingUI() { app::SetUserInterface(this); }
    ~ScopedRecordingUI() override { app::SetUserInterface(nullptr); }
};

}  // namespace testing_support
