#include "ArchiveUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <thread>

#include "ArchiveReader.h"
#include "CompressionPipeline.h"
#include "FileSelection.h"
#include "OutputFile.h"
#include "TempFile.h"
#include "ZipFormat.h"
#include "zipengine/ZipCallback.h"

namespace zipengine {

namespace {

// A trial compression looks at up to three pieces of this size (start, middle, end).
constexpr size_t kProbeSample = size_t(64) << 10;
// Files smaller than this get no trial of their own: they follow the choice made for files of
// their extension, or the fast level when there is none yet.
constexpr size_t kProbeMinimum = size_t(64) << 10;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
        if (n == 99 || i + n >= s.size() + (n ? 0 : 1)) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

bool NeedsUtf8Flag(const std::string& name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && ValidUtf8(name);
}

// Makes a rename in `folder` durable, so a move never deletes sources of an archive that a
// crash could still take back.
void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// A file opened to be read, or why it was not.
struct ReadableFile {
    int fd = -1;  // the caller's to close
    struct stat st {};
    std::string error;  // empty when open
};

// Opens a regular file to read without waiting: a named pipe or a device where the archive
// or a selected file is (put there since it was looked at, say) would hold the open up or
// be read forever, so it is refused.
ReadableFile OpenReadable(const std::string& path) {
    ReadableFile f;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        f.error = std::strerror(errno);
        return f;
    }
    if (fstat(fd, &f.st) != 0) f.error = std::strerror(errno);
    else if (!S_ISREG(f.st.st_mode)) f.error = "Not a regular file";
    else if (fcntl(fd, F_SETFL, O_RDONLY) != 0) f.error = std::strerror(errno);  // blocking again
    if (f.error.empty()) f.fd = fd;
    else close(fd);
    return f;
}

bool ReadFully(int fd, unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// One entry of the new archive, in order: an entry kept from the old archive or an item of
// the selection stored anew.
struct Slot {
    bool keep = false;
    size_t index = 0;  // into the old entries or the selection
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
    int32_t Cancelled() { return Fail(kCodeCancelled, "Stopped on request."); }

    int32_t RunSteps();
    bool ReadOld();
    void Plan(const std::vector<SelectedItem>& items);
    template <class Warn>
    bool CheckLimits(Warn& warn);
    bool WriteAll();
    bool WriteNoData(size_t itemIndex);
    bool TakeChunk(std::unique_ptr<Chunk> chunk);
    bool RewriteStored();
    void KeepEntry(size_t index);
    std::string LocalHeader(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed) const;
    std::string CentralHeader(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed,
                              uint64_t localPosition) const;
    bool PutInPlace();
    int LevelFor(const SelectedItem& item, int fd, int requested);

    const JobOptions& m_o;
    Reporter& m_reporter;
    bool m_stopped = false;

    bool m_haveOld = false;
    struct stat m_oldStat {};
    std::unique_ptr<FileSource> m_oldFile;
    ExistingArchive m_old;

    std::vector<SelectedItem> m_items;
    std::vector<Slot> m_slots;
    size_t m_newCount = 0;
    uint64_t m_newBytes = 0;

    OutputFile m_out;
    std::vector<std::string> m_central;
    StrategyChooser m_chooser;
    std::map<std::string, int> m_levelByExtension;  // choices of trial compressions, by extension
    std::string m_failure;  // set when writing went wrong
    int32_t m_failureCode = 0;

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

int32_t Job::RunSteps() {
    if (m_o.encrypt) return Fail(kCodeUnsupported, "Encryption is not supported; nothing was added.");
    if (m_o.archive.empty()) return Fail(kCodeBadRequest, "No archive name was given.");
    if (!ReadOld()) return 0;

    // The temporary archive goes to the temporary folder if there is one, else beside the
    // archive (where it is copied when the two are on different file systems). Temporary files
    // of runs that died there go first, before a wildcard could pick them up.
    std::string folder = m_o.tempDir;
    struct stat st {};
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) folder = FolderOf(m_o.archive);
    TempFile::RemoveStaleIn(folder);
    if (folder != FolderOf(m_o.archive)) TempFile::RemoveStaleIn(FolderOf(m_o.archive));

    SelectionOptions sel;
    sel.recurse = m_o.recurse;
    sel.hidden = m_o.hidden;
    sel.dropDirNames = m_o.dropDirNames;
    sel.folderEntries = m_o.folderEntries;
    sel.forceDos = m_o.forceDos;
    std::vector<SelectionWarning> warnings;
    std::vector<SelectedItem> items = SelectFiles(m_o.specs, sel, warnings);
    // Warnings about skipped names follow the totals, which come first; when the work stops
    // before the totals, they precede the reason.
    auto warn = [&] {
        for (const auto& w : warnings) {
            Message(kCodeSkipped, "Warning: " + w.spec + " " + w.text + ".");
            if (m_stopped) return false;
        }
        return true;
    };
    // The archive never packs itself (a wildcard in its own folder would find it).
    struct stat archiveStat {};
    if (stat(m_o.archive.c_str(), &archiveStat) == 0) {
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&](const SelectedItem& i) {
                                       return !i.isFolder && i.device == archiveStat.st_dev && i.inode == archiveStat.st_ino;
                                   }),
                    items.end());
    }
    Plan(items);
    if (m_newCount == 0) {
        if (!warn()) return Cancelled();
        Message(kCodeNothingToDo, "Nothing to do: no file to add or replace. The archive was left unchanged.");
        return 0;
    }
    if (!CheckLimits(warn)) return 0;
    if (!Say(ecbTotalFiles, 0, int64_t(m_newCount), "") || !Say(ecbTotalSize, 0, int64_t(m_newBytes), "") || !warn())
        return Cancelled();

    if (!m_out.CreateIn(folder))
        return Fail(kCodeWriteFailed, "The temporary archive cannot be created in " + folder + ": " +
                                          std::strerror(m_out.Error()) + ".");
    if (!WriteAll()) {
        m_out.Discard();
        if (m_stopped) return Cancelled();
        return Fail(m_failureCode, m_failure);
    }
    if (!PutInPlace()) {
        m_out.Discard();
        return Fail(kCodeWriteFailed, m_failure);
    }

    // The archive is in place: only now may the sources of a move go.
    time_t newest = 0;
    for (const Slot& s : m_slots)
        newest = std::max(newest, s.keep ? m_old.entries[s.index].modified : m_items[s.index].modified);
    if (m_o.move) {
        for (const Slot& s : m_slots) {
            if (s.keep || m_items[s.index].isFolder) continue;
            if (unlink(m_items[s.index].source.c_str()) != 0)
                Message(kCodeMoveFailed, "Warning: " + m_items[s.index].source + " was added but cannot be deleted: " +
                                             std::strerror(errno) + ".");
        }
    }
    if (m_o.zipTime && newest > 0) {
        struct timespec times[2] = {{newest, 0}, {newest, 0}};
        utimensat(AT_FDCWD, m_o.archive.c_str(), times, 0);
    }
    return int32_t(m_newCount);
}

bool Job::ReadOld() {
    if (stat(m_o.archive.c_str(), &m_oldStat) != 0) return true;  // a new archive
    if (!S_ISREG(m_oldStat.st_mode)) {
        Fail(kCodeBadArchive, "The archive " + m_o.archive + " is not a file.");
        return false;
    }
    if (m_oldStat.st_size == 0) return true;  // an empty file is taken as a new archive
    ReadableFile file = OpenReadable(m_o.archive);
    if (!file.error.empty()) {
        Fail(kCodeBadArchive, "The archive " + m_o.archive + " cannot be opened: " + file.error + ".");
        return false;
    }
    m_oldFile = std::make_unique<FileSource>(file.fd);
    ReadResult r = ReadExistingArchive(*m_oldFile, m_old);
    if (!r.ok) {
        Fail(kCodeBadArchive, "The archive " + m_o.archive + " cannot be updated: " + r.error + ".");
        return false;
    }
    m_haveOld = true;
    return true;
}

void Job::Plan(const std::vector<SelectedItem>& items) {
    m_items = items;
    std::map<std::string, size_t> byName;  // old entries by name, letter case ignored
    for (size_t i = 0; i < m_old.entries.size(); ++i) byName.emplace(Upper(m_old.entries[i].name), i);
    std::vector<long> replacedBy(m_old.entries.size(), -1);
    std::vector<size_t> appended;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const SelectedItem& item = m_items[i];
        auto it = byName.find(Upper(item.archiveName));
        if (it == byName.end()) {
            if (!m_o.freshen || m_o.update) appended.push_back(i);
            continue;
        }
        if (item.isFolder || replacedBy[it->second] >= 0) continue;  // folder entries are kept as they are
        const ExistingEntry& old = m_old.entries[it->second];
        if (m_o.update || m_o.freshen) {
            // Replace only an entry older than its file. Without an extended timestamp the
            // entry's time is a DOS time of even seconds, so the file's time is taken so too.
            bool older;
            if (old.exactTime) {
                older = old.modified < item.modified;
            } else {
                const auto* h = reinterpret_cast<const unsigned char*>(old.centralHeader.data());
                DosDateTime d = ToDosDateTime(item.modified);
                older = (uint32_t(Get16(h + 14)) << 16 | Get16(h + 12)) < (uint32_t(d.date) << 16 | d.time);
            }
            if (!older) continue;
        }
        replacedBy[it->second] = long(i);
    }
    for (size_t k = 0; k < m_old.entries.size(); ++k)
        m_slots.push_back(replacedBy[k] >= 0 ? Slot{false, size_t(replacedBy[k])} : Slot{true, k});
    for (size_t i : appended) m_slots.push_back({false, i});
    for (const Slot& s : m_slots) {
        if (s.keep) continue;
        ++m_newCount;
        m_newBytes += m_items[s.index].size;
    }
}

template <class Warn>
bool Job::CheckLimits(Warn& warn) {
    uint64_t total = m_old.prefixLength, directory = 0;
    for (const Slot& s : m_slots) {
        if (s.keep) {
            total += m_old.entries[s.index].entryLength;
            directory += m_old.entries[s.index].centralHeader.size();
            continue;
        }
        const SelectedItem& item = m_items[s.index];
        if (item.size >= kMax32) {
            warn();
            Fail(kCodeTooLarge, item.source + " is 4 GiB or larger, more than a zip archive without 64-bit records holds.");
            return false;
        }
        // Deflate data that would not be smaller is stored, so the stored size is the most.
        total += kLocalHeaderSize + item.archiveName.size() + kExtTimeFieldSize + item.size;
        directory += kCentralHeaderSize + item.archiveName.size() + kExtTimeFieldSize;
    }
    if (m_slots.size() > kMaxEntries) {
        warn();
        Fail(kCodeTooLarge, "The archive would hold " + std::to_string(m_slots.size()) +
                                " entries, more than the 65,535 a zip archive without 64-bit records holds.");
        return false;
    }
    if (total + directory + kEndRecordSize + m_old.comment.size() > kMax32) {
        warn();
        Fail(kCodeTooLarge, "The archive could grow beyond 4 GiB, more than a zip archive without 64-bit records holds.");
        return false;
    }
    return true;
}

std::string Job::LocalHeader(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed) const {
    std::string h;
    DosDateTime d = ToDosDateTime(item.modified);
    Append32(h, kLocalHeaderSig);
    Append16(h, method == kMethodDeflated || item.isFolder ? kVersionNeededDeflated : kVersionNeededStored);
    Append16(h, NeedsUtf8Flag(item.archiveName) ? kFlagUtf8 : 0);
    Append16(h, method);
    Append16(h, d.time);
    Append16(h, d.date);
    Append32(h, crc);
    Append32(h, uint32_t(compressed));
    Append32(h, uint32_t(item.size));
    Append16(h, uint16_t(item.archiveName.size()));
    Append16(h, uint16_t(kExtTimeFieldSize));
    h += item.archiveName;
    Append16(h, kExtTimeTag);
    Append16(h, 5);
    h.push_back(1);
    Append32(h, uint32_t(item.modified));
    return h;
}

std::string Job::CentralHeader(const SelectedItem& item, uint16_t method, uint32_t crc, uint64_t compressed,
                               uint64_t localPosition) const {
    std::string local = LocalHeader(item, method, crc, compressed);
    std::string h;
    Append32(h, kCentralHeaderSig);
    Append16(h, kVersionMadeBy);
    h.append(local, 4, 26);  // version needed to extract ... extra field length
    Append16(h, 0);          // comment length
    Append16(h, 0);          // disk number start
    Append16(h, 0);          // internal attributes
    uint32_t attributes = item.isFolder ? kDosDirectory : kDosArchive;
    if (item.readOnly) attributes |= kDosReadOnly;
    Append32(h, attributes);
    Append32(h, uint32_t(localPosition - m_old.offsetDelta));
    h.append(local, kLocalHeaderSize, std::string::npos);  // name and extra field
    return h;
}

void Job::KeepEntry(size_t index) {
    const ExistingEntry& e = m_old.entries[index];
    std::string central = e.centralHeader;
    Put32(reinterpret_cast<unsigned char*>(central.data()) + 42, uint32_t(m_out.Position() - m_old.offsetDelta));
    m_central.push_back(std::move(central));
    std::vector<unsigned char> buffer(size_t(std::min<uint64_t>(e.entryLength, uint64_t(1) << 20)));
    for (uint64_t done = 0; done < e.entryLength && !m_out.Failed();) {
        size_t n = size_t(std::min<uint64_t>(buffer.size(), e.entryLength - done));
        if (!m_oldFile->ReadAt(e.localPosition + done, buffer.data(), n)) {
            m_failureCode = kCodeReadFailed;
            m_failure = "The entry " + e.name + " of the old archive cannot be read.";
            return;
        }
        m_out.Write(buffer.data(), n);
        done += n;
    }
}

bool Job::WriteNoData(size_t itemIndex) {
    const SelectedItem& item = m_items[itemIndex];
    if (!Say(ecbNewFile, 0, 0, item.archiveName)) return false;
    uint64_t position = m_out.Position();
    m_out.Write(LocalHeader(item, kMethodStored, 0, 0));
    m_central.push_back(CentralHeader(item, kMethodStored, 0, 0, position));
    if (m_o.verbose) Message(kCodeNone, "  adding: " + item.archiveName + " (stored 0%)");
    return !m_stopped;
}

bool Job::TakeChunk(std::unique_ptr<Chunk> chunk) {
    const SelectedItem& item = m_items[chunk->item];
    if (chunk->failed) {
        m_failureCode = kCodeNoMemory;
        m_failure = "Compressing " + item.source + " failed.";
        return false;
    }
    if (chunk->first) {
        if (!Say(ecbNewFile, 0, int64_t(item.size), item.archiveName)) return false;
        m_w = Writing{};
        m_w.item = chunk->item;
        m_w.headerPosition = m_out.Position();
        m_w.deflate = chunk->level > 0;
        if (chunk->last) {
            // The whole file is here: store it when deflate did not make it smaller.
            m_w.deflate = m_w.deflate && chunk->output.size() < chunk->input.size();
        }
        m_out.Write(LocalHeader(item, m_w.deflate ? kMethodDeflated : kMethodStored, 0, 0));
        m_w.dataStart = m_out.Position();
    }
    const auto& data = m_w.deflate ? chunk->output : chunk->input;
    m_out.Write(data.data(), data.size());
    m_w.compressed += data.size();
    m_w.crc = chunk->first ? chunk->crc : uint32_t(crc32_combine(m_w.crc, chunk->crc, z_off_t(chunk->input.size())));
    m_w.consumed += chunk->input.size();
    if (!Say(ecbProgress, 0, int64_t(chunk->input.size()), "")) return false;
    if (!chunk->last) return true;

    if (m_w.deflate && m_w.compressed >= item.size && !RewriteStored()) return false;
    uint16_t method = m_w.deflate ? kMethodDeflated : kMethodStored;
    std::string header = LocalHeader(item, method, m_w.crc, m_w.compressed);
    m_out.Patch(m_w.headerPosition, header.data(), kLocalHeaderSize);
    m_central.push_back(CentralHeader(item, method, m_w.crc, m_w.compressed, m_w.headerPosition));
    if (m_o.verbose) {
        int saved = item.size ? int(100 - (m_w.compressed * 100) / item.size) : 0;
        Message(kCodeNone, "  adding: " + item.archiveName + (method == kMethodDeflated ? " (deflated " : " (stored ") +
                               std::to_string(saved) + "%)");
    }
    return !m_stopped;
}

// The libdeflate level for a file (0: store it). Large files are each tried on samples of
// their start, middle and end; smaller ones follow the last trial of a file with their
// extension, since files of one kind (table data, map objects, indexes) compress alike.
int Job::LevelFor(const SelectedItem& item, int fd, int requested) {
    if (requested <= 0) return 0;
    size_t dot = item.source.rfind('.');
    size_t slash = item.source.rfind('/');
    std::string extension = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                                ? std::string()
                                : Upper(item.source.substr(dot));
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
        ssize_t n = pread(fd, sample.data() + old, want, off_t(at));
        sample.resize(old + size_t(std::max<ssize_t>(n, 0)));
    }
    int level = m_chooser.Choose(sample.data(), sample.size(), requested).level;
    m_levelByExtension[extension] = level;
    return level;
}

// The deflate data of a file came out no smaller than the file: store the file instead.
bool Job::RewriteStored() {
    const SelectedItem& item = m_items[m_w.item];
    m_out.Truncate(m_w.dataStart);
    int fd = OpenReadable(item.source).fd;
    std::vector<unsigned char> buffer(kChunkSize);
    uint32_t crc = 0;
    bool ok = fd >= 0;
    for (uint64_t done = 0; ok && done < item.size;) {
        size_t n = size_t(std::min<uint64_t>(buffer.size(), item.size - done));
        ok = ReadFully(fd, buffer.data(), n);
        if (!ok) break;
        crc = uint32_t(crc32(crc, buffer.data(), uInt(n)));
        m_out.Write(buffer.data(), n);
        done += n;
    }
    if (fd >= 0) close(fd);
    if (!ok || crc != m_w.crc) {
        m_failureCode = kCodeReadFailed;
        m_failure = item.source + " cannot be read again or changed while it was packed.";
        return false;
    }
    m_w.deflate = false;
    m_w.compressed = item.size;
    return true;
}

bool Job::WriteAll() {
    if (m_haveOld && m_old.prefixLength > 0) {
        // The prefix (a self-extractor stub and its header) goes over unchanged.
        std::vector<unsigned char> buffer(size_t(1) << 20);
        for (uint64_t done = 0; done < m_old.prefixLength;) {
            size_t n = size_t(std::min<uint64_t>(buffer.size(), m_old.prefixLength - done));
            if (!m_oldFile->ReadAt(done, buffer.data(), n)) {
                m_failureCode = kCodeReadFailed;
                m_failure = "The old archive cannot be read.";
                return false;
            }
            m_out.Write(buffer.data(), n);
            done += n;
        }
    }

    const int level = std::clamp(m_o.level, 0, 9);
    unsigned threads = m_o.threads ? m_o.threads : std::max(1u, std::thread::hardware_concurrency());
    CompressionPipeline pipeline(threads);

    // What is to be written next, in archive order: kept entries, entries without data, and
    // the chunks handed to the pipeline (taken back from it in the same order).
    enum class Kind { Keep, NoData, Chunk };
    std::deque<std::pair<Kind, size_t>> pending;
    size_t slot = 0;
    int fd = -1;
    uint64_t offset = 0;  // read position in the file being cut into chunks
    int chunkLevel = 0;
    struct FdCloser {
        int& fd;
        ~FdCloser() {
            if (fd >= 0) close(fd);
        }
    } closer{fd};

    for (;;) {
        // Fill: hand out chunks until the pipeline holds as many as the memory budget allows.
        while (slot < m_slots.size() && pipeline.InFlight() < pipeline.MaxInFlight()) {
            const Slot& s = m_slots[slot];
            if (s.keep) {
                pending.push_back({Kind::Keep, s.index});
                ++slot;
                continue;
            }
            const SelectedItem& item = m_items[s.index];
            if (item.isFolder || item.size == 0) {
                pending.push_back({Kind::NoData, s.index});
                ++slot;
                continue;
            }
            if (fd < 0) {
                ReadableFile file = OpenReadable(item.source);
                if (file.fd < 0) {
                    m_failureCode = kCodeReadFailed;
                    m_failure = item.source + " cannot be opened: " + file.error + ".";
                    return false;
                }
                fd = file.fd;
                offset = 0;
                chunkLevel = LevelFor(item, fd, level);
                posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            }
            auto chunk = pipeline.Recycled();
            size_t n = size_t(std::min<uint64_t>(kChunkSize, item.size - offset));
            chunk->item = s.index;
            chunk->first = offset == 0;
            chunk->last = offset + n == item.size;
            chunk->level = chunkLevel;
            chunk->input.resize(n);
            if (!ReadFully(fd, chunk->input.data(), n)) {
                m_failureCode = kCodeReadFailed;
                m_failure = item.source + " cannot be read (it may have changed while it was packed).";
                return false;
            }
            offset += n;
            pipeline.Submit(std::move(chunk));
            pending.push_back({Kind::Chunk, s.index});
            if (offset == item.size) {
                close(fd);
                fd = -1;
                ++slot;
            }
        }
        if (pending.empty()) break;

        // Drain one, in order.
        auto [kind, index] = pending.front();
        pending.pop_front();
        if (kind == Kind::Keep) {
            KeepEntry(index);
        } else if (kind == Kind::NoData) {
            if (!WriteNoData(index)) return false;
        } else {
            auto chunk = pipeline.TakeOldest();
            bool ok = TakeChunk(std::move(chunk)) ? true : false;
            if (!ok) return false;
        }
        if (!m_failure.empty()) return false;
        if (m_out.Failed()) {
            m_failureCode = kCodeWriteFailed;
            m_failure = "The temporary archive cannot be written: " + std::string(std::strerror(m_out.Error())) + ".";
            return false;
        }
        if (m_stopped) return false;
    }

    // Central directory and end record.
    const uint64_t cdStart = m_out.Position();
    for (const std::string& c : m_central) m_out.Write(c);
    const uint64_t cdSize = m_out.Position() - cdStart;
    if (m_out.Position() + kEndRecordSize + m_old.comment.size() > kMax32) {
        m_failureCode = kCodeTooLarge;
        m_failure = "The archive grew beyond 4 GiB.";
        return false;
    }
    std::string end;
    Append32(end, kEndRecordSig);
    Append16(end, 0);
    Append16(end, 0);
    Append16(end, uint16_t(m_central.size()));
    Append16(end, uint16_t(m_central.size()));
    Append32(end, uint32_t(cdSize));
    Append32(end, uint32_t(cdStart - m_old.offsetDelta));
    Append16(end, uint16_t(m_old.comment.size()));
    end += m_old.comment;
    m_out.Write(end);
    mode_t mode = m_oldStat.st_mode & 07777;  // the old archive's permissions, if there was one
    if (mode == 0) {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(m_out.Descriptor(), mode) != 0) {
        // Not fatal: the archive keeps the temporary file's owner-only permissions.
    }
    if (!m_out.Finish()) {
        m_failureCode = kCodeWriteFailed;
        m_failure = "The temporary archive cannot be written: " + std::string(std::strerror(m_out.Error())) + ".";
        return false;
    }
    return true;
}

bool Job::PutInPlace() {
    if (rename(m_out.Path().c_str(), m_o.archive.c_str()) == 0) {
        m_out.Forget();
        SyncFolder(FolderOf(m_o.archive));
        return true;
    }
    if (errno != EXDEV) {
        m_failure = "The new archive cannot replace " + m_o.archive + ": " + std::strerror(errno) + ".";
        return false;
    }
    // The temporary folder is on another file system: copy beside the archive, then rename.
    OutputFile beside;
    if (!beside.CreateIn(FolderOf(m_o.archive))) {
        m_failure = "The new archive cannot be copied beside " + m_o.archive + ".";
        return false;
    }
    int in = open(m_out.Path().c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<unsigned char> buffer(size_t(1) << 20);
    ssize_t n = 0;
    while (in >= 0 && (n = read(in, buffer.data(), buffer.size())) > 0) beside.Write(buffer.data(), size_t(n));
    if (in >= 0) close(in);
    struct stat st {};
    if (stat(m_out.Path().c_str(), &st) == 0) fchmod(beside.Descriptor(), st.st_mode & 07777);
    if (in < 0 || n < 0 || !beside.Finish() || rename(beside.Path().c_str(), m_o.archive.c_str()) != 0) {
        m_failure = "The new archive cannot replace " + m_o.archive + ".";
        return false;
    }
    beside.Forget();
    SyncFolder(FolderOf(m_o.archive));
    m_out.Discard();
    return true;
}

}  // namespace

int32_t RunJob(const JobOptions& options, Reporter& reporter) {
    Job job(options, reporter);
    return job.Run();
}

}  // namespace zipengine
