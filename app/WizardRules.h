#pragma once
// The text rules of the wizard window and its settings file, kept apart from the widgets so
// the batch front end can use them too: the zip-name rule, the path field rule,
// the relative "ZipFile" form and the flag rule of the settings file.
#include <string>

namespace app {

// The name used when the zip field is empty.
inline constexpr const char* kDefaultZipName = "Tallomir.zip";

// The extension of a name: from the last dot that follows the last '\', '/' or ':', with
// the dot; "" when there is none.
std::string ZipNameExtension(const std::string& name);

// The name without its extension (see ZipNameExtension), followed by ".zip".
std::string WithZipExtension(const std::string& name);

// The zip-name rule of the wizard's buttons: an empty name becomes "Tallomir.zip"; a name whose extension is not
// exactly ".zip" (case counts) loses its extension, if it has one, and gains ".zip".
// Only a dot in the file-name part is cut, so "C:\my.data\Out" becomes "C:\my.data\Out.zip".
std::string ApplyZipNameRule(const std::string& name);

// The path field rule: leading and trailing blanks and control characters go, then one
// trailing '\' or '/' (only one: "C:\" becomes "C:").
std::string ApplyPathFieldRule(const std::string& text);

// The drive part of a path: "C:" for a drive letter, "\\server\share" for a share (either
// separator), "/" for a path from the host's root, "" for a relative text.
std::string DriveOf(const std::string& path);

// `file` expressed relative to `folder` (the target folder, no trailing separator), as the
// settings file stores "ZipFile": unchanged when the drive parts differ (letter case
// ignored), otherwise one "..\" per folder of `folder` that `file` does not share, then the
// rest of `file`'s folders and its name. Folder names compare without regard to case.
// Separators written are '\' when `folder` holds a '\', else '/'.
std::string RelativeToFolder(const std::string& folder, const std::string& file);

// A flag of the settings file: off exactly when the value is "False" (case counts).
inline bool ProfileFlag(const std::string& value) { return value != "False"; }
inline const char* ProfileFlagText(bool on) { return on ? "True" : "False"; }

// Each CR LF, lone CR or lone LF of `text` becomes one '\n'.
std::string WithNewlines(const std::string& text);
// Each line break of `text` ('\n', CR LF or lone CR) becomes CR LF.
std::string WithCrLf(const std::string& text);

}  // namespace app
