#include "engines/mapinfo/DbfFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/ByteCursor.h"
#include "engines/mapinfo/MapInfoError.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <fcntl.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mapinfo {

using common::ByteCursor;

namespace {

constexpr std::size_t kDescriptorSize = 32;
constexpr char kHeaderEnd = 0x0D;

std::string Trimmed(std::string_view s, bool leading) {
    auto blank = [](char c) { return c == ' ' || c == '\0'; };
    std::size_t end = s.size();
    while (end > 0 && blank(s[end - 1])) --end;
    std::size_t start = 0;
    if (leading)
        while (start < end && blank(s[start])) ++start;
    return std::string(s.substr(start, end - start));
}

std::string Damaged(const std::string& what, const std::string& why) {
    return "The data file " + what + " is damaged: " + why + ".";
}

// A read stream over a file it owns.
class FileStream : public std::istream {
public:
    explicit FileStream(platform::File file, std::optional<std::uint64_t> size = {})
        : std::istream(nullptr), m_file(std::move(file)), m_buffer(m_file, size) {
        rdbuf(&m_buffer);
    }

private:
    platform::File m_file;
    platform::FileReadBuffer m_buffer;
};

// A data file opened for reading, or why it was not: the stream is then a failed one.
struct DataStream {
    std::unique_ptr<std::istream> stream;
    platform::SysError error;
};

// Opens a data file as a regular file only, without waiting: a pipe or a device named as
// one would hold the open up or be read forever.
DataStream OpenDataStream(const std::string& path) {
    platform::File::Opened opened = platform::File::Open(path, platform::File::Mode::Read);
    if (opened.error) {
        auto failed = std::make_unique<std::istringstream>();
        failed->setstate(std::ios::badbit);
        return {std::move(failed), opened.error};
    }
    return {std::make_unique<FileStream>(std::move(opened.file), opened.size), {}};
}

#ifndef _WIN32
// Writes every byte or reports errno.
bool WriteAll(int fd, const char* data, std::size_t n, off_t at) {
    while (n > 0) {
        ssize_t w = ::pwrite(fd, data, n, at);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
        at += w;
    }
    return true;
}
#endif

}  // namespace

DbfLayout ParseDbfHeader(std::string_view bytes, std::uint64_t fileSize, const std::string& what) {
    ByteCursor cur(bytes);
    DbfLayout layout;
    std::uint8_t version = cur.U8();
    cur.Skip(3);  // date of last update, YYMMDD
    layout.recordCount = cur.U32LE();
    layout.headerLength = cur.U16LE();
    layout.recordLength = cur.U16LE();
    cur.Skip(20);
    if (!cur.ok()) throw MapInfoError(Damaged(what, "its header is cut short"));
    // dBase III and its descendants keep the version in the low three bits.
    if ((version & 0x07) != 0x03) throw MapInfoError(Damaged(what, "it is not a dBase file"));
    if (layout.headerLength < kDescriptorSize + 1 || layout.headerLength > fileSize ||
        layout.headerLength > bytes.size())
        throw MapInfoError(Damaged(what, "its header length is impossible"));
    if (layout.recordLength < 1) throw MapInfoError(Damaged(what, "its record length is zero"));

    std::size_t offset = 0;
    bool ended = false;
    while (cur.pos() < layout.headerLength) {
        if (static_cast<char>(bytes[cur.pos()]) == kHeaderEnd) {
            ended = true;
            break;
        }
        if (cur.pos() + kDescriptorSize > layout.headerLength) break;
        ByteCursor desc(cur.Bytes(kDescriptorSize));
        std::string_view raw = desc.Bytes(11);
        DbfField f;
        f.name = std::string(raw.substr(0, std::min(raw.find('\0'), raw.size())));
        f.type = static_cast<char>(desc.U8());
        desc.Skip(4);  // displacement in memory, unused
        f.width = desc.U8();
        f.decimals = desc.U8();
        if (!desc.ok()) throw MapInfoError(Damaged(what, "a field descriptor is cut short"));
        if (f.width == 0) throw MapInfoError(Damaged(what, "field " + f.name + " has no width"));
        f.offset = offset;
        offset += f.width;
        layout.fields.push_back(std::move(f));
    }
    if (!ended) throw MapInfoError(Damaged(what, "its field list has no end mark"));
    if (1 + offset != layout.recordLength)
        throw MapInfoError(Damaged(what, "its record length does not match its fields"));
    std::uint64_t need = std::uint64_t{layout.headerLength} + std::uint64_t{layout.recordCount} * layout.recordLength;
    if (need > fileSize) throw MapInfoError(Damaged(what, "it is shorter than its record count says"));
    return layout;
}

std::unique_ptr<DbfFile> DbfFile::Open(const std::string& path, std::optional<std::uint64_t> knownSize) {
    std::unique_ptr<DbfFile> f(new DbfFile());
    f->m_path = path;
    DataStream opened = OpenDataStream(path);
    if (opened.error) throw MapInfoError("Unable to open the data file " + path + ": " + opened.error.message + ".");
    f->m_stream = std::move(opened.stream);
    f->Load(knownSize);
    return f;
}

std::unique_ptr<DbfFile> DbfFile::Open(const std::string& path, platform::File file, std::uint64_t size) {
    std::unique_ptr<DbfFile> f(new DbfFile());
    f->m_path = path;
    f->m_stream = std::make_unique<FileStream>(std::move(file), size);
    f->Load(size);
    return f;
}

std::unique_ptr<DbfFile> DbfFile::FromBytes(std::string bytes) {
    std::unique_ptr<DbfFile> f(new DbfFile());
    f->m_stream = std::make_unique<std::istringstream>(std::move(bytes));
    f->Load();
    return f;
}

void DbfFile::Load(std::optional<std::uint64_t> knownSize) {
    std::string what = m_path.empty() ? std::string("(memory)") : m_path;
    if (knownSize) {
        m_size = *knownSize;
    } else {
        m_stream->seekg(0, std::ios::end);
        std::streamoff end = m_stream->tellg();
        if (end < 0) throw MapInfoError("Unable to read the data file " + what + ".");
        m_size = static_cast<std::uint64_t>(end);
        m_stream->seekg(0);
    }
    // Only the header is read: its length is the 16-bit value at offset 8 (so never more
    // than 64 KiB); a file too short for the fixed part is judged by what it has.
    std::uint64_t want = std::min<std::uint64_t>(m_size, 32);
    std::string head(static_cast<std::size_t>(want), '\0');
    m_stream->read(head.data(), static_cast<std::streamsize>(head.size()));
    if (!*m_stream) throw MapInfoError("Unable to read the data file " + what + ".");
    if (head.size() == 32) {
        std::uint64_t headerLength = static_cast<unsigned char>(head[8]) | (static_cast<unsigned char>(head[9]) << 8);
        want = std::min<std::uint64_t>(m_size, std::max<std::uint64_t>(headerLength, 32));
        if (want > head.size()) {
            std::size_t have = head.size();
            head.resize(static_cast<std::size_t>(want));
            m_stream->read(head.data() + have, static_cast<std::streamsize>(want - have));
            if (!*m_stream) throw MapInfoError("Unable to read the data file " + what + ".");
        }
    }
    m_layout = ParseDbfHeader(head, m_size, what);
}

bool DbfFile::ReadAt(std::uint64_t at, char* out, std::size_t n) {
    // Rows are read in file order, so a window of the file serves most reads from memory.
    if (at < m_windowStart || at + n > m_windowStart + m_window.size()) {
        if (at + n > m_size) return false;
        std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(kWindowBytes, n), m_size - at));
        m_window.resize(length);
        m_stream->clear();
        m_stream->seekg(static_cast<std::streamoff>(at));
        m_stream->read(m_window.data(), static_cast<std::streamsize>(length));
        if (!*m_stream) {
            m_window.clear();
            return false;
        }
        m_windowStart = at;
    }
    std::memcpy(out, m_window.data() + (at - m_windowStart), n);
    return true;
}

std::string DbfFile::ReadRecord(std::uint32_t n) {
    if (n < 1 || n > m_layout.recordCount) throw MapInfoError("Row " + std::to_string(n) + " does not exist.");
    std::uint64_t at = m_layout.headerLength + std::uint64_t{n - 1} * m_layout.recordLength;
    std::string record(m_layout.recordLength, '\0');
    if (!ReadAt(at, record.data(), record.size()))
        throw MapInfoError("Unable to read row " + std::to_string(n) + " of " + m_path + ".");
    return record;
}

std::uint32_t DbfFile::NextLiveRecord(std::uint32_t after) {
    for (std::uint64_t n = std::uint64_t{after} + 1; n <= m_layout.recordCount; ++n) {
        std::uint64_t at = m_layout.headerLength + (n - 1) * m_layout.recordLength;
        char flag = 0;
        if (!ReadAt(at, &flag, 1))
            throw MapInfoError("Unable to read row " + std::to_string(n) + " of " + m_path + ".");
        if (flag != '*') return static_cast<std::uint32_t>(n);
    }
    return 0;
}

std::string DbfFile::FieldText(std::string_view record, const DbfField& field) {
    if (1 + field.offset + field.width > record.size()) return {};
    std::string_view raw = record.substr(1 + field.offset, field.width);
    ByteCursor c(raw);
    switch (field.type) {
        case 'C': return Trimmed(raw, false);
        // MapInfo keeps Integer, SmallInt, LargeInt and Float columns as little-endian
        // binary values, although the descriptor calls them character fields.
        case 'I':
            if (field.width == 4) return std::to_string(static_cast<std::int32_t>(c.U32LE()));
            break;
        case 'S':
            if (field.width == 2) return std::to_string(static_cast<std::int16_t>(c.U16LE()));
            break;
        case 'J':
            if (field.width == 8) {
                std::uint64_t lo = c.U32LE(), hi = c.U32LE();
                return std::to_string(static_cast<std::int64_t>(lo | (hi << 32)));
            }
            break;
        case 'B':
            if (field.width == 8) {
                std::uint64_t lo = c.U32LE(), hi = c.U32LE();
                std::uint64_t bits = lo | (hi << 32);
                double v;
                std::memcpy(&v, &bits, sizeof v);
                char text[64];
                std::snprintf(text, sizeof text, "%.15g", v);
                return text;
            }
            break;
        default: break;
    }
    return Trimmed(raw, true);
}

std::string DbfFile::WithFieldText(std::string_view record, const DbfField& field, const std::string& value) {
    if (field.type != 'C')
        throw MapInfoError("Column " + field.name + " is not a character column; only text can be stored in it here.");
    if (value.size() > field.width)
        throw MapInfoError("The value \"" + value + "\" is longer than column " + field.name + " (" +
                           std::to_string(field.width) + " characters).");
    if (1 + field.offset + field.width > record.size()) throw MapInfoError("The row is shorter than its columns.");
    std::string out(record);
    // Native tables pad character fields with NULs; readers that do not trim blanks (GDAL's
    // among them) would otherwise see the padding as part of the value.
    std::string padded = value + std::string(field.width - value.size(), '\0');
    out.replace(1 + field.offset, field.width, padded);
    return out;
}

void DbfFile::Commit(const std::map<std::uint32_t, std::string>& changed) {
    if (changed.empty()) return;
    if (m_path.empty()) throw MapInfoError("A table held in memory cannot be saved.");
    for (const auto& [n, record] : changed)
        if (n < 1 || n > m_layout.recordCount || record.size() != m_layout.recordLength)
            throw MapInfoError("Row " + std::to_string(n) + " cannot be saved.");
    int attributes = platform::GetFileAttributes(m_path);
    if (attributes < 0) throw MapInfoError("The data file " + m_path + " has disappeared.");
    if (attributes & platform::kAttrReadOnly) throw MapInfoError("The data file " + m_path + " is read-only.");
    auto onDisk = platform::FileSize(m_path);
    if (!onDisk || *onDisk != m_size)
        throw MapInfoError("The data file " + m_path + " was changed by another program since the table was opened.");

    const std::string temp = m_path + ".commit~";
#ifndef _WIN32
    struct stat st {};
    mode_t mode = ::stat(m_path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw MapInfoError("Unable to save " + m_path + ": " + std::strerror(errno) + ".");
    auto fail = [&](const std::string& why) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw MapInfoError("Unable to save " + m_path + ": " + why + ".");
    };
    std::vector<char> buffer(1 << 20);
    m_stream->clear();
    m_stream->seekg(0);
    std::uint64_t copied = 0;
    while (copied < m_size) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_size - copied));
        m_stream->read(buffer.data(), static_cast<std::streamsize>(n));
        if (!*m_stream) fail("the old file could not be read");
        if (!WriteAll(fd, buffer.data(), n, static_cast<off_t>(copied))) fail(std::strerror(errno));
        copied += n;
    }
    for (const auto& [n, record] : changed) {
        std::uint64_t at = m_layout.headerLength + std::uint64_t{n - 1} * m_layout.recordLength;
        if (!WriteAll(fd, record.data(), record.size(), static_cast<off_t>(at))) fail(std::strerror(errno));
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) fail(std::strerror(errno));
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        throw MapInfoError("Unable to save " + m_path + ": " + std::strerror(errno) + ".");
    }
#else
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        m_stream->clear();
        m_stream->seekg(0);
        out << m_stream->rdbuf();
        for (const auto& [n, record] : changed) {
            out.seekp(
                static_cast<std::streamoff>(m_layout.headerLength + std::uint64_t{n - 1} * m_layout.recordLength));
            out.write(record.data(), static_cast<std::streamsize>(record.size()));
        }
        out.close();
        if (!out) {
            platform::DeleteFile(temp);
            throw MapInfoError("Unable to save " + m_path + ".");
        }
    }
#endif
    // The reader lets go of the old file before it is replaced.
    m_stream.reset();
    m_window.clear();
    platform::SysError err = platform::RenameFile(temp, m_path);
    m_stream = OpenDataStream(m_path).stream;
    if (err) {
        platform::DeleteFile(temp);
        throw MapInfoError("Unable to save " + m_path + ": " + err.message + ".");
    }
    if (!*m_stream) throw MapInfoError("Unable to reopen " + m_path + " after saving it.");
}

}  // namespace mapinfo
