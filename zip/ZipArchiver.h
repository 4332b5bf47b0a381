#pragma once
// TZipArchiver: zip archives through an outside engine library. The component holds the
// archive name and options, checks a request, builds the engine's call record, relays the
// engine's progress and messages, reads the archive's central directory back, and turns an
// archive into a self-extracting executable. It never lets an error escape: problems become
// numbered messages, shown through app::UI().ShowMessage unless Unattended, and handed to
// OnMessage.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zipengine/ZipCallback.h"
#include "zipengine/ZipEngine.h"

namespace platform {
class DynamicLibrary;
class File;
}  // namespace platform

namespace zip {

class TZipArchiver;
namespace detail {
class BlockReader;
}

// A set of enumeration members: member n is bit n.
template <typename E, typename Bits>
class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> members) {
        for (E m : members) m_bits = static_cast<Bits>(m_bits | Bit(m));
    }
    constexpr bool Contains(E m) const { return (m_bits & Bit(m)) != 0; }
    constexpr EnumSet& Include(E m) {
        m_bits = static_cast<Bits>(m_bits | Bit(m));
        return *this;
    }
    constexpr EnumSet& Exclude(E m) {
        m_bits = static_cast<Bits>(m_bits & ~Bit(m));
        return *this;
    }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr Bits Raw() const { return m_bits; }
    friend constexpr bool operator==(EnumSet a, EnumSet b) { return a.m_bits == b.m_bits; }

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits(1) << static_cast<int>(m)); }
    Bits m_bits = 0;
};

enum AddOptsEnum {
    AddDirNames,
    AddRecurseDirs,
    AddMove,
    AddFreshen,
    AddUpdate,
    AddZipTime,
    AddForceDOS,
    AddHiddenFiles,
    AddEncrypt,
    AddSeparateDirs,
    AddDiskSpan,
    AddDiskSpanErase
};
using AddOpts = EnumSet<AddOptsEnum, std::uint16_t>;

enum ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };
using ExtrOpts = EnumSet<ExtrOptsEnum, std::uint8_t>;

enum SFXOptsEnum { SFXAskCmdLine, SFXAskFiles, SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize };
using SFXOpts = EnumSet<SFXOptsEnum, std::uint8_t>;

enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };
enum CodePageOpts { cpAuto, cpNone, cpOEM };
enum DeleteOpts { htdFinal, htdAllowUndo };
enum ProgressType { ptNewFile, ptProgress, ptEndOfBatch, ptTotalFiles, ptTotalSize };

using TNotifyEvent = std::function<void(TZipArchiver& sender)>;
// fileSize: a file's size, a byte count, a file count or a byte total; sizes and bytes count
// in units of ProgressUnit() bytes, and none is ever negative.
using TProgressEvent = std::function<void(TZipArchiver& sender, ProgressType progrType, const std::string& filename,
                                          std::int32_t fileSize)>;
using TMessageEvent = std::function<void(TZipArchiver& sender, std::int32_t errCode, const std::string& message)>;

// The component's exception: a numbered message, raised inside an operation and reported by
// that operation's handler through ShowExceptionMessage.
class EZipArchiver : public std::runtime_error {
public:
    EZipArchiver(int number, bool display);
    EZipArchiver(int number, std::int64_t argument);        // display flag on
    EZipArchiver(int number, const std::string& argument);  // display flag on

    bool Display() const { return m_display; }
    int Number() const { return m_number; }

private:
    bool m_display;
    int m_number;
};

// One entry of the central directory: the fields of the central file header after its
// signature, then the converted name (with '\' for '/') and comment. Where the header holds
// the marker in place of a size, the local-header offset or the disk, the value is the one
// of the entry's 64-bit extra field.
struct ZipDirEntry {
    std::uint16_t MadeBy = 0;  // low byte: version, high byte: host system
    std::uint16_t NeededVersion = 0;
    std::uint16_t Flag = 0;
    std::uint16_t ComprMethod = 0;
    std::uint16_t ModifTime = 0;
    std::uint16_t ModifDate = 0;
    std::uint32_t CRC32 = 0;
    std::uint64_t ComprSize = 0;
    std::uint64_t UncomprSize = 0;
    std::uint16_t FileNameLength = 0;
    std::uint16_t ExtraFieldLength = 0;
    std::uint16_t FileCommentLen = 0;
    std::uint32_t DiskStart = 0;
    std::uint16_t IntFileAttrib = 0;
    std::uint32_t ExtFileAttrib = 0;
    std::uint64_t RelOffLocal = 0;
    std::string FileName;
    std::string FileComment;
};

// The 22-byte end of central directory record, as read. In an archive with a 64-bit end
// record (found through the locator in front of the end record) the disks, counts, size and
// offset are that record's.
struct ZipEndRecord {
    std::uint32_t ThisDiskNo = 0;
    std::uint32_t CentralDiskNo = 0;
    std::uint64_t EntriesThisDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralSize = 0;
    std::uint64_t CentralOffset = 0;
    std::uint16_t CommentLen = 0;
    std::string Raw;  // the 22 bytes
    // The 64-bit end record with its extensible data, and its locator, as read; both empty
    // in an archive without them.
    std::string Zip64Raw;
    std::string LocatorRaw;

    bool Zip64() const { return !Zip64Raw.empty(); }
};

inline constexpr int kSFXHeaderSize = 256;
inline constexpr int kSFXTextsMax = 249;

// The 256-byte header between the stub and the archive of a self-extracting file.
std::string BuildSFXHeader(SFXOpts options, OvrOpts overwrite, const std::string& caption,
                           const std::string& defaultDir, const std::string& commandLine);

// Byte-by-byte OEM (code page 437) to ANSI (Windows-1252) conversion.
std::string OemToAnsi(const std::string& text);

class TZipArchiver {
public:
    // ownerWindow: the application's window, owner of the engine's dialogs.
    explicit TZipArchiver(void* ownerWindow = nullptr);
    ~TZipArchiver();
    TZipArchiver(const TZipArchiver&) = delete;
    TZipArchiver& operator=(const TZipArchiver&) = delete;

    // ---- properties ---------------------------------------------------------------------
    bool Verbose = false;
    bool Trace = false;
    std::int32_t AddCompLevel = 9;
    AddOpts AddOptions;
    std::string ExtrBaseDir;
    ExtrOpts ExtrOptions;
    SFXOpts SFXOptions{SFXCheckSize};
    bool Unattended = false;
    std::string SFXPath = "SFXStub.bin";
    OvrOpts SFXOverWriteMode = OvrConfirm;
    std::string SFXCaption = "Self-extracting Archive";
    std::string SFXDefaultDir;
    std::string SFXCommandLine;
    std::string TempDir;
    std::int32_t KeepFreeOnDisk1 = 0;
    std::int32_t MaxVolumeSize = 0;
    std::int32_t MinFreeVolumeSize = 65536;
    bool ConfirmErase = true;
    CodePageOpts CodePage = cpAuto;
    DeleteOpts HowToDelete = htdAllowUndo;
    TNotifyEvent OnDirUpdate;
    TProgressEvent OnProgress;
    TMessageEvent OnMessage;

    // The file patterns for Add, one per line; Add empties it once it reaches the engine.
    std::vector<std::string>& FSpecArgs() { return m_fspecArgs; }
    void SetFSpecArgs(const std::vector<std::string>& lines) { m_fspecArgs = lines; }

    // Every assignment stores the text and then re-reads the directory.
    const std::string& ZipFilename() const { return m_zipFilename; }
    void SetZipFilename(const std::string& name);

    // At most 255 characters are kept; at most 80 reach the engine.
    const std::string& Password() const { return m_password; }
    void SetPassword(const std::string& password);

    // One trailing backslash (or '/') is dropped; an unchanged value does nothing.
    const std::string& DLLDirectory() const { return m_dllDirectory; }
    void SetDLLDirectory(const std::string& dir);

    std::string VersionInfo() const { return "1.0.0"; }
    void SetVersionInfo(const std::string&) {}  // read-only in effect

    // ---- run-time state -----------------------------------------------------------------
    void* OwnerWindow() const { return m_ownerWindow; }
    std::int32_t ErrCode() const { return m_errCode; }
    std::int32_t RawErrCode() const { return m_rawErrCode; }
    const std::string& Message() const { return m_message; }
    bool Cancel() const { return m_cancel; }
    void SetCancel(bool cancel) { m_cancel = cancel; }
    bool Busy() const { return m_busy; }
    std::int32_t AddedCount() const { return m_addedCount; }
    // The byte total the engine announced for the current or last Add.
    std::uint64_t TotalSize() const { return m_totalSize; }
    // The bytes each size figure of the progress events counts in the current or last Add: 1
    // unless the total passes 2 GiB (see HandleCallback).
    std::uint64_t ProgressUnit() const { return std::uint64_t(1) << m_progressShift; }
    bool EngineLoaded() const { return m_exec != nullptr && m_version != nullptr; }

    const std::vector<ZipDirEntry>& Entries() const { return m_entries; }
    int EntryCount() const { return static_cast<int>(m_entries.size()); }
    std::int64_t ArchiveOffset() const { return m_archiveOffset; }
    std::int64_t CentralDirOffset() const { return m_centralDirOffset; }
    std::int64_t EndRecordOffset() const { return m_endRecordOffset; }
    // Where the 64-bit end record lies in the file; -1 in an archive without one.
    std::int64_t Zip64EndRecordOffset() const { return m_zip64EndOffset; }
    std::int64_t ArchiveSize() const { return m_archiveSize; }
    std::int64_t PhysicalSize() const { return m_physicalSize; }
    bool OffsetsMismatch() const { return m_offsetsMismatch; }
    bool Spanned() const { return m_spanned; }
    const std::string& ArchiveComment() const { return m_archiveComment; }
    const std::string& VolumeLabel() const { return m_volumeLabel; }
    const ZipEndRecord& EndRecord() const { return m_endRecord; }

    // ---- operations ---------------------------------------------------------------------
    void LoadEngine();
    void UnloadEngine();
    // The engine's version; loads the engine for the call when it is not loaded; 0 when it
    // cannot be loaded.
    std::int32_t EngineVersion();
    // Adds every file of FSpecArgs to ZipFilename. Outcome in AddedCount, ErrCode, Message.
    void Add();
    // Makes ZipFilename (ending in ".zip") self-extracting as the same name with ".exe".
    // 0 done; -1 output not created; -2 a write failed; -3 stub or archive unreadable;
    // -9 refused (message reported) or size check failed.
    std::int32_t ConvertToSFX();

    void ReadDirectory();
    void ClearDirectory();
    // Finds and reads the end record of ZipFilename, and the 64-bit end record when a
    // locator lies in front of it; the returned file stays open for the caller. Raises
    // EZipArchiver; a set of several disks is refused.
    std::unique_ptr<platform::File> ReadEndRecord();
    // True when the drive (a root such as "C:\" or a host root such as "/") is usable;
    // reads its volume label. Raises EZipArchiver 11003 / 11004 for a bad drive letter.
    bool CheckDrive(const std::string& root);

    // Deletes a file, to the trash under htdAllowUndo: 0 done, -1 no such file, otherwise
    // the platform's error code.
    int EraseFile(const std::string& name, DeleteOpts mode);
    // Copies count bytes (negative: to the end) from the source's current position: 0 or -2.
    static int CopyBlocks(platform::File& source, platform::File& target, std::int64_t count);
    // Copies the central directory at the source's current position into target with every
    // local-header offset moved by shift (in the 64-bit extra field where the header holds the
    // marker), then the 64-bit end record and its locator when the archive has them, the end
    // record and its comment, each with its offset moved likewise. 0, or -2 on failure.
    int WriteCentralDirectory(platform::File& source, platform::File& target, const ZipEndRecord& end,
                              std::int64_t shift);

    // Reporting.
    void ShowZipMessage(int number, const std::string& extra);
    void ShowExceptionMessage(const EZipArchiver& error);

    // The engine's callback; `record->caller` must be a live TZipArchiver.
    static std::int32_t ZIPENGINE_CALL EngineCallback(EngineCallbackRecord* record);

private:
    // A piece of a self-extractor written: ConvertToSFX's result code and its size in bytes.
    struct SFXPart {
        std::int32_t result = 0;
        std::int64_t size = -1;
    };
    // A self-extractor written: the result code and the sizes of its pieces (-1: unknown).
    struct SFXWritten {
        std::int32_t result = 0;
        std::int64_t stubSize = -1;
        std::int64_t archiveSize = -1;
        std::int64_t outSize = -1;
    };
    using SFXArchiveWriter = std::function<SFXPart(platform::File& out, std::int64_t shift)>;

    // Makes ZipFilename, which does not exist yet, a self-extractor holding an empty archive,
    // for the engine to add to; ConvertToSFX's results.
    std::int32_t CreateSFXShell();
    // Checks the self-extractor's texts and finds the stub (kept in SFXPath); its path, or
    // empty once the reason is reported.
    std::string SFXStubForRequest();
    // Writes stub, header and the archive part to outName, replacing what is there; a file
    // not created (-1) is not deleted, any other failure leaves the file to the caller.
    SFXWritten WriteSFX(const std::string& outName, const std::string& stubPath, const SFXArchiveWriter& archive);
    static SFXPart CopyStub(platform::File& out, const std::string& stubPath);
    static SFXPart WriteEmptyArchive(platform::File& out, std::int64_t shift);
    // ZipFilename with its stored offsets moved by shift (unchanged when they were already off).
    SFXPart CopyArchiveShifted(platform::File& out, std::int64_t shift);

    void HandleCallback(const EngineCallbackRecord& record);
    // Reads the 64-bit end record into m_endRecord when a locator lies in front of the end
    // record at m_endRecordOffset. Raises EZipArchiver.
    void ReadZip64EndRecord(platform::File& file);
    void CallEngine();
    std::string ConvertName(const std::string& raw, std::uint16_t madeBy) const;
    // Reads `count` central headers from `file` into m_entries. Raises EZipArchiver.
    void ReadDirectoryEntries(detail::BlockReader& file, std::uint64_t count);

    void* m_ownerWindow;
    std::vector<std::string> m_fspecArgs;
    std::string m_zipFilename;
    std::string m_password;
    std::string m_dllDirectory;

    std::int32_t m_errCode = 0;
    std::int32_t m_rawErrCode = 0;
    std::string m_message;
    bool m_cancel = false;
    bool m_busy = false;
    std::int32_t m_addedCount = 0;
    std::uint64_t m_totalSize = 0;
    // Progress of the current Add: the scale of its size figures (a power of two), the bytes
    // the engine reported done, and the scaled count already handed to OnProgress.
    int m_progressShift = 0;
    bool m_totalAnnounced = false;
    std::uint64_t m_progressDone = 0;
    std::uint64_t m_progressSent = 0;

    // The engine's callback may not let a C++ exception cross the engine's C frames: one
    // raised by an event handler is kept here, the engine is asked to stop, and Add raises
    // it again once ZipEngineExec has returned.
    std::exception_ptr m_callbackError;

    std::unique_ptr<platform::DynamicLibrary> m_engine;
    ZipEngineExecFunc m_exec = nullptr;
    GetZipEngineVersionFunc m_version = nullptr;

    std::vector<ZipDirEntry> m_entries;
    std::int64_t m_archiveOffset = 0;
    std::int64_t m_centralDirOffset = 0;
    std::int64_t m_endRecordOffset = 0;
    std::int64_t m_zip64EndOffset = -1;
    std::int64_t m_archiveSize = 0;
    std::int64_t m_physicalSize = 0;
    bool m_offsetsMismatch = false;
    bool m_spanned = false;
    std::string m_archiveComment;
    std::string m_volumeLabel;
    ZipEndRecord m_endRecord;
};

}  // namespace zip
