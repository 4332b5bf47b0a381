// The native build of the self-extractor, for tests and scripts on Linux. With -s it asks
// nothing. Without it, every question of the window is asked on standard output and
// answered by one line of standard input (end of input cancels), so the interactive paths
// can be driven by a script.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "SfxStub.h"

namespace {

class ConsoleUI : public sfx::StubUI {
public:
    explicit ConsoleUI(bool silent) : m_silent(silent) {}

    sfx::Answer AskOverwrite(const std::string& path) override {
        std::string line;
        if (!Ask("replace " + path + "? (y)es (n)o (a)ll (s)kip all (c)ancel", line)) return sfx::Answer::Cancel;
        switch (line.empty() ? 'n' : line[0]) {
            case 'y': return sfx::Answer::Yes;
            case 'a': return sfx::Answer::YesToAll;
            case 's': return sfx::Answer::NoToAll;
            case 'c': return sfx::Answer::Cancel;
            default: return sfx::Answer::No;
        }
    }
    void Progress(size_t, size_t, const std::string&) override {}
    bool Cancelled() override { return false; }

    bool Choose(const sfx::SfxArchive& archive, sfx::StubChoice& choice) override {
        std::string line;
        std::printf("caption: %s\n", archive.header.caption.c_str());
        if (!Ask("folder [" + choice.folder + "]", line)) return false;
        if (!line.empty()) choice.folder = line;
        if (!(archive.header.flags & sfx::SfxHideOverwriteBox)) {
            if (!Ask("overwrite (always/never/ask)", line)) return false;
            if (line == "always") choice.overwrite = sfx::Overwrite::Always;
            if (line == "never") choice.overwrite = sfx::Overwrite::Never;
            if (line == "ask") choice.overwrite = sfx::Overwrite::Ask;
        }
        if (archive.header.flags & sfx::SfxAskFiles) {
            for (size_t i = 0; i < archive.entries.size(); ++i) {
                if (!Ask("extract " + archive.entries[i].name + "? (y/n)", line)) return false;
                choice.selected[i] = line != "n";
            }
        }
        return true;
    }
    bool AskCommand(const sfx::SfxArchive&, std::string& command) override {
        std::string line;
        if (!Ask("command [" + command + "] (- for none)", line)) return false;
        if (line == "-") return false;
        if (!line.empty()) command = line;
        return true;
    }
    void ShowError(const std::string&, const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void ShowReport(const std::string&, const std::string& text, bool problems) override {
        std::fprintf(problems ? stderr : stdout, "%s\n", text.c_str());
    }

private:
    bool Ask(const std::string& question, std::string& answer) {
        if (m_silent) return false;
        std::printf("%s: ", question.c_str());
        std::fflush(stdout);
        if (!std::getline(std::cin, answer)) return false;
        return true;
    }
    bool m_silent;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    sfx::StubArgs parsed = sfx::ParseStubArgs(args, true);
    ConsoleUI ui(parsed.silent);
    return sfx::RunStub(parsed, ui);
}
