// The temporary archive being written: buffered appends, patches of bytes already written
// (local headers whose sizes become known later), and a sticky error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipengine {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new file with a unique name in `folder`; false on failure (see Error()).
    bool CreateIn(const std::string& folder);
    const std::string& Path() const { return m_path; }
    int Descriptor() const { return m_fd; }

    uint64_t Position() const { return m_flushed + m_buffer.size(); }
    void Write(const void* data, size_t size);
    void Write(const std::string& s) { Write(s.data(), s.size()); }
    // Replaces bytes at `position`, which must lie before Position().
    void Patch(uint64_t position, const void* data, size_t size);
    // Drops everything from `position` on; writing goes on there.
    void Truncate(uint64_t position);
    // Flushes, writes to disk and closes; false when any step so far failed.
    bool Finish();
    // Closes (if open) and deletes the file.
    void Discard();
    // After the file was renamed into place: it is no longer ours to delete.
    void Forget() { m_path.clear(); }

    bool Failed() const { return m_error != 0; }
    int Error() const { return m_error; }

private:
    void Flush();

    int m_fd = -1;
    std::string m_path;
    std::vector<unsigned char> m_buffer;
    uint64_t m_flushed = 0;
    int m_error = 0;
};

}  // namespace zipengine
