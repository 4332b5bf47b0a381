#pragma once
// What a package holds, for the people who make it and those who receive it: the manifest
// (a JSON document, see docs/manifest.schema.json) and the plan table of a dry run, both
// made from the record of a copy run.
#include <string>

#include "analysis/CopyFormState.h"
#include "copyrun/CopyRun.h"

namespace copyrun {

// The manifest of the run whose record is `record` on `state` (planned: a dry run). Paths
// of copies are given relative to the target folder with '/'; texts are UTF-8.
std::string ManifestJson(const analysis::CopyFormState& state, const RunRecord& record, bool planned);

// The plan as a table for the console: one line per file with what would happen to it and
// where it would go, then the disk space and the notes the run would give.
std::string PlanTable(const analysis::CopyFormState& state, const RunRecord& record);

// A text of the program's (a path, a note) in UTF-8: kept when it is UTF-8 already, taken
// as Windows-1252, the character set MapInfo writes where none is named, otherwise.
std::string ToUtf8(const std::string& text);
// A text taken from a workspace or header written in `charset` (MapInfo's name, such as
// "WindowsLatin2" or "UTF-8"; empty or unknown: Windows-1252) in UTF-8.
std::string ToUtf8(const std::string& text, const std::string& charset);
// The SHA-256 of a file as it lies on disk now, read piece by piece; empty when it cannot
// be read. For the files the run writes itself or changes after copying, and the check.
std::string Sha256OfFile(const std::string& path);

// The character set a workspace or header names on its "!Charset" line; empty without one.
std::string NamedCharset(const std::string& text);

}  // namespace copyrun
