#pragma once
// The command a self-extracting archive runs after extracting. In the stored text "|"
// separates the program from its arguments and "><" stands for the folder the files were
// extracted to, so "notepad.exe|><readme.txt" opens the extracted read-me in Notepad.
#include <string>

namespace sfx {

struct Command {
    std::string program;  // empty: nothing to run
    std::string arguments;
};

// `folder` is the extraction folder ending with its separator. An argument that holds
// "><" and, once expanded, a blank is put in double quotes so it stays one argument.
Command ExpandCommandLine(const std::string& text, const std::string& folder);

}  // namespace sfx
