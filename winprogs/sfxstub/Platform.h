#pragma once
// The few operating-system services the stub needs, so the same extraction code runs on
// Windows (PlatformWin32.cpp) and natively on Linux for the tests (PlatformPosix.cpp).
// Paths are UTF-8 texts; the separator is the platform's own.
#include <cstdint>
#include <memory>
#include <string>

#include "SfxArchive.h"

namespace sfx::os {

extern const char kSeparator;

std::string SelfPath();                                  // the running executable
std::string FolderOf(const std::string& path);           // with its trailing separator
std::string FullPath(const std::string& path);           // absolute, as the system resolves it
std::string ExpandEnvironment(const std::string& text);  // %NAME% on Windows, as is elsewhere
bool IsAbsolute(const std::string& path);

// The archive to read (the program itself, as a rule). Only a file on a disk opens: a pipe
// or a device is refused at once, never waited on or read forever.
std::unique_ptr<ByteSource> OpenSource(const std::string& path, std::string& error);

enum class Kind { Missing, File, Folder, Link, Other };
Kind KindOf(const std::string& path);  // never follows a link
// Creates the folder and its missing parents (the chosen extraction folder); "" on success.
std::string CreateFolders(const std::string& path);
// Creates one folder; "" on success.
std::string CreateFolder(const std::string& path);
bool SameFile(const std::string& a, const std::string& b);
bool FreeSpace(const std::string& folder, uint64_t& bytes);

// A new file written beside its target and moved over it once complete, so a damaged
// entry never destroys the file it would have replaced.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::string Create(const std::string& target);  // "" on success
    bool Write(const uint8_t* data, size_t count);
    // Sets the time and attributes of the entry, closes, and moves into place; "" on success.
    std::string Commit(const ZipEntry& entry);
    void Discard();  // closes and removes the partial file

private:
    std::string m_target, m_temp;
    intptr_t m_handle = -1;
};

// Converts an entry name component to the platform's text (OEM code page or UTF-8 bytes).
std::string EntryNameToPath(const std::string& name, bool utf8);

// Starts `program` with `arguments` in `folder`; "" on success.
std::string RunProgram(const std::string& program, const std::string& arguments, const std::string& folder);

}  // namespace sfx::os
