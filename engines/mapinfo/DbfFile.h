#pragma once
// The attribute file (.DAT) of a native table: a dBase III file as MapInfo writes it.
// Header: version, date, record count, header length, record length, then 32-byte field
// descriptors ended by 0x0D. Each record starts with a flag byte ('*' = deleted) and holds
// the fields at fixed offsets. Records are read on demand, so a large table costs nothing
// to open; changes are written by Commit into a new file that replaces the old one.
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace mapinfo {

struct DbfField {
    std::string name;  // as stored (at most 10 characters)
    // dBase type letter as stored (C, N, F, L, D, ...); the engine replaces it with the
    // type the table header declares: C char, I/S/J binary integers, B binary float.
    char type = 'C';
    std::size_t offset = 0;  // within the record, after the flag byte
    std::size_t width = 0;
    int decimals = 0;
};

struct DbfLayout {
    std::uint32_t recordCount = 0;
    std::uint32_t headerLength = 0;
    std::uint32_t recordLength = 0;  // flag byte included
    std::vector<DbfField> fields;
};

// Checks and decodes a .DAT header. `bytes` holds at least the file's first headerLength
// bytes (more is fine); `fileSize` is the size of the whole file, so a record count that
// the file cannot hold is refused. Throws MapInfoError naming `what` for a damaged file.
DbfLayout ParseDbfHeader(std::string_view bytes, std::uint64_t fileSize, const std::string& what);

class DbfFile {
public:
    // Opens a file and checks its header; throws MapInfoError. `knownSize` is the file's
    // size when the caller has just read it, which saves asking the file again.
    static std::unique_ptr<DbfFile> Open(const std::string& path, std::optional<std::uint64_t> knownSize = {});
    // The same for a file the caller has opened for reading, with the size its opening found.
    static std::unique_ptr<DbfFile> Open(const std::string& path, platform::File file, std::uint64_t size);
    // A file held in memory (no Commit); throws MapInfoError.
    static std::unique_ptr<DbfFile> FromBytes(std::string bytes);

    const DbfLayout& Layout() const { return m_layout; }
    std::uint32_t RecordCount() const { return m_layout.recordCount; }
    const std::string& Path() const { return m_path; }

    // The raw bytes of record n (1-based, flag byte first). Throws MapInfoError.
    std::string ReadRecord(std::uint32_t n);
    static bool IsDeleted(std::string_view record) { return !record.empty() && record[0] == '*'; }
    // The first record after `after` (0 = from the start) that is not deleted; 0 when none.
    std::uint32_t NextLiveRecord(std::uint32_t after);

    // The value of a field of a record as text: character fields lose trailing blanks and
    // NULs; binary integers and floats (I, S, J, B) become decimal text; anything else
    // loses surrounding blanks.
    static std::string FieldText(std::string_view record, const DbfField& field);
    // The record with a character field replaced by `value`, padded with NULs. Throws
    // MapInfoError when the value is wider than the field or the field is not character.
    static std::string WithFieldText(std::string_view record, const DbfField& field, const std::string& value);

    // Writes the file anew with the given records replaced (record number -> bytes): the
    // new file is written beside the old one, flushed to disk and renamed over it, so on
    // any failure the old file stays whole. Throws MapInfoError.
    void Commit(const std::map<std::uint32_t, std::string>& changed);

private:
    DbfFile() = default;
    void Load(std::optional<std::uint64_t> knownSize = {});  // reads and checks the header from m_stream
    // Reads n bytes at `at` through the window; false when the file cannot give them.
    bool ReadAt(std::uint64_t at, char* out, std::size_t n);

    static constexpr std::size_t kWindowBytes = 64 * 1024;

    std::string m_path;  // empty for a file held in memory
    std::unique_ptr<std::istream> m_stream;
    std::uint64_t m_size = 0;
    DbfLayout m_layout;
    std::string m_window;  // bytes of the file from m_windowStart
    std::uint64_t m_windowStart = 0;
};

}  // namespace mapinfo
