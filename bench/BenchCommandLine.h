#pragma once
// The command line of a benchmark program: "--help" prints its usage, the flags it names are
// taken, any other word that starts with '-' or more words than it takes are refused (so that
// no option is ever taken for a work folder and filled with generated data).
#include <cstdio>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace bench {

struct CommandLine {
    std::vector<std::string> words;  // the positional arguments, in order
    std::set<std::string> flags;     // the flags given
    int exitStatus = -1;             // >= 0: the program ends with this status at once
};

inline CommandLine ParseCommandLine(int argc, char** argv, const char* usage,
                                    std::initializer_list<const char*> knownFlags, std::size_t maxWords) {
    CommandLine line;
    const std::string program = argc > 0 ? argv[0] : "benchmark";
    auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), why.c_str(), usage);
        line.exitStatus = 2;
        return line;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(usage, stdout);
            line.exitStatus = 0;
            return line;
        }
        if (word.size() > 1 && word[0] == '-') {
            bool known = false;
            for (const char* flag : knownFlags) known = known || word == flag;
            if (!known) return refuse("unknown option " + word);
            line.flags.insert(word);
        } else if (line.words.size() == maxWords) {
            return refuse("too many arguments");
        } else {
            line.words.push_back(word);
        }
    }
    return line;
}

}  // namespace bench
