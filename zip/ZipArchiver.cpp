#include "zip/ZipArchiver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <set>

#include "app/UserInterface.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiverPrivate.h"
#include "zip/ZipMessages.h"

namespace zip {
namespace {

// The engine library's file name on this platform.
#ifdef _WIN32
constexpr const char* kEngineFileName = "ZipEngine.dll";
#else
constexpr const char* kEngineFileName = "libzipengine.so";
#endif

// Every live component, so a callback's caller field can be checked before it is used.
std::set<const TZipArchiver*>& LiveArchivers() {
    static std::set<const TZipArchiver*> live;
    return live;
}

std::string ReplaceArgument(const std::string& text, const std::string& argument) {
    std::string out = text;
    std::size_t at = out.find("%1");
    if (at != std::string::npos) out.replace(at, 2, argument);
    return out;
}

std::string MessageWithArgument(int number, const std::string& argument) {
    if (auto stored = StoredZipText(number)) return ReplaceArgument(*stored, argument);
    return ZipMessageText(number);  // the fallback does not take the argument
}

int32_t Flag(bool on) { return on ? ZIPENGINE_FLAG_ON : ZIPENGINE_FLAG_OFF; }

constexpr std::uint64_t kLargestFigure = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

// A byte count from the callback record: the number is read unsigned (a count from 2 GiB to
// 4 GiB arrives negative), in the units the record announces (see byteUnitShift in
// ZipCallback.h); a unit beyond any the engine sends is taken as bytes.
std::uint64_t ByteCount(const EngineCallbackRecord& record) {
    const std::uint64_t number = static_cast<std::uint32_t>(record.number);
    return record.byteUnitShift <= ZIPENGINE_MAX_UNIT_SHIFT ? number << record.byteUnitShift : number;
}

// A figure for the progress event: `bytes` in units of 2^shift bytes, at most the largest
// the event's 32-bit field holds.
std::int32_t Figure(std::uint64_t bytes, int shift) {
    return static_cast<std::int32_t>(std::min(bytes >> shift, kLargestFigure));
}

}  // namespace

// ---- EZipArchiver -----------------------------------------------------------------------

EZipArchiver::EZipArchiver(int number, bool display)
    : std::runtime_error(ZipMessageText(number)), m_display(display), m_number(number) {}

EZipArchiver::EZipArchiver(int number, std::int64_t argument)
    : std::runtime_error(MessageWithArgument(number, std::to_string(argument))), m_display(true), m_number(number) {}

EZipArchiver::EZipArchiver(int number, const std::string& argument)
    : std::runtime_error(MessageWithArgument(number, argument)), m_display(true), m_number(number) {}

// ---- construction and properties --------------------------------------------------------

TZipArchiver::TZipArchiver(void* ownerWindow) : m_ownerWindow(ownerWindow) { LiveArchivers().insert(this); }

TZipArchiver::~TZipArchiver() {
    ClearDirectory();
    LiveArchivers().erase(this);
    // The engine is the owner's to release (UnloadEngine); a handle still held is closed by
    // its own destructor.
}

void TZipArchiver::SetZipFilename(const std::string& name) {
    m_zipFilename = name;
    ReadDirectory();
}

void TZipArchiver::SetPassword(const std::string& password) { m_password = password.substr(0, 255); }

void TZipArchiver::SetDLLDirectory(const std::string& dir) {
    if (dir == m_dllDirectory) return;
    std::string value = dir;
    if (!value.empty() && (value.back() == '\\' || value.back() == '/')) value.pop_back();
    m_dllDirectory = value;
}

// ---- reporting --------------------------------------------------------------------------

void TZipArchiver::ShowZipMessage(int number, const std::string& extra) {
    std::string text = ZipMessageText(number) + extra;
    m_message = text;
    m_errCode = number;
    if (!Unattended) app::UI().ShowMessage(text);
    if (OnMessage) OnMessage(*this, 0, text);
}

void TZipArchiver::ShowExceptionMessage(const EZipArchiver& error) {
    if (error.Display() && !Unattended) app::UI().ShowMessage(error.what());
    m_errCode = error.Number();
    m_message = error.what();
    if (OnMessage) OnMessage(*this, 0, m_message);
}

// ---- the engine -------------------------------------------------------------------------

void TZipArchiver::LoadEngine() {
    try {
        // DLLDirectory first, then the program's own folder, then the system's search order.
        std::string path = kEngineFileName;
        std::string candidate = m_dllDirectory + "/" + kEngineFileName;
        if (!m_dllDirectory.empty() && platform::FileExists(candidate)) {
            path = detail::HostPath(candidate);
        } else if (platform::FileExists(platform::ProgramDir() + kEngineFileName)) {
            path = platform::ProgramDir() + kEngineFileName;
        }
        // Loading again replaces the handle; the library stays loaded through the swap.
        auto library = std::make_unique<platform::DynamicLibrary>(path);
        m_exec = nullptr;
        m_version = nullptr;
        if (!library->IsLoaded()) {
            m_engine.reset();
            ShowZipMessage(zmEngineNotLoaded, "");
            return;
        }
        m_engine = std::move(library);
        if (Trace) ShowZipMessage(zmEngineLoaded, "");
        auto exec = reinterpret_cast<ZipEngineExecFunc>(m_engine->Symbol(ZIPENGINE_EXEC_NAME));
        auto version = reinterpret_cast<GetZipEngineVersionFunc>(m_engine->Symbol(ZIPENGINE_VERSION_NAME));
        if (!exec) ShowZipMessage(zmNoExecEntry, "");
        if (!version) ShowZipMessage(zmNoVersionEntry, "");
        if (!exec || !version) {
            // An engine without both entry points is unusable: never call a missing one.
            m_engine.reset();
            return;
        }
        m_exec = exec;
        m_version = version;
    } catch (...) {
        m_engine.reset();
        m_exec = nullptr;
        m_version = nullptr;
    }
}

void TZipArchiver::UnloadEngine() {
    m_exec = nullptr;
    m_version = nullptr;
    m_engine.reset();
}

std::int32_t TZipArchiver::EngineVersion() {
    bool loadedHere = false;
    if (!EngineLoaded()) {
        LoadEngine();
        loadedHere = true;
    }
    std::int32_t version = EngineLoaded() ? m_version() : 0;
    if (loadedHere) UnloadEngine();
    return version;
}

void TZipArchiver::Add() {
    m_addedCount = 0;
    if (m_fspecArgs.empty()) {
        ShowZipMessage(zmNothingToAdd, "");
        return;
    }
    if (m_zipFilename.empty()) {
        ShowZipMessage(zmNoArchive, "");
        return;
    }
    if (Unattended && AddOptions.Contains(AddEncrypt) && m_password.empty()) {
        ShowZipMessage(zmNoPassword, "");
        return;
    }
    const bool exeName = detail::UpperExtension(m_zipFilename) == ".EXE";
    if (AddOptions.Contains(AddDiskSpan) || AddOptions.Contains(AddDiskSpanErase)) {
        if (AddOptions.Contains(AddFreshen) || AddOptions.Contains(AddUpdate)) {
            ShowZipMessage(zmSpanWithUpdate, "");
            return;
        }
        if (exeName) {
            ShowZipMessage(zmSpanOntoExe, "");
            return;
        }
        // Multi-disk sets are outside this program: refuse rather than write a plain archive.
        ShowZipMessage(zmSpanNotSupported, "");
        return;
    }
    if (m_busy) return;
    m_busy = true;
    m_cancel = false;

    bool loadedHere = false;
    if (!EngineLoaded()) {
        LoadEngine();
        loadedHere = true;
        if (!EngineLoaded()) {
            m_busy = false;
            return;
        }
    }

    // The engine is loaded before the stub is written, so an Add refused for want of an
    // engine leaves no file behind.
    bool shellMadeHere = false;
    if (exeName && m_archiveOffset == 0 && !platform::FileExists(m_zipFilename)) {
        // A new self-extracting archive: stub, header and an empty end record first, so the
        // engine adds to a file that already carries the stub.
        shellMadeHere = CreateSFXShell() == 0;
    }

    bool refused = false;
    try {
        CallEngine();
    } catch (const EZipArchiver& e) {
        m_addedCount = 0;
        refused = true;
        ShowExceptionMessage(e);
    } catch (...) {
        m_addedCount = 0;
        refused = true;
        ShowZipMessage(zmEngineCallFailed, "");
    }

    // A self-extractor made for this call goes again when the call was refused or failed:
    // a refused Add leaves no file behind.
    if (shellMadeHere && refused) platform::DeleteFile(m_zipFilename);
    m_fspecArgs.clear();
    if (loadedHere) UnloadEngine();
    m_cancel = false;
    m_busy = false;
    if (m_addedCount > 0) ReadDirectory();
}

void TZipArchiver::CallEngine() {
    const std::int32_t version = EngineVersion();
    const std::size_t count = m_fspecArgs.size();
    const bool fileSpecArray = version >= ZIPENGINE_FILESPEC_ARRAY_VERSION;
    if (!fileSpecArray && count > ZIPENGINE_OLD_MAX_SPECS) throw EZipArchiver(zmTooManySpecs, true);

    // Copies made for the call; the record points into them and they outlive the call.
    std::vector<std::string> specs = m_fspecArgs;
    std::string archiveName = detail::HostPath(m_zipFilename);
    std::string tempDir = TempDir.empty() ? std::string() : detail::HostPath(TempDir);
    std::array<char, ZIPENGINE_PASSWORD_MAX + 1> password{};
    std::memcpy(password.data(), m_password.data(), std::min<std::size_t>(m_password.size(), ZIPENGINE_PASSWORD_MAX));

    auto fillHead = [&](EngineCallHead& head) {
        head.ownerWindow = Unattended ? nullptr : m_ownerWindow;
        head.caller = this;
        head.recordVersion = ZIPENGINE_RECORD_VERSION;
        head.callback = &TZipArchiver::EngineCallback;
        head.trace = Flag(Trace);
        head.password = password.data();
        head.encrypt = Flag(AddOptions.Contains(AddEncrypt));
        head.hiddenFiles = Flag(AddOptions.Contains(AddHiddenFiles));
        head.noDirEntries = Flag(!AddOptions.Contains(AddSeparateDirs));
        head.verbose = Flag(Verbose || Trace);
        head.alwaysOn56 = ZIPENGINE_FLAG_ON;
        head.compLevel = AddCompLevel;
        head.dropDirNames = Flag(!AddOptions.Contains(AddDirNames));
        head.recurse = AddOptions.Contains(AddRecurseDirs) ? ZIPENGINE_RECURSE_ON : 0;
        head.alwaysOn80 = ZIPENGINE_FLAG_ON;
        head.forceDos = Flag(AddOptions.Contains(AddForceDOS));
        head.move = Flag(AddOptions.Contains(AddMove));
        head.update = Flag(AddOptions.Contains(AddUpdate));
        head.freshen = Flag(AddOptions.Contains(AddFreshen) && !AddOptions.Contains(AddUpdate));
        head.zipTime = Flag(AddOptions.Contains(AddZipTime));
        head.specCount = static_cast<std::int32_t>(count);
        head.archiveName = archiveName.data();
    };

    m_callbackError = nullptr;
    m_progressShift = 0;
    m_totalAnnounced = false;
    m_progressDone = 0;
    m_progressSent = 0;
    std::int32_t result = 0;
    if (fileSpecArray) {
        auto record = std::make_unique<EngineCallRecord>();  // zero-filled
        std::vector<FileSpecEntry> entries(count);           // zero-filled
        for (std::size_t i = 0; i < count; ++i) entries[i].spec = specs[i].data();
        fillHead(record->head);
        record->tempDir = tempDir.empty() ? nullptr : tempDir.data();
        record->fileSpecs = entries.data();
        record->tag = ZIPENGINE_RECORD_TAG;
        result = m_exec(record.get());
    } else {
        auto record = std::make_unique<EngineCallRecordOld>();  // zero-filled
        fillHead(record->head);
        record->tag = ZIPENGINE_RECORD_TAG;
        for (std::size_t i = 0; i < count; ++i) record->specs[i] = specs[i].data();
        result = m_exec(reinterpret_cast<EngineCallRecord*>(record.get()));
    }
    if (m_callbackError) {
        std::exception_ptr error = m_callbackError;
        m_callbackError = nullptr;
        std::rethrow_exception(error);
    }
    m_addedCount = result;
}

// ---- the engine's callback --------------------------------------------------------------

std::int32_t TZipArchiver::EngineCallback(EngineCallbackRecord* record) {
    if (!record) return -1;
    auto* self = static_cast<TZipArchiver*>(record->caller);
    // A caller that is no live component means the engine is confused: ask it to stop.
    if (!LiveArchivers().count(self)) return -1;
    if (self->m_callbackError) return -1;  // a handler failed earlier in this call
    try {
        self->HandleCallback(*record);
        const std::int32_t answer = self->m_cancel ? -1 : 0;
        app::UI().ProcessMessages();
        return answer;
    } catch (...) {
        self->m_callbackError = std::current_exception();
        return -1;
    }
}

// The record's layout is the engine's interface and keeps its 32-bit number: the engine
// counts in units of 2^byteUnitShift bytes once its total passes 4 GiB, and the component does
// the scaling for the events' signed figures past 2 GiB: byte counts are read back in bytes,
// and once the announced total passes 2 GiB every size figure of the batch counts units of
// the least power of two that brings the total within range (ProgressUnit). Progress is
// handed on as the step of the scaled running count, so the steps add up to the total, each
// moves the bar a little, and none is negative; the running count stops at the total.
void TZipArchiver::HandleCallback(const EngineCallbackRecord& record) {
    const std::string text(record.text, strnlen(record.text, sizeof record.text));
    switch (record.action) {
        case ecbNewFile: {
            std::string name = text;
            std::replace(name.begin(), name.end(), '/', '\\');
            if (OnProgress) OnProgress(*this, ptNewFile, name, Figure(ByteCount(record), m_progressShift));
            break;
        }
        case ecbProgress: {
            m_progressDone += ByteCount(record);
            std::uint64_t units = m_progressDone >> m_progressShift;
            if (m_totalAnnounced) units = std::min(units, m_totalSize >> m_progressShift);
            const std::uint64_t step = units > m_progressSent ? units - m_progressSent : 0;
            m_progressSent = std::max(units, m_progressSent);
            if (OnProgress) OnProgress(*this, ptProgress, "", Figure(step, 0));
            break;
        }
        case ecbEndOfBatch:
            if (OnProgress) OnProgress(*this, ptEndOfBatch, "", 0);
            break;
        case ecbMessage: {
            std::string message = text;
            while (!message.empty() && (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == 0x7F))
                message.pop_back();
            std::replace(message.begin(), message.end(), '/', '\\');
            m_message = message;
            if (record.errorCode != 0) {
                m_errCode = record.errorCode & 0xFF;
                m_rawErrCode = record.errorCode;
            }
            if (OnMessage) OnMessage(*this, record.errorCode, message);
            break;
        }
        case ecbTotalFiles:
            if (OnProgress) OnProgress(*this, ptTotalFiles, "", record.number);
            break;
        case ecbTotalSize:
            m_totalSize = ByteCount(record);
            m_totalAnnounced = true;
            m_progressShift = 0;
            while ((m_totalSize >> m_progressShift) > kLargestFigure) ++m_progressShift;
            m_progressDone = 0;
            m_progressSent = 0;
            if (OnProgress) OnProgress(*this, ptTotalSize, "", Figure(m_totalSize, m_progressShift));
            break;
        default: break;
    }
}

}  // namespace zip
