// The temporary archive being written: buffered appends, patches of bytes already written
// (local headers whose sizes become known later), and a sticky error. The file itself is a
// TempFile: unnamed until finished where the file system allows, so a run that dies leaves
// nothing behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TempFile.h"

namespace zipengine {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new file in `folder`; false on failure (see Error()).
    bool CreateIn(const std::string& folder);
    // The file's name: empty until Finish() for a file created unnamed.
    const std::string& Path() const { return m_file.Path(); }
    // The permissions or attributes the finished file is to have; 0 or the system's error.
    int SetMode(uint32_t mode) { return m_file.SetMode(mode); }

    uint64_t Position() const { return m_flushed + m_buffer.size(); }
    void Write(const void* data, size_t size);
    void Write(const std::string& s) { Write(s.data(), s.size()); }
    // Replaces bytes at `position`, which must lie before Position().
    void Patch(uint64_t position, const void* data, size_t size);
    // Drops everything from `position` on; writing goes on there.
    void Truncate(uint64_t position);
    // Flushes, writes to disk, gives the file a unique name in its folder (Path()) and
    // closes it; false when any step so far failed.
    bool Finish();
    // Closes (if open) and deletes the file.
    void Discard() { m_file.Discard(); }
    // After the file was renamed into place: it is no longer ours to delete.
    void Forget() { m_file.Forget(); }

    bool Failed() const { return m_error != 0; }
    int Error() const { return m_error; }

private:
    void Flush();

    TempFile m_file;
    std::vector<unsigned char> m_buffer;
    uint64_t m_flushed = 0;
    int m_error = 0;
};

}  // namespace zipengine
