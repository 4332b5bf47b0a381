#include "ArchiveUpdate.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <thread>

#include "ArchiveReader.h"
#include "CompressionPipeline.h"
#include "FileSelection.h"
#include "OutputFile.h"
#include "System.h"
#include "TempFile.h"
#include "UpdatePlan.h"
#include "ZipFormat.h"
#include "common/ByteCursor.h"
#include "zipengine/ZipCallback.h"

namespace zipengine {

namespace {

// A trial compression looks at up to three pieces of this size (start, middle, end).
constexpr size_t kProbeSample = size_t(64) << 10;
// Files smaller than this get no trial of their own: they follow the choice made for files of
// their extension, or the fast level when there is none yet.
constexpr size_t kProbeMinimum = size_t(64) << 10;
// Small files (below kProbeMinimum, each one piece, read and compressed by the workers) go to
// them this many at a time, or as many as make up a chunk's size: one hand-over for many.
constexpr size_t kBatchFiles = 128;

using sys::FolderOf;

// What the headers of a selected item say, its data written with `method`.
NewEntryFields FieldsOf(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed) {
    NewEntryFields f;
    f.name = item.archiveName;
    f.modified = item.modified;
    f.size = item.size;
    f.isFolder = item.isFolder;
    f.readOnly = item.readOnly;
    f.method = method;
    f.crc = crc;
    f.compressed = compressed;
    return f;
}

// Why the new archive was not written: the message's code and its text. No code: all went well.
struct Failure {
    int32_t code = kCodeNone;
    std::string text;
    explicit operator bool() const { return code != kCodeNone; }
};

Failure Stopped() { return {kCodeCancelled, "Stopped on request."}; }

// What is to be written next, in archive order: kept entries, entries without data, and the
// chunks handed to the pipeline (taken back from it in the same order); and the file being
// cut into chunks.
struct Feed {
    enum class Kind { Keep, NoData, Chunk };
    std::deque<std::pair<Kind, size_t>> pending;
    size_t slot = 0;
    sys::File file;
    uint64_t offset = 0;  // read position in the file being cut
    int level = 0;        // its compression level
};

class Job {
public:
    Job(const JobOptions& options, Reporter& reporter) : m_o(options), m_reporter(reporter) {}

    int32_t Run() {
        int32_t result = RunSteps();
        Say(ecbEndOfBatch, 0, 0, "");
        return result;
    }

private:
    bool Say(int32_t action, int32_t code, int64_t number, const std::string& text) {
        if (!m_reporter.Report(action, code, number, text)) m_stopped = true;
        return !m_stopped;
    }
    void Message(int32_t code, const std::string& text) { Say(ecbMessage, code, 0, text); }
    int32_t Fail(int32_t code, const std::string& text) {
        Message(code, text + " The archive was left unchanged.");
        return 0;
    }
    int32_t Fail(const Failure& failure) { return Fail(failure.code, failure.text); }
    int32_t Cancelled() { return Fail(Stopped()); }
    bool Warn(const std::vector<SelectionWarning>& warnings);

    int32_t RunSteps();
    Failure ReadOld();
    std::string PrepareTempFolder();
    std::vector<SelectedItem> Select(std::vector<SelectionWarning>& warnings);
    void AfterPlaced();

    Failure WriteAndPlace(const std::string& folder);
    Failure WriteAll();
    Failure CopyPrefix();
    Failure WriteEntries();
    Failure Fill(CompressionPipeline& pipeline, Feed& feed, int level);
    Failure SubmitChunk(CompressionPipeline& pipeline, Feed& feed, size_t itemIndex, int level);
    void LoadSmall(size_t itemIndex, int level, Piece& piece);
    Failure WriteNext(CompressionPipeline& pipeline, Feed& feed);
    Failure KeepEntry(size_t index);
    Failure WriteNoData(size_t itemIndex);
    Failure TakeChunk(const Piece& chunk);
    Failure EndEntry(const SelectedItem& item);
    Failure RewriteStored();
    Failure WriteDirectory();
    Failure FinishFile();
    Failure WriteError() const;
    Failure PutInPlace();
    Failure CopyBesideArchive();
    int LevelFor(const SelectedItem& item, const sys::File& file, int requested);
    unsigned Threads() const { return m_o.threads ? m_o.threads : std::max(1u, std::thread::hardware_concurrency()); }
    uint64_t StoredOffset(uint64_t position) const { return position - m_old.offsetDelta; }
    NewEntryFields Fields(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed,
                          uint64_t position) const;

    const JobOptions& m_o;
    Reporter& m_reporter;
    bool m_stopped = false;

    bool m_haveOld = false;
    sys::FileInfo m_oldInfo;  // mode 0: no old archive
    std::unique_ptr<FileSource> m_oldFile;
    ExistingArchive m_old;

    std::vector<SelectedItem> m_items;
    UpdatePlan m_plan;

    OutputFile m_out;
    std::vector<std::string> m_central;
    StrategyChooser m_chooser;
    std::map<std::string, int> m_levelByExtension;  // choices of trial compressions, by extension

    // The file whose chunks are being written.
    struct Writing {
        size_t item = 0;
        uint64_t headerPosition = 0;
        uint64_t dataStart = 0;
        uint32_t crc = 0;
        uint64_t compressed = 0;
        uint64_t consumed = 0;
        bool deflate = false;
    } m_w;
};

// The headers of a selected item whose local header is at `position`.
NewEntryFields Job::Fields(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed,
                           uint64_t position) const {
    NewEntryFields f = FieldsOf(item, method, crc, compressed);
    f.localOffset = StoredOffset(position);
    f.zip64Local = NeedsZip64(item.size);
    return f;
}

int32_t Job::RunSteps() {
    if (m_o.encrypt) return Fail(kCodeUnsupported, "Encryption is not supported; nothing was added.");
    if (m_o.archive.empty()) return Fail(kCodeBadRequest, "No archive name was given.");
    if (Failure f = ReadOld()) return Fail(f);
    const std::string folder = PrepareTempFolder();
    std::vector<SelectionWarning> warnings;
    m_items = Select(warnings);
    m_plan = PlanUpdate(m_old, m_items, m_o.update, m_o.freshen);
    // Warnings about skipped names follow the totals, which come first; when the work stops
    // before the totals, they precede the reason.
    if (m_plan.newCount == 0) {
        if (!Warn(warnings)) return Cancelled();
        Message(kCodeNothingToDo, "Nothing to do: no file to add or replace. The archive was left unchanged.");
        return 0;
    }
    if (!Say(ecbTotalFiles, 0, int64_t(m_plan.newCount), "") || !Say(ecbTotalSize, 0, int64_t(m_plan.newBytes), "") ||
        !Warn(warnings))
        return Cancelled();
    if (Failure f = WriteAndPlace(folder)) return m_stopped ? Cancelled() : Fail(f);
    AfterPlaced();
    return int32_t(m_plan.newCount);
}

bool Job::Warn(const std::vector<SelectionWarning>& warnings) {
    for (const auto& w : warnings) {
        Message(kCodeSkipped, "Warning: " + w.spec + " " + w.text + ".");
        if (m_stopped) return false;
    }
    return true;
}

Failure Job::ReadOld() {
    if (!sys::Stat(m_o.archive, m_oldInfo)) return {};  // a new archive
    if (!m_oldInfo.isRegular) return {kCodeBadArchive, "The archive " + m_o.archive + " is not a file."};
    if (m_oldInfo.size == 0) return {};  // an empty file is taken as a new archive
    sys::File file;
    std::string error = file.Open(m_o.archive, sys::File::Pattern::Random);
    if (!error.empty()) return {kCodeBadArchive, "The archive " + m_o.archive + " cannot be opened: " + error + "."};
    m_oldFile = std::make_unique<FileSource>(std::move(file));
    ReadResult r = ReadExistingArchive(*m_oldFile, m_old);
    if (!r.ok) return {kCodeBadArchive, "The archive " + m_o.archive + " cannot be updated: " + r.error + "."};
    m_haveOld = true;
    return {};
}

// The temporary archive goes to the temporary folder if there is one, else beside the
// archive (where it is copied when the two are on different file systems). Temporary files
// of runs that died there go first, before a wildcard could pick them up.
std::string Job::PrepareTempFolder() {
    std::string folder = m_o.tempDir;
    sys::FileInfo info;
    if (folder.empty() || !sys::Stat(folder, info) || !info.isFolder) folder = FolderOf(m_o.archive);
    TempFile::RemoveStaleIn(folder);
    if (folder != FolderOf(m_o.archive)) TempFile::RemoveStaleIn(FolderOf(m_o.archive));
    return folder;
}

std::vector<SelectedItem> Job::Select(std::vector<SelectionWarning>& warnings) {
    SelectionOptions sel;
    sel.recurse = m_o.recurse;
    sel.hidden = m_o.hidden;
    sel.dropDirNames = m_o.dropDirNames;
    sel.folderEntries = m_o.folderEntries;
    sel.forceDos = m_o.forceDos;
    sel.threads = Threads();
    std::vector<SelectedItem> items = SelectFiles(m_o.specs, sel, warnings);
    // The archive never packs itself (a wildcard in its own folder would find it).
    sys::FileInfo archive;
    if (sys::Stat(m_o.archive, archive))
        std::erase_if(items, [&](const SelectedItem& i) { return !i.isFolder && i.id == archive.id; });
    return items;
}

// The archive is in place: only now may the sources of a move go.
void Job::AfterPlaced() {
    time_t newest = 0;
    for (const Slot& s : m_plan.slots)
        newest = std::max(newest, s.keep ? m_old.entries[s.index].modified : m_items[s.index].modified);
    if (m_o.move) {
        for (const Slot& s : m_plan.slots) {
            if (s.keep || m_items[s.index].isFolder) continue;
            if (int error = sys::RemoveFile(m_items[s.index].source))
                Message(kCodeMoveFailed, "Warning: " + m_items[s.index].source +
                                             " was added but cannot be deleted: " + sys::ErrorText(error) + ".");
        }
    }
    if (m_o.zipTime && newest > 0) sys::SetModified(m_o.archive, newest);
}

// Writes the new archive in `folder` and renames it over the archive; on failure the
// temporary file is gone.
Failure Job::WriteAndPlace(const std::string& folder) {
    if (!m_out.CreateIn(folder))
        return {kCodeWriteFailed,
                "The temporary archive cannot be created in " + folder + ": " + sys::ErrorText(m_out.Error()) + "."};
    Failure f = WriteAll();
    // All of the old archive is copied: closed now, since Windows replaces no file still open.
    m_oldFile.reset();
    if (!f) f = PutInPlace();
    if (f) m_out.Discard();
    return f;
}

Failure Job::WriteAll() {
    if (Failure f = CopyPrefix()) return f;
    if (Failure f = WriteEntries()) return f;
    if (Failure f = WriteDirectory()) return f;
    return FinishFile();
}

// The prefix (a self-extractor stub and its header) goes over unchanged.
Failure Job::CopyPrefix() {
    if (!m_haveOld || m_old.prefixLength == 0) return {};
    std::vector<unsigned char> buffer(size_t(1) << 20);
    for (uint64_t done = 0; done < m_old.prefixLength;) {
        size_t n = size_t(std::min<uint64_t>(buffer.size(), m_old.prefixLength - done));
        if (!m_oldFile->ReadAt(done, buffer.data(), n)) return {kCodeReadFailed, "The old archive cannot be read."};
        m_out.Write(buffer.data(), n);
        done += n;
    }
    return {};
}

// The entries in archive order; files are compressed ahead by the pipeline, as far as its
// memory budget allows, and written as they come back.
Failure Job::WriteEntries() {
    const int level = std::clamp(m_o.level, 0, 9);
    CompressionPipeline pipeline(Threads());
    Feed feed;
    for (;;) {
        if (Failure f = Fill(pipeline, feed, level)) return f;
        if (feed.pending.empty()) return {};
        if (Failure f = WriteNext(pipeline, feed)) return f;
    }
}

// Hands out chunks until the pipeline holds as many as the memory budget allows; small files
// go many to a chunk.
Failure Job::Fill(CompressionPipeline& pipeline, Feed& feed, int level) {
    std::unique_ptr<Chunk> batch;
    size_t batchFiles = 0, batchBytes = 0;
    auto handOver = [&] {
        if (!batch) return;
        pipeline.Submit(std::move(batch));
        feed.pending.push_back({Feed::Kind::Chunk, 0});
        batchFiles = batchBytes = 0;
    };
    while (feed.slot < m_plan.slots.size() && pipeline.InFlight() < pipeline.MaxInFlight()) {
        const Slot& s = m_plan.slots[feed.slot];
        const SelectedItem& item = m_items[s.index];
        if (s.keep || item.isFolder || item.size == 0) {
            handOver();
            feed.pending.push_back({s.keep ? Feed::Kind::Keep : Feed::Kind::NoData, s.index});
            ++feed.slot;
            continue;
        }
        if (item.size >= kProbeMinimum) {
            handOver();
            if (Failure f = SubmitChunk(pipeline, feed, s.index, level)) return f;
            continue;
        }
        if (!batch) batch = pipeline.Recycled();
        LoadSmall(s.index, level, batchFiles == 0 ? *batch : batch->AddMore());
        ++feed.slot;
        batchBytes += item.size;
        if (++batchFiles == kBatchFiles || batchBytes >= kChunkSize) handOver();
    }
    handOver();
    return {};
}

// A small file whole as one piece, for a worker to read and compress.
void Job::LoadSmall(size_t itemIndex, int level, Piece& piece) {
    const SelectedItem& item = m_items[itemIndex];
    const sys::File none;  // a small file gets no trial, so its level needs no reading
    piece.item = itemIndex;
    piece.first = piece.last = true;
    piece.level = LevelFor(item, none, level);
    piece.source = &item.source;
    piece.readSize = item.size;
}

// Reads the next chunk of the item's file (opening it first) and submits it.
Failure Job::SubmitChunk(CompressionPipeline& pipeline, Feed& feed, size_t itemIndex, int level) {
    const SelectedItem& item = m_items[itemIndex];
    if (!feed.file.IsOpen()) {
        std::string error = feed.file.Open(item.source, sys::File::Pattern::Sequential);
        if (!error.empty()) return {kCodeReadFailed, item.source + " cannot be opened: " + error + "."};
        feed.offset = 0;
        feed.level = LevelFor(item, feed.file, level);
    }
    auto chunk = pipeline.Recycled();
    size_t n = size_t(std::min<uint64_t>(kChunkSize, item.size - feed.offset));
    chunk->item = itemIndex;
    chunk->first = feed.offset == 0;
    chunk->last = feed.offset + n == item.size;
    chunk->level = feed.level;
    chunk->input.resize(n);
    if (!feed.file.ReadFullyAt(feed.offset, chunk->input.data(), n))
        return {kCodeReadFailed, item.source + " cannot be read (it may have changed while it was packed)."};
    feed.offset += n;
    pipeline.Submit(std::move(chunk));
    feed.pending.push_back({Feed::Kind::Chunk, itemIndex});
    if (feed.offset == item.size) {
        feed.file.Close();
        ++feed.slot;
    }
    return {};
}

// Writes what is first in line.
Failure Job::WriteNext(CompressionPipeline& pipeline, Feed& feed) {
    auto [kind, index] = feed.pending.front();
    feed.pending.pop_front();
    Failure f;
    if (kind == Feed::Kind::Keep) f = KeepEntry(index);
    else if (kind == Feed::Kind::NoData) f = WriteNoData(index);
    else {
        // Its storage serves a later piece: fresh buffers of this size cost page faults each time.
        std::unique_ptr<Chunk> chunk = pipeline.TakeOldest();
        f = TakeChunk(*chunk);
        for (size_t i = 0; i < chunk->moreCount && !f && !m_out.Failed() && !m_stopped; ++i)
            f = TakeChunk(chunk->more[i]);
        pipeline.Recycle(std::move(chunk));
    }
    if (f) return f;
    if (m_out.Failed()) return WriteError();
    if (m_stopped) return Stopped();
    return {};
}

Failure Job::KeepEntry(size_t index) {
    const ExistingEntry& e = m_old.entries[index];
    std::string central = RelocatedCentralHeader(e.centralHeader, StoredOffset(m_out.Position()));
    if (central.empty())
        return {kCodeTooLarge,
                "The entry " + e.name + " of the old archive has too many extra fields to move past 4 GiB."};
    m_central.push_back(std::move(central));
    std::vector<unsigned char> buffer(size_t(std::min<uint64_t>(e.entryLength, uint64_t(1) << 20)));
    for (uint64_t done = 0; done < e.entryLength && !m_out.Failed();) {
        size_t n = size_t(std::min<uint64_t>(buffer.size(), e.entryLength - done));
        if (!m_oldFile->ReadAt(e.localPosition + done, buffer.data(), n))
            return {kCodeReadFailed, "The entry " + e.name + " of the old archive cannot be read."};
        m_out.Write(buffer.data(), n);
        done += n;
    }
    return {};
}

Failure Job::WriteNoData(size_t itemIndex) {
    const SelectedItem& item = m_items[itemIndex];
    if (!Say(ecbNewFile, 0, 0, item.archiveName)) return Stopped();
    const NewEntryFields fields = Fields(item, kMethodStored, 0, 0, m_out.Position());
    m_out.Write(LocalHeader(fields));
    m_central.push_back(CentralHeader(fields));
    if (m_o.verbose) Message(kCodeNone, "  adding: " + item.archiveName + " (stored 0%)");
    return m_stopped ? Stopped() : Failure{};
}

Failure Job::TakeChunk(const Piece& chunk) {
    const SelectedItem& item = m_items[chunk.item];
    if (!chunk.readError.empty()) return {kCodeReadFailed, item.source + " " + chunk.readError + "."};
    if (chunk.failed) return {kCodeNoMemory, "Compressing " + item.source + " failed."};
    if (chunk.first) {
        if (!Say(ecbNewFile, 0, int64_t(item.size), item.archiveName)) return Stopped();
        m_w = Writing{};
        m_w.item = chunk.item;
        m_w.headerPosition = m_out.Position();
        m_w.deflate = chunk.level > 0;
        if (chunk.last) {
            // The whole file is here: store it when deflate did not make it smaller.
            m_w.deflate = m_w.deflate && chunk.output.size() < chunk.input.size();
        }
        m_out.Write(LocalHeader(Fields(item, m_w.deflate ? kMethodDeflated : kMethodStored, 0, 0, m_w.headerPosition)));
        m_w.dataStart = m_out.Position();
    }
    const auto& data = m_w.deflate ? chunk.output : chunk.input;
    m_out.Write(data.data(), data.size());
    m_w.compressed += data.size();
    m_w.crc = chunk.first ? chunk.crc : uint32_t(crc32_combine(m_w.crc, chunk.crc, z_off_t(chunk.input.size())));
    m_w.consumed += chunk.input.size();
    if (!Say(ecbProgress, 0, int64_t(chunk.input.size()), "")) return Stopped();
    return chunk.last ? EndEntry(item) : Failure{};
}

// The file's last chunk is written: its local header gets the sizes and CRC, and its
// central header is made.
Failure Job::EndEntry(const SelectedItem& item) {
    if (m_w.deflate && m_w.compressed >= item.size) {
        if (Failure f = RewriteStored()) return f;
    }
    const NewEntryFields fields =
        Fields(item, m_w.deflate ? kMethodDeflated : kMethodStored, m_w.crc, m_w.compressed, m_w.headerPosition);
    // The header written ahead has the same length: its sizes (in the 64-bit extra field too)
    // and CRC are filled in.
    std::string header = LocalHeader(fields);
    m_out.Patch(m_w.headerPosition, header.data(), header.size());
    m_central.push_back(CentralHeader(fields));
    if (m_o.verbose) {
        int saved = item.size ? int(100 - (m_w.compressed * 100) / item.size) : 0;
        Message(kCodeNone, "  adding: " + item.archiveName +
                               (fields.method == kMethodDeflated ? " (deflated " : " (stored ") +
                               std::to_string(saved) + "%)");
    }
    return m_stopped ? Stopped() : Failure{};
}

// The libdeflate level for a file (0: store it). Large files are each tried on samples of
// their start, middle and end; smaller ones follow the last trial of a file with their
// extension, since files of one kind (table data, map objects, indexes) compress alike.
int Job::LevelFor(const SelectedItem& item, const sys::File& file, int requested) {
    if (requested <= 0) return 0;
    size_t dot = item.source.rfind('.');
    size_t slash = item.source.rfind('/');
    std::string extension = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                                ? std::string()
                                : UpperAscii(item.source.substr(dot));
    auto known = m_levelByExtension.find(extension);
    if (item.size <= kChunkSize && known != m_levelByExtension.end()) return known->second;
    if (item.size < kProbeMinimum) return std::min(requested, kFastLevel);
    std::vector<unsigned char> sample;
    std::vector<uint64_t> places = {0};
    if (item.size > 3 * kProbeSample) places = {0, item.size / 2, item.size - kProbeSample};
    for (uint64_t at : places) {
        size_t old = sample.size();
        size_t want = size_t(std::min<uint64_t>(places.size() == 1 ? 3 * kProbeSample : kProbeSample, item.size - at));
        sample.resize(old + want);
        int64_t n = file.ReadAt(at, sample.data() + old, want);
        sample.resize(old + size_t(std::max<int64_t>(n, 0)));
    }
    int level = m_chooser.Choose(sample.data(), sample.size(), requested).level;
    m_levelByExtension[extension] = level;
    return level;
}

// The deflate data of a file came out no smaller than the file: store the file instead.
Failure Job::RewriteStored() {
    const SelectedItem& item = m_items[m_w.item];
    m_out.Truncate(m_w.dataStart);
    sys::File file;
    std::vector<unsigned char> buffer(kChunkSize);
    uint32_t crc = 0;
    bool ok = file.Open(item.source, sys::File::Pattern::Sequential).empty();
    for (uint64_t done = 0; ok && done < item.size;) {
        size_t n = size_t(std::min<uint64_t>(buffer.size(), item.size - done));
        ok = file.ReadFullyAt(done, buffer.data(), n);
        if (!ok) break;
        crc = uint32_t(crc32(crc, buffer.data(), uInt(n)));
        m_out.Write(buffer.data(), n);
        done += n;
    }
    if (!ok || crc != m_w.crc)
        return {kCodeReadFailed, item.source + " cannot be read again or changed while it was packed."};
    m_w.deflate = false;
    m_w.compressed = item.size;
    return {};
}

// The central directory and the end records, with the old archive's comment.
Failure Job::WriteDirectory() {
    const uint64_t cdStart = m_out.Position();
    for (const std::string& c : m_central) m_out.Write(c);
    const uint64_t cdSize = m_out.Position() - cdStart;
    m_out.Write(
        EndRecords(m_central.size(), cdSize, StoredOffset(cdStart), StoredOffset(m_out.Position()), m_old.comment));
    return {};
}

// Gives the file the old archive's permissions or attributes (or the usual ones for a new
// file) and writes it to disk.
Failure Job::FinishFile() {
    const uint32_t mode = m_oldInfo.mode != 0 ? m_oldInfo.mode : sys::NewFileMode();
    if (m_out.SetMode(mode) != 0) {
        // Not fatal: the archive keeps the temporary file's owner-only permissions.
    }
    if (!m_out.Finish()) return WriteError();
    return {};
}

Failure Job::WriteError() const {
    return {kCodeWriteFailed, "The temporary archive cannot be written: " + sys::ErrorText(m_out.Error()) + "."};
}

Failure Job::PutInPlace() {
    const int error = sys::RenameOver(m_out.Path(), m_o.archive);
    if (error == 0) {
        m_out.Forget();
        // Durable before a move may delete sources of an archive that a crash could still take back.
        sys::SyncFolder(FolderOf(m_o.archive));
        return {};
    }
    if (!sys::IsOtherVolume(error))
        return {kCodeWriteFailed, "The new archive cannot replace " + m_o.archive + ": " + sys::ErrorText(error) + "."};
    return CopyBesideArchive();
}

// The temporary folder is on another file system: copy beside the archive, then rename.
Failure Job::CopyBesideArchive() {
    OutputFile beside;
    if (!beside.CreateIn(FolderOf(m_o.archive)))
        return {kCodeWriteFailed, "The new archive cannot be copied beside " + m_o.archive + "."};
    sys::File in;
    sys::FileInfo info;
    const bool opened = in.Open(m_out.Path(), sys::File::Pattern::Sequential, &info).empty();
    std::vector<unsigned char> buffer(size_t(1) << 20);
    int64_t n = 0;
    for (uint64_t done = 0; opened && (n = in.ReadAt(done, buffer.data(), buffer.size())) > 0; done += uint64_t(n))
        beside.Write(buffer.data(), size_t(n));
    in.Close();
    if (opened) beside.SetMode(info.mode);
    if (!opened || n < 0 || !beside.Finish() || sys::RenameOver(beside.Path(), m_o.archive) != 0)
        return {kCodeWriteFailed, "The new archive cannot replace " + m_o.archive + "."};
    beside.Forget();
    sys::SyncFolder(FolderOf(m_o.archive));
    m_out.Discard();
    return {};
}

}  // namespace

int32_t RunJob(const JobOptions& options, Reporter& reporter) {
    Job job(options, reporter);
    return job.Run();
}

}  // namespace zipengine
