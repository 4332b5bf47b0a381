// Turning an archive into a self-extracting executable: stub, 256-byte header, and the
// archive with its stored offsets moved by the size of the two pieces in front of it.
#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "common/ByteCursor.h"
#include "common/Zip64.h"
#include "platform/File.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipArchiverPrivate.h"
#include "zip/ZipMessages.h"

namespace zip {

using common::ByteCursor;
using common::ByteWriter;
using detail::kCentralHeaderLength;
using detail::kEndRecordLength;
namespace ziprec = common::ziprec;

namespace {

// Blocks are large enough that the copy runs near the disk's speed, small enough that the
// window is let through every few milliseconds.
constexpr std::int64_t kCopyBlockSize = 4 << 20;
constexpr const char* kStubName = "SFXStub.bin";
// The moved central directory goes out in pieces of about this size; the window is let
// through once for this many headers.
constexpr std::size_t kWrittenBlock = 1 << 20;
constexpr std::uint64_t kEntriesBetweenMessages = 1024;

// ConvertToSFX's results.
constexpr std::int32_t kSFXDone = 0;
constexpr std::int32_t kSFXNotCreated = -1;
constexpr std::int32_t kSFXWriteFailed = -2;
constexpr std::int32_t kSFXUnreadable = -3;
constexpr std::int32_t kSFXRefused = -9;

constexpr std::uint64_t kLastPosition = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Adds shift to the 32-bit offset at `at` of a record of `size` bytes; false when the
// result no longer fits 32 bits.
bool ShiftOffset(unsigned char* record, std::size_t size, std::size_t at, std::int64_t shift) {
    ByteCursor in(record, size);
    in.Seek(at);
    const std::int64_t moved = static_cast<std::int64_t>(in.U32LE()) + shift;
    if (!in.ok() || moved < 0 || moved > 0xFFFFFFFFLL) return false;
    ByteWriter out(record, size);
    out.Seek(at);
    out.U32LE(static_cast<std::uint32_t>(moved));
    return out.ok();
}

// A file position moved by shift; nullopt when the result is no file position.
std::optional<std::uint64_t> Moved(std::uint64_t position, std::int64_t shift) {
    if (position > kLastPosition) return std::nullopt;
    const auto from = static_cast<std::int64_t>(position);
    if (shift > 0 && from > std::numeric_limits<std::int64_t>::max() - shift) return std::nullopt;
    if (from + shift < 0) return std::nullopt;
    return static_cast<std::uint64_t>(from + shift);
}

// Writes the 64-bit position `value` at `at` of a record of `size` bytes; false when it
// falls outside the record or there is no value.
bool PutOffset64(unsigned char* record, std::size_t size, std::size_t at, std::optional<std::uint64_t> value) {
    if (!value) return false;
    ByteWriter out(record, size);
    out.Seek(at);
    out.U64LE(*value);
    return out.ok();
}

// Adds shift to the 64-bit offset at `at`; false when it falls outside the record or the
// result is no file position.
bool ShiftOffset64(unsigned char* record, std::size_t size, std::size_t at, std::int64_t shift) {
    ByteCursor in(record, size);
    in.Seek(at);
    const std::uint64_t stored = in.U64LE();
    return in.ok() && PutOffset64(record, size, at, Moved(stored, shift));
}

unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }

// The platform folders of the stub search; this platform has no system or Windows folder.
std::vector<std::string> StubCandidates(const std::string& sfxPath, const std::string& dllDirectory) {
    std::vector<std::string> candidates;
    if (!sfxPath.empty()) candidates.push_back(sfxPath);
    candidates.push_back(kStubName);
    candidates.push_back(platform::ProgramDir() + kStubName);
    if (!dllDirectory.empty()) candidates.push_back(dllDirectory + "\\" + kStubName);
    return candidates;
}

}  // namespace

std::string BuildSFXHeader(SFXOpts options, OvrOpts overwrite, const std::string& caption,
                           const std::string& defaultDir, const std::string& commandLine) {
    std::string header(kSFXHeaderSize, '\0');
    header[0] = 'M';
    header[1] = 'P';
    header[2] = 'U';
    unsigned flags = 0;
    if (options.Contains(SFXAskCmdLine)) flags |= 0x01;
    if (options.Contains(SFXAskFiles)) flags |= 0x02;
    if (options.Contains(SFXHideOverWriteBox)) flags |= 0x04;
    if (overwrite == OvrAlways) flags |= 0x08;
    if (overwrite == OvrNever) flags |= 0x10;
    if (!options.Contains(SFXCheckSize)) flags |= 0x20;
    if (options.Contains(SFXAutoRun)) flags |= 0x40;
    header[3] = static_cast<char>(flags);
    const std::string texts = caption + defaultDir + commandLine;
    if (texts.size() > static_cast<std::size_t>(kSFXTextsMax)) return {};  // the caller refuses first
    header[4] = static_cast<char>(caption.size());
    header[5] = static_cast<char>(defaultDir.size());
    header[6] = static_cast<char>(commandLine.size());
    std::copy(texts.begin(), texts.end(), header.begin() + 7);
    return header;
}

int TZipArchiver::EraseFile(const std::string& name, DeleteOpts mode) {
    std::string path = name;
    if (pm::LastSeparator(name) == pm::npos) path = platform::CurrentDir() + "/" + name;
    if (!platform::FileExists(path)) return -1;
    if (mode == htdAllowUndo) {
        // To the trash; where the desktop offers none, a plain deletion serves.
        if (!platform::MoveToTrash(path)) return 0;
    }
    return platform::DeleteFile(path).code;
}

int TZipArchiver::CopyBlocks(platform::File& source, platform::File& target, std::int64_t count) {
    try {
        // The kernel copies without a trip through user memory where it can (sharing blocks
        // on file systems that offer it); otherwise a buffer carries the blocks.
        for (;;) {
            const std::int64_t block = count >= 0 ? std::min(count, kCopyBlockSize) : kCopyBlockSize;
            const platform::File::CopyResult copied = source.CopyTo(target, static_cast<std::uint64_t>(block));
            if (copied.error) return -2;
            const auto got = static_cast<std::int64_t>(copied.copied);
            if (count > 0) count -= got;
            app::UI().ProcessMessages();
            if (count == 0 || got < block) return 0;
        }
    } catch (...) {
        return -2;
    }
}

int TZipArchiver::WriteCentralDirectory(platform::File& source, platform::File& target, const ZipEndRecord& end,
                                        std::int64_t shift) {
    try {
        // The headers are read in large blocks and written out many at a time.
        detail::BlockReader reader(source);
        std::string written;
        auto flush = [&] {
            if (!written.empty() && target.Write(written.data(), std::int64_t(written.size())))
                throw EZipArchiver(zmWriteHeaderFailed, false);
            written.clear();
        };
        for (std::uint64_t i = 0; i < end.TotalEntries; ++i) {
            unsigned char h[kCentralHeaderLength];
            if (reader.Read(h, kCentralHeaderLength) != kCentralHeaderLength) throw EZipArchiver(zmHeaderShort, false);
            ByteCursor c(h, sizeof h);
            if (c.U32LE() != ziprec::central::kSignature) throw EZipArchiver(zmHeaderSignature, false);
            c.Seek(ziprec::central::kCompressedSizeAt);
            common::zip64::HeaderValues stored;
            stored.compressedSize = c.U32LE();
            stored.uncompressedSize = c.U32LE();
            const std::uint16_t nameLength = c.U16LE(), extraLength = c.U16LE(), commentLength = c.U16LE();
            stored.disk = c.U16LE();
            c.Seek(ziprec::central::kLocalOffsetAt);
            stored.localOffset = c.U32LE();
            // The name, the extra field and the comment follow the fixed part.
            std::string rest(std::size_t(nameLength) + extraLength + commentLength, '\0');
            if (!rest.empty() && reader.Read(rest.data(), std::int64_t(rest.size())) != std::int64_t(rest.size()))
                throw EZipArchiver(zmCopyEntryFailed, false);
            if (stored.localOffset == ziprec::kMarker32) {
                // The offset lies in the 64-bit extra field.
                const auto layout =
                    common::zip64::LocateExtra(std::string_view(rest).substr(nameLength, extraLength), stored);
                if (!layout || !ShiftOffset64(Bytes(rest), rest.size(), nameLength + layout->localOffsetAt, shift))
                    throw EZipArchiver(zmWriteHeaderFailed, false);
            } else if (!ShiftOffset(h, sizeof h, ziprec::central::kLocalOffsetAt, shift)) {
                // A 32-bit offset pushed past 4 GiB would point nowhere: refuse rather than wrap.
                throw EZipArchiver(zmWriteHeaderFailed, false);
            }
            written.append(reinterpret_cast<const char*>(h), kCentralHeaderLength);
            written += rest;
            if (written.size() >= kWrittenBlock) flush();
            if (i % kEntriesBetweenMessages == 0) app::UI().ProcessMessages();
        }
        flush();
        if (!reader.Release()) throw EZipArchiver(zmSkipEndFailed, false);
        if (end.Zip64()) {
            // The 64-bit end record and its locator lie between the directory and the end
            // record; the locator gets the record's new place, which follows the directory.
            if (!source.Skip(std::int64_t(end.Zip64Raw.size() + end.LocatorRaw.size())))
                throw EZipArchiver(zmSkipEndFailed, false);
            std::string record = end.Zip64Raw;
            std::string locator = end.LocatorRaw;
            const bool fits = end.CentralSize <= kLastPosition && end.CentralOffset <= kLastPosition - end.CentralSize;
            const std::optional<std::uint64_t> recordAt =
                fits ? Moved(end.CentralOffset + end.CentralSize, shift) : std::nullopt;
            if (!ShiftOffset64(Bytes(record), record.size(), ziprec::zip64end::kDirectoryOffsetAt, shift) ||
                !PutOffset64(Bytes(locator), locator.size(), ziprec::zip64locator::kEndRecordOffsetAt, recordAt))
                throw EZipArchiver(zmWriteEndFailed, false);
            if (target.Write(record.data(), std::int64_t(record.size())) ||
                target.Write(locator.data(), std::int64_t(locator.size())))
                throw EZipArchiver(zmWriteEndFailed, false);
        }
        if (!source.Skip(kEndRecordLength)) throw EZipArchiver(zmSkipEndFailed, false);
        std::string record = end.Raw;
        if (record.size() != static_cast<std::size_t>(kEndRecordLength)) throw EZipArchiver(zmWriteEndFailed, false);
        auto* r = Bytes(record);
        ByteCursor stored(r, record.size());
        stored.Seek(ziprec::end::kDirectoryOffsetAt);
        const bool marked = stored.U32LE() == ziprec::kMarker32;
        if (marked || !ShiftOffset(r, record.size(), ziprec::end::kDirectoryOffsetAt, shift)) {
            // Beside a 64-bit end record the marker says the offset lies there, so a marker
            // stays and an offset that no longer fits 32 bits becomes one; without it, such an
            // offset would point nowhere.
            if (!end.Zip64()) throw EZipArchiver(zmWriteEndFailed, false);
            ByteWriter w(r, record.size());
            w.Seek(ziprec::end::kDirectoryOffsetAt);
            w.U32LE(ziprec::kMarker32);
        }
        if (target.Write(r, kEndRecordLength)) throw EZipArchiver(zmWriteEndFailed, false);
        if (end.CommentLen > 0 && CopyBlocks(source, target, end.CommentLen) != 0)
            throw EZipArchiver(zmCopyCommentFailed, false);
        return 0;
    } catch (...) {
        return -2;
    }
}

// Copies the stub to `out`: the result and the stub's size.
TZipArchiver::SFXPart TZipArchiver::CopyStub(platform::File& out, const std::string& stubPath) {
    platform::File::Opened stub = platform::File::Open(detail::HostPath(stubPath), platform::File::Mode::Read);
    if (stub.error) return {kSFXUnreadable, -1};
    const std::int32_t result = CopyBlocks(stub.file, out, -1) != 0 ? kSFXWriteFailed : kSFXDone;
    return {result, stub.file.Size()};
}

// The archive of a new self-extractor: an empty end record whose directory offset counts
// the stub and header in front of it, so the engine adds to a file that already carries them.
TZipArchiver::SFXPart TZipArchiver::WriteEmptyArchive(platform::File& out, std::int64_t shift) {
    if (shift > 0xFFFFFFFFLL) return {kSFXWriteFailed, -1};
    unsigned char end[kEndRecordLength] = {};
    ByteWriter w(end, sizeof end);
    w.U32LE(ziprec::end::kSignature);
    w.Seek(ziprec::end::kDirectoryOffsetAt);
    w.U32LE(static_cast<std::uint32_t>(shift));
    if (out.Write(end, kEndRecordLength)) return {kSFXWriteFailed, -1};
    return {kSFXDone, kEndRecordLength};
}

std::string TZipArchiver::SFXStubForRequest() {
    const std::size_t total = SFXCaption.size() + SFXDefaultDir.size() + SFXCommandLine.size();
    if (total > static_cast<std::size_t>(kSFXTextsMax)) {
        ShowZipMessage(zmSFXTextsTooLong, "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = " + std::to_string(total));
        return {};
    }
    for (const std::string& candidate : StubCandidates(SFXPath, m_dllDirectory)) {
        if (platform::FileExists(candidate)) {
            SFXPath = candidate;
            return candidate;
        }
    }
    ShowZipMessage(zmNoStub, "");
    SFXPath.clear();
    return {};
}

TZipArchiver::SFXPart TZipArchiver::CopyArchiveShifted(platform::File& out, std::int64_t shift) {
    try {
        std::unique_ptr<platform::File> archive = ReadEndRecord();
        const ZipEndRecord end = m_endRecord;
        if (!archive->Seek(0)) throw EZipArchiver(zmEndSeekFailed, false);
        if (m_offsetsMismatch) {
            // Offsets already off: the file goes over unchanged.
            return {CopyBlocks(*archive, out, -1) != 0 ? kSFXWriteFailed : kSFXDone, m_physicalSize};
        }
        if (end.CentralOffset > kLastPosition) throw EZipArchiver(zmDirSeekFailed, false);
        std::int32_t result =
            CopyBlocks(*archive, out, static_cast<std::int64_t>(end.CentralOffset)) != 0 ? kSFXWriteFailed : kSFXDone;
        if (result == kSFXDone) result = WriteCentralDirectory(*archive, out, end, shift);
        return {result, m_archiveSize};
    } catch (...) {
        return {kSFXUnreadable, -1};
    }
}

TZipArchiver::SFXWritten TZipArchiver::WriteSFX(const std::string& outName, const std::string& stubPath,
                                                const std::function<SFXPart(platform::File&, std::int64_t)>& archive) {
    if (platform::FileExists(outName)) EraseFile(outName, HowToDelete);
    SFXWritten w;
    // Every file opens without waiting: a pipe or a device at a name is refused at once.
    platform::File::Opened opened = platform::File::Open(detail::HostPath(outName), platform::File::Mode::Replace);
    if (opened.error) {
        w.result = kSFXNotCreated;
        return w;
    }
    platform::File& out = opened.file;
    const SFXPart stub = CopyStub(out, stubPath);
    w.result = stub.result;
    w.stubSize = stub.size;
    const std::string header = BuildSFXHeader(SFXOptions, SFXOverWriteMode, SFXCaption, SFXDefaultDir, SFXCommandLine);
    if (w.result == kSFXDone && out.Write(header.data(), kSFXHeaderSize)) w.result = kSFXWriteFailed;
    if (w.result == kSFXDone) {
        const SFXPart part = archive(out, w.stubSize + kSFXHeaderSize);
        w.result = part.result;
        w.archiveSize = part.size;
    }
    w.outSize = out.Size();
    if (out.Close() && w.result == kSFXDone) w.result = kSFXWriteFailed;
    return w;
}

std::int32_t TZipArchiver::CreateSFXShell() {
    const std::string stubPath = SFXStubForRequest();
    if (stubPath.empty()) return kSFXRefused;
    detail::Hourglass hourglass;
    const SFXWritten w = WriteSFX(m_zipFilename, stubPath, WriteEmptyArchive);
    if (w.result != kSFXDone && w.result != kSFXNotCreated) platform::DeleteFile(detail::HostPath(m_zipFilename));
    return w.result;
}

std::int32_t TZipArchiver::ConvertToSFX() {
    if (m_zipFilename.empty() || !platform::FileExists(m_zipFilename)) {
        ShowZipMessage(zmNoArchive, "");
        return kSFXRefused;
    }
    const std::string stubPath = SFXStubForRequest();
    if (stubPath.empty()) return kSFXRefused;
    detail::Hourglass hourglass;
    if (detail::UpperExtension(m_zipFilename) != ".ZIP") {
        ShowZipMessage(zmNotZipName, "");
        return kSFXRefused;
    }
    const std::string outName = pm::WithoutExtension(m_zipFilename) + ".exe";
    const SFXWritten w = WriteSFX(
        outName, stubPath, [this](platform::File& out, std::int64_t shift) { return CopyArchiveShifted(out, shift); });
    if (w.result == kSFXNotCreated) return w.result;
    std::int32_t result = w.result;
    // The executable holds exactly stub, header and archive, or it goes.
    if (result == kSFXDone && (w.stubSize < 0 || w.archiveSize < 0 || w.outSize < 0 ||
                               w.stubSize + w.archiveSize + kSFXHeaderSize != w.outSize))
        result = kSFXRefused;
    if (result != kSFXDone) {
        platform::DeleteFile(detail::HostPath(outName));
        return result;
    }
    EraseFile(m_zipFilename, HowToDelete);
    SetZipFilename(outName);
    return kSFXDone;
}

}  // namespace zip
