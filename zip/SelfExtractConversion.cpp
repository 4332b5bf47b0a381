// Turning an archive into a self-extracting executable: stub, 256-byte header, and the
// archive with its stored offsets moved by the size of the two pieces in front of it.
#include <algorithm>
#include <vector>

#include "platform/File.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipArchiverPrivate.h"
#include "zip/ZipMessages.h"

namespace zip {

using detail::Get16;
using detail::Get32;
using detail::Put32;

namespace {

// Blocks are large enough that the copy runs near the disk's speed, small enough that the
// window is let through every few milliseconds.
constexpr std::int64_t kCopyBlockSize = 4 << 20;
constexpr std::int64_t kCentralHeaderSize = 46;
constexpr std::int64_t kEndRecordSize = 22;
constexpr const char* kStubName = "SFXStub.bin";

// Adds shift to the 32-bit offset at p; false when the result no longer fits 32 bits.
bool ShiftOffset(unsigned char* p, std::int64_t shift) {
    const std::int64_t moved = static_cast<std::int64_t>(Get32(p)) + shift;
    if (moved < 0 || moved > 0xFFFFFFFFLL) return false;
    Put32(p, static_cast<std::uint32_t>(moved));
    return true;
}

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

int TZipArchiver::WriteCentralDirectory(platform::File& source, platform::File& target,
                                        const ZipEndRecord& end, std::int64_t shift) {
    try {
        for (int i = 0; i < end.TotalEntries; ++i) {
            unsigned char h[kCentralHeaderSize];
            if (source.Read(h, kCentralHeaderSize) != kCentralHeaderSize) throw EZipArchiver(zmHeaderShort, false);
            if (Get32(h) != kCentralHeaderSig) throw EZipArchiver(zmHeaderSignature, false);
            // An offset pushed past 4 GiB would point nowhere: refuse rather than wrap.
            if (!ShiftOffset(h + 42, shift)) throw EZipArchiver(zmWriteHeaderFailed, false);
            if (target.Write(h, kCentralHeaderSize)) throw EZipArchiver(zmWriteHeaderFailed, false);
            const std::int64_t rest = std::int64_t(Get16(h + 28)) + Get16(h + 30) + Get16(h + 32);
            if (rest > 0 && CopyBlocks(source, target, rest) != 0) throw EZipArchiver(zmCopyEntryFailed, false);
        }
        if (!source.Skip(kEndRecordSize)) throw EZipArchiver(zmSkipEndFailed, false);
        std::string record = end.Raw;
        if (record.size() != static_cast<std::size_t>(kEndRecordSize)) throw EZipArchiver(zmWriteEndFailed, false);
        auto* r = reinterpret_cast<unsigned char*>(record.data());
        if (!ShiftOffset(r + 16, shift)) throw EZipArchiver(zmWriteEndFailed, false);
        if (target.Write(r, kEndRecordSize)) throw EZipArchiver(zmWriteEndFailed, false);
        if (end.CommentLen > 0 && CopyBlocks(source, target, end.CommentLen) != 0)
            throw EZipArchiver(zmCopyCommentFailed, false);
        return 0;
    } catch (...) {
        return -2;
    }
}

std::int32_t TZipArchiver::ConvertToSFX() {
    const bool creating = m_creatingSFX;
    if (!creating && (m_zipFilename.empty() || !platform::FileExists(m_zipFilename))) {
        ShowZipMessage(zmNoArchive, "");
        return -9;
    }
    const std::size_t total = SFXCaption.size() + SFXDefaultDir.size() + SFXCommandLine.size();
    if (total > static_cast<std::size_t>(kSFXTextsMax)) {
        ShowZipMessage(zmSFXTextsTooLong,
                       "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = " + std::to_string(total));
        return -9;
    }
    std::string stubPath;
    for (const std::string& candidate : StubCandidates(SFXPath, m_dllDirectory)) {
        if (platform::FileExists(candidate)) {
            stubPath = candidate;
            break;
        }
    }
    if (stubPath.empty()) {
        ShowZipMessage(zmNoStub, "");
        SFXPath.clear();
        return -9;
    }
    SFXPath = stubPath;

    detail::Hourglass hourglass;
    const std::string header =
        BuildSFXHeader(SFXOptions, SFXOverWriteMode, SFXCaption, SFXDefaultDir, SFXCommandLine);

    std::string outName = m_zipFilename;
    if (!creating) {
        if (detail::UpperExtension(m_zipFilename) != ".ZIP") {
            ShowZipMessage(zmNotZipName, "");
            return -9;
        }
        outName = pm::WithoutExtension(m_zipFilename) + ".exe";
    }
    if (platform::FileExists(outName)) EraseFile(outName, HowToDelete);
    const std::string outPath = detail::HostPath(outName);

    std::int32_t result = 0;
    std::int64_t stubSize = -1;
    std::int64_t archiveSize = -1;
    std::int64_t outSize = -1;
    {
        // Every file opens without waiting: a pipe or a device at a name is refused at once.
        platform::File::Opened opened = platform::File::Open(outPath, platform::File::Mode::Replace);
        if (opened.error) return -1;
        platform::File& out = opened.file;
        {
            platform::File::Opened stub = platform::File::Open(detail::HostPath(stubPath), platform::File::Mode::Read);
            if (!stub.error) {
                if (CopyBlocks(stub.file, out, -1) != 0) result = -2;
                stubSize = stub.file.Size();
            } else {
                result = -3;
            }
        }
        if (result == 0 && out.Write(header.data(), kSFXHeaderSize)) result = -2;
        const std::int64_t shift = stubSize + kSFXHeaderSize;
        if (result == 0 && creating) {
            unsigned char end[kEndRecordSize] = {};
            Put32(end, kEndRecordSig);
            if (shift > 0xFFFFFFFFLL) result = -2;
            Put32(end + 16, static_cast<std::uint32_t>(shift));
            if (result == 0 && out.Write(end, kEndRecordSize)) result = -2;
        } else if (result == 0) {
            try {
                std::unique_ptr<platform::File> archive = ReadEndRecord();
                const ZipEndRecord end = m_endRecord;
                if (!archive->Seek(0)) throw EZipArchiver(zmEndSeekFailed, false);
                if (m_offsetsMismatch) {
                    // Offsets already off: the file goes over unchanged.
                    if (CopyBlocks(*archive, out, -1) != 0) result = -2;
                    archiveSize = m_physicalSize;
                } else {
                    if (CopyBlocks(*archive, out, end.CentralOffset) != 0) result = -2;
                    if (result == 0) result = WriteCentralDirectory(*archive, out, end, shift);
                    archiveSize = m_archiveSize;
                }
            } catch (...) {
                result = -3;
            }
        }
        outSize = out.Size();
        if (out.Close() && result == 0) result = -2;
    }

    if (creating && result == 0) return 0;
    if (result == 0 && (stubSize < 0 || archiveSize < 0 || outSize < 0 ||
                        stubSize + archiveSize + kSFXHeaderSize != outSize))
        result = -9;
    if (result == 0) {
        EraseFile(m_zipFilename, HowToDelete);
        SetZipFilename(outName);
    } else {
        platform::DeleteFile(outPath);
    }
    return result;
}

}  // namespace zip
