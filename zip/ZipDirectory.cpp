// Reading an archive's directory: the end record, the central directory, the drive check
// and the conversion of names stored in the OEM character set.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

#include "common/ByteCursor.h"
#include "common/Zip64.h"
#include "platform/File.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipArchiverPrivate.h"
#include "zip/ZipMessages.h"

namespace zip {

using common::ByteCursor;
using detail::kCentralHeaderLength;
using detail::kEndRecordLength;
namespace ziprec = common::ziprec;

namespace {

constexpr std::int64_t kLargestTail = static_cast<std::int64_t>(ziprec::kMaxCommentSize) + kEndRecordLength;
constexpr std::int64_t kLocatorLength = static_cast<std::int64_t>(ziprec::zip64locator::kSize);
constexpr std::int64_t kZip64EndLength = static_cast<std::int64_t>(ziprec::zip64end::kFixedSize);
// The most extensible data a 64-bit end record may carry here; writers put none.
constexpr std::uint64_t kLargestZip64Extension = 64 * 1024;

// Code page 437 bytes 0x80-0xFF in Windows-1252; characters 1252 lacks take a look-alike.
constexpr unsigned char kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5, 0xC9, 0xE6, 0xC6,
    0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83, 0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1,
    0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, 0x5F, 0x5F, 0x5F, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2D, 0x2B, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2D,
    0x2B, 0x3D, 0x2B, 0x2D, 0x2D, 0x2D, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x5F, 0x5F, 0x5F, 0x5F,
    0x5F, 0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74, 0x46, 0x54, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E, 0x3D, 0xB1,
    0x3D, 0x3D, 0x28, 0x29, 0xF7, 0x3D, 0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0x5F, 0xA0,
};

std::string ReadText(detail::BlockReader& file, std::int64_t length, int shortError) {
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0 && file.Read(text.data(), length) != length) throw EZipArchiver(shortError, true);
    return text;
}

// True when a stored offset names the real position `real` (which is negative when the
// records place it before the file's start).
bool SameOffset(std::uint64_t stored, std::int64_t real) {
    return real >= 0 && stored == static_cast<std::uint64_t>(real);
}

ZipEndRecord ParseEndRecord(const unsigned char* p) {
    ZipEndRecord end;
    ByteCursor c(p, kEndRecordLength);
    c.Skip(4);  // the signature, checked by the caller
    end.ThisDiskNo = c.U16LE();
    end.CentralDiskNo = c.U16LE();
    end.EntriesThisDisk = c.U16LE();
    end.TotalEntries = c.U16LE();
    end.CentralSize = c.U32LE();
    end.CentralOffset = c.U32LE();
    end.CommentLen = c.U16LE();
    end.Raw.assign(reinterpret_cast<const char*>(p), kEndRecordLength);
    return end;
}

}  // namespace

std::string OemToAnsi(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x80) c = static_cast<char>(kOemToAnsi[b - 0x80]);
    }
    return out;
}

// ---- directory --------------------------------------------------------------------------

void TZipArchiver::ClearDirectory() { m_entries.clear(); }

std::string TZipArchiver::ConvertName(const std::string& raw, std::uint16_t madeBy) const {
    const int version = madeBy & 0xFF;
    const int host = madeBy >> 8;
    const bool oem =
        (CodePage == cpAuto && host == 0) || host == 6 || (host == 11 && version == 50) || CodePage == cpOEM;
    return oem ? OemToAnsi(raw) : raw;
}

bool TZipArchiver::CheckDrive(const std::string& root) {
    m_volumeLabel.clear();
    const bool atRoot = !root.empty() && (root[0] == '\\' || root[0] == '/');
    if (!atRoot) {
        const char letter = root.empty() ? '\0' : pm::UpperAscii(root.substr(0, 1))[0];
        if (letter < 'A' || letter > 'Z') throw EZipArchiver(zmInvalidDrive, root);
        const std::string key(1, static_cast<char>(letter - 'A' + 'a'));
        if (!platform::DriveMappings().count(key)) throw EZipArchiver(zmDriveUnusable, root);
    }
    auto info = platform::GetVolumeInfo(platform::ExpandFileName(root));
    if (!info) return false;
    m_volumeLabel = info->label.substr(0, 255);
    return true;  // a root of this platform always has a known size
}

std::unique_ptr<platform::File> TZipArchiver::ReadEndRecord() {
    m_archiveComment.clear();
    m_endRecordOffset = 0;
    m_zip64EndOffset = -1;
    // Opened without waiting: a pipe or a device at the name is refused at once.
    platform::File::Opened opened = platform::File::Open(detail::HostPath(m_zipFilename), platform::File::Mode::Read);
    if (opened.error) throw EZipArchiver(zmCannotOpenArchive, true);
    auto file = std::make_unique<platform::File>(std::move(opened.file));

    // A disk of a spanned set carries the label "PKBACK# nnn".
    int labelDisk = 0;
    if (m_volumeLabel.rfind("PKBACK# ", 0) == 0) {
        const std::string digits = m_volumeLabel.substr(8, 3);
        if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            labelDisk = std::stoi(digits);
    }
    bool firstDisk = false;
    unsigned char head[8];
    ByteCursor headCursor(head, sizeof head);
    if (file->Read(head, 8) == 8 && headCursor.U32LE() == ziprec::kSpanMarker &&
        headCursor.U32LE() == ziprec::local::kSignature) {
        firstDisk = true;
        m_spanned = true;
    }

    const std::int64_t size = file->Size();
    if (size < 0) throw EZipArchiver(zmEndSeekFailed, true);
    m_physicalSize = size;
    m_archiveSize = size;
    if (size >= kEndRecordLength) {
        unsigned char last[kEndRecordLength];
        if (!file->Seek(size - kEndRecordLength)) throw EZipArchiver(zmEndSeekFailed, true);
        if (file->Read(last, kEndRecordLength) != kEndRecordLength) throw EZipArchiver(zmEndReadFailed, true);
        if (ByteCursor(last, kEndRecordLength).U32LE() == ziprec::end::kSignature) {
            m_endRecord = ParseEndRecord(last);
            m_endRecordOffset = size - kEndRecordLength;
            ReadZip64EndRecord(*file);
            return file;
        }
    }

    // The end record is followed by its comment: search the tail, at most the largest
    // comment plus the record, backwards from the last possible place.
    const std::int64_t n = std::min(kLargestTail, size);
    std::string tail(static_cast<std::size_t>(n), '\0');
    if (!file->Seek(size - n)) throw EZipArchiver(zmEndSeekFailed, true);
    if (file->Read(tail.data(), n) != n) throw EZipArchiver(zmEndReadFailed, true);
    const auto* t = reinterpret_cast<const unsigned char*>(tail.data());
    for (std::int64_t pos = n - kEndRecordLength - 1; pos >= 0; --pos) {
        if (ByteCursor(t + pos, 4).U32LE() != ziprec::end::kSignature) continue;
        m_endRecord = ParseEndRecord(t + pos);
        m_endRecordOffset = size - n + pos;
        const std::int64_t commentStart = pos + kEndRecordLength;
        const std::int64_t d = commentStart + m_endRecord.CommentLen - n;
        if (d != 0) {
            m_archiveSize += d;
            // Zero bytes that pad the file to a 512-byte boundary are no cause for a warning.
            const std::int64_t extra = m_physicalSize - m_archiveSize;
            const bool padding = d < 0 && extra < 512 && m_physicalSize % 512 == 0 &&
                                 std::all_of(tail.begin() + (n + d), tail.end(), [](char c) { return c == 0; });
            if (!padding) ShowZipMessage(zmTrailingBytesWarning, "");
        }
        const std::int64_t commentEnd = std::min<std::int64_t>(commentStart + m_endRecord.CommentLen, n);
        std::string comment =
            tail.substr(static_cast<std::size_t>(commentStart), static_cast<std::size_t>(commentEnd - commentStart));
        m_archiveComment = comment.substr(0, comment.find('\0'));
        ReadZip64EndRecord(*file);
        return file;
    }

    if (!firstDisk) {
        if (labelDisk != 0) throw EZipArchiver(zmNoEndRecordDiskN, static_cast<std::int64_t>(labelDisk));
        throw EZipArchiver(zmNoEndRecord, true);
    }
    if (labelDisk == 1) throw EZipArchiver(zmNoEndRecordDisk1, true);
    throw EZipArchiver(zmNoEndRecordSpanned, true);
}

void TZipArchiver::ReadZip64EndRecord(platform::File& file) {
    const std::int64_t locatorAt = m_endRecordOffset - kLocatorLength;
    if (locatorAt < 0) return;
    std::string locatorBytes(static_cast<std::size_t>(kLocatorLength), '\0');
    if (!file.Seek(locatorAt)) throw EZipArchiver(zmEndSeekFailed, true);
    if (file.Read(locatorBytes.data(), kLocatorLength) != kLocatorLength) throw EZipArchiver(zmEndReadFailed, true);
    const std::optional<common::zip64::Locator> locator = common::zip64::ParseLocator(locatorBytes);
    if (!locator) return;
    // A set whose records lie on several disks is not read by this program.
    if (locator->totalDisks > 1) throw EZipArchiver(zmDirReadFailed, true);

    // The record lies just in front of its locator. Writers put no extensible data after its
    // fixed part, so it is looked for there first, and else where the locator says: the
    // stored offset is off by the size of anything put in front of the archive unshifted.
    auto recordAt = [&](std::int64_t at) -> std::optional<common::zip64::EndRecord> {
        if (at < 0 || locatorAt - at < kZip64EndLength) return std::nullopt;
        std::string fixed(static_cast<std::size_t>(kZip64EndLength), '\0');
        if (!file.Seek(at) || file.Read(fixed.data(), kZip64EndLength) != kZip64EndLength) return std::nullopt;
        std::optional<common::zip64::EndRecord> record = common::zip64::ParseEndRecord(fixed);
        if (!record || record->Length() != static_cast<std::uint64_t>(locatorAt - at)) return std::nullopt;
        if (record->Length() - kZip64EndLength > kLargestZip64Extension) return std::nullopt;
        std::string raw(static_cast<std::size_t>(record->Length()), '\0');
        if (!file.Seek(at) || file.Read(raw.data(), locatorAt - at) != locatorAt - at) return std::nullopt;
        m_endRecord.Zip64Raw = std::move(raw);
        m_zip64EndOffset = at;
        return record;
    };
    std::optional<common::zip64::EndRecord> record = recordAt(locatorAt - kZip64EndLength);
    if (!record && locator->endRecordOffset < static_cast<std::uint64_t>(locatorAt))
        record = recordAt(static_cast<std::int64_t>(locator->endRecordOffset));
    if (!record) throw EZipArchiver(zmZip64RecordDamaged, true);
    m_endRecord.LocatorRaw = std::move(locatorBytes);
    m_endRecord.ThisDiskNo = record->thisDisk;
    m_endRecord.CentralDiskNo = record->directoryDisk;
    m_endRecord.EntriesThisDisk = record->entriesHere;
    m_endRecord.TotalEntries = record->entriesTotal;
    m_endRecord.CentralSize = record->directorySize;
    m_endRecord.CentralOffset = record->directoryOffset;
}

namespace detail {

std::int64_t BlockReader::Read(void* buffer, std::int64_t size) {
    if (size < 0) return -1;
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < size) {
        const auto buffered = static_cast<std::int64_t>(m_buffer.size() - m_at);
        if (buffered > 0) {
            const std::int64_t n = std::min(size - done, buffered);
            std::memcpy(out + done, m_buffer.data() + m_at, static_cast<std::size_t>(n));
            m_at += static_cast<std::size_t>(n);
            done += n;
            continue;
        }
        if (size - done >= kBlockSize) {  // a large request goes straight to the file
            const std::int64_t got = m_file.Read(out + done, size - done);
            return done + std::max<std::int64_t>(got, 0);
        }
        m_buffer.resize(static_cast<std::size_t>(kBlockSize));
        const std::int64_t got = m_file.Read(m_buffer.data(), kBlockSize);
        m_buffer.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
        m_at = 0;
        if (got <= 0) break;
    }
    return done;
}

bool BlockReader::Skip(std::int64_t count) {
    if (count < 0) return false;
    const auto buffered = static_cast<std::int64_t>(m_buffer.size() - m_at);
    if (count <= buffered) {
        m_at += static_cast<std::size_t>(count);
        return true;
    }
    m_at = m_buffer.size();
    return m_file.Skip(count - buffered);
}

bool BlockReader::Release() {
    const auto unread = static_cast<std::int64_t>(m_buffer.size() - m_at);
    m_buffer.clear();
    m_at = 0;
    return unread == 0 || m_file.Skip(-unread);
}

}  // namespace detail

void TZipArchiver::ReadDirectoryEntries(detail::BlockReader& file, std::uint64_t count) {
    // Room for as many entries as the directory's extent could hold, made at once.
    const std::int64_t room = std::max<std::int64_t>(m_endRecordOffset - m_centralDirOffset, 0) / kCentralHeaderLength;
    m_entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(room))));
    for (std::uint64_t i = 0; i < count; ++i) {
        unsigned char h[kCentralHeaderLength];
        if (file.Read(h, kCentralHeaderLength) != kCentralHeaderLength) throw EZipArchiver(zmHeaderShort, true);
        ByteCursor c(h, kCentralHeaderLength);
        if (c.U32LE() != ziprec::central::kSignature) throw EZipArchiver(zmHeaderSignature, true);
        ZipDirEntry e;
        e.MadeBy = c.U16LE();
        e.NeededVersion = c.U16LE();
        e.Flag = c.U16LE();
        e.ComprMethod = c.U16LE();
        e.ModifTime = c.U16LE();
        e.ModifDate = c.U16LE();
        e.CRC32 = c.U32LE();
        e.ComprSize = c.U32LE();
        e.UncomprSize = c.U32LE();
        e.FileNameLength = c.U16LE();
        e.ExtraFieldLength = c.U16LE();
        e.FileCommentLen = c.U16LE();
        e.DiskStart = c.U16LE();
        e.IntFileAttrib = c.U16LE();
        e.ExtFileAttrib = c.U32LE();
        e.RelOffLocal = c.U32LE();
        std::string name = ConvertName(ReadText(file, e.FileNameLength, zmNameShort), e.MadeBy);
        std::replace(name.begin(), name.end(), '/', '\\');
        e.FileName = std::move(name);
        ZipDirEntry& kept = m_entries.emplace_back(std::move(e));
        common::zip64::HeaderValues values{kept.UncomprSize, kept.ComprSize, kept.RelOffLocal, kept.DiskStart};
        if (values.AnyMarked()) {
            // The extra field holds the values the header had no room for.
            const std::string extra = ReadText(file, kept.ExtraFieldLength, zmHeaderShort);
            if (!common::zip64::ApplyExtra(extra, values)) throw EZipArchiver(zmZip64RecordDamaged, true);
            kept.UncomprSize = values.uncompressedSize;
            kept.ComprSize = values.compressedSize;
            kept.RelOffLocal = values.localOffset;
            kept.DiskStart = values.disk;
        } else if (!file.Skip(kept.ExtraFieldLength)) {
            throw EZipArchiver(zmDirSeekFailed, true);
        }
        if (kept.FileCommentLen > 0)
            kept.FileComment = ConvertName(ReadText(file, kept.FileCommentLen, zmCommentShort), kept.MadeBy);
        if (kept.RelOffLocal < static_cast<std::uint64_t>(m_archiveOffset))
            m_archiveOffset = static_cast<std::int64_t>(kept.RelOffLocal);
    }
}

void TZipArchiver::ReadDirectory() {
    ClearDirectory();
    m_physicalSize = 0;
    m_centralDirOffset = 0;
    m_archiveOffset = 0;
    m_archiveComment.clear();
    m_spanned = false;
    m_offsetsMismatch = false;
    if (m_zipFilename.empty() || !platform::FileExists(m_zipFilename)) {
        if (OnDirUpdate) OnDirUpdate(*this);
        return;
    }
    {
        detail::Hourglass hourglass;
        std::unique_ptr<platform::File> file;
        bool failed = true;
        try {
            const std::string full = detail::HostPath(m_zipFilename);
            auto volume = platform::GetVolumeInfo(full);
            const std::string root = volume ? volume->root : std::string("/");
            if (!CheckDrive(root)) throw EZipArchiver(zmDriveUnusable, root);
            file = ReadEndRecord();
            const ZipEndRecord end = m_endRecord;
            if (end.ThisDiskNo > 0) m_spanned = true;
            // A set whose directory starts on another disk is not read by this program.
            if (end.CentralDiskNo != end.ThisDiskNo) throw EZipArchiver(zmDirReadFailed, true);
            // The directory lies just in front of the 64-bit end record, or of the end record in
            // an archive without one; where the records say it lies tells a prefix apart.
            if (end.Zip64()) {
                m_centralDirOffset = end.CentralSize > static_cast<std::uint64_t>(m_zip64EndOffset)
                                         ? -1
                                         : m_zip64EndOffset - static_cast<std::int64_t>(end.CentralSize);
            } else {
                m_centralDirOffset =
                    m_archiveSize - static_cast<std::int64_t>(end.CentralSize) - kEndRecordLength - end.CommentLen;
            }
            m_archiveOffset = m_archiveSize == kEndRecordLength ? 0 : m_archiveSize;
            m_offsetsMismatch = !SameOffset(end.CentralOffset, m_centralDirOffset);
            if (m_offsetsMismatch) ShowZipMessage(zmDirOffsetWarning, "");
            if (!file->Seek(m_centralDirOffset)) throw EZipArchiver(zmDirSeekFailed, true);
            detail::BlockReader reader(*file);
            ReadDirectoryEntries(reader, end.TotalEntries);
            // A self-extracting file with shifted offsets reports its stub and header here;
            // an archive behind an unshifted prefix reports the prefix. (Counted unsigned: the
            // stored offset of a damaged archive can be anything.)
            m_archiveOffset =
                static_cast<std::int64_t>(static_cast<std::uint64_t>(m_archiveOffset) +
                                          static_cast<std::uint64_t>(m_centralDirOffset) - end.CentralOffset);
            failed = false;
        } catch (const EZipArchiver& e) {
            ShowExceptionMessage(e);
        } catch (const std::bad_alloc&) {
            ShowZipMessage(zmOutOfMemory, "");
        } catch (...) {
            ShowZipMessage(zmDirReadFailed, "");
        }
        if (failed) {
            m_zipFilename.clear();
            m_archiveOffset = 0;
        }
    }
    if (OnDirUpdate) OnDirUpdate(*this);
}

}  // namespace zip
