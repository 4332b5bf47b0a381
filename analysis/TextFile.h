#pragma once
// Reading and writing the single-byte text files of MapInfo: workspaces and table headers.
#include <string>
#include <vector>

namespace analysis {

// The lines of a text file; a line ends at CR LF, LF or a lone CR, and the line end is not
// part of the line. Throws FileError when the file cannot be read.
std::vector<std::string> ReadLines(const std::string& path);
// Splits text into lines by the same rule.
std::vector<std::string> SplitLines(const std::string& text);
// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace analysis
