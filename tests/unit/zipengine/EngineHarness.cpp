#include "EngineHarness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>

#include "TestSupport.h"
#include "zipengine/ZipEngine.h"

extern "C" int32_t ZipEngineExec(EngineCallRecord* record);

namespace zipengine_test {

namespace {

struct Recorder {
    const EngineCall* call = nullptr;
    EngineResult* result = nullptr;
};

int32_t ZIPENGINE_CALL Callback(EngineCallbackRecord* record) {
    auto* recorder = static_cast<Recorder*>(record->caller);
    EngineEvent e;
    e.action = record->action;
    e.code = record->errorCode;
    e.number = record->number;
    e.unitShift = record->byteUnitShift;
    e.text.assign(record->text, strnlen(record->text, sizeof record->text));
    recorder->result->events.push_back(e);
    return recorder->call->answer ? recorder->call->answer(e) : 0;
}

int32_t Flag(bool on) { return on ? ZIPENGINE_FLAG_ON : ZIPENGINE_FLAG_OFF; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

std::vector<int32_t> EngineResult::Actions() const {
    std::vector<int32_t> out;
    for (const auto& e : events) out.push_back(e.action);
    return out;
}

std::vector<std::string> EngineResult::Messages() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.action == ecbMessage) out.push_back(std::to_string(e.code) + ": " + e.text);
    return out;
}

EngineResult RunEngine(const EngineCall& call) {
    EngineResult result;
    Recorder recorder{&call, &result};
    std::vector<std::string> texts(call.specs);
    std::vector<FileSpecEntry> specs(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        std::memset(&specs[i], 0, sizeof specs[i]);
        specs[i].spec = texts[i].data();
    }
    std::string archive = call.archive, tempDir = call.tempDir;
    char password[ZIPENGINE_PASSWORD_MAX + 1] = {};

    EngineCallRecord record;
    std::memset(&record, 0, sizeof record);
    EngineCallHead& h = record.head;
    h.caller = &recorder;
    h.recordVersion = ZIPENGINE_RECORD_VERSION;
    h.callback = &Callback;
    h.password = password;
    h.encrypt = Flag(call.encrypt);
    h.verbose = Flag(call.verbose);
    h.hiddenFiles = Flag(call.hidden);
    h.noDirEntries = Flag(!call.separateDirs);
    h.alwaysOn56 = ZIPENGINE_FLAG_ON;
    h.compLevel = call.level;
    h.dropDirNames = Flag(!call.dirNames);
    h.recurse = call.recurse ? ZIPENGINE_RECURSE_ON : 0;
    h.alwaysOn80 = ZIPENGINE_FLAG_ON;
    h.forceDos = Flag(call.forceDos);
    h.move = Flag(call.move);
    h.update = Flag(call.update);
    h.freshen = Flag(call.freshen && !call.update);
    h.zipTime = Flag(call.zipTime);
    h.specCount = int32_t(specs.size());
    h.archiveName = archive.data();
    record.tempDir = tempDir.empty() ? nullptr : tempDir.data();
    record.fileSpecs = specs.data();
    record.tag = ZIPENGINE_RECORD_TAG;
    result.count = ZipEngineExec(&record);
    return result;
}

ScopedChdir::ScopedChdir(const std::string& folder) {
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) throw std::runtime_error("getcwd failed");
    m_previous = buf;
    if (chdir(folder.c_str()) != 0) throw std::runtime_error("chdir failed: " + folder);
}

ScopedChdir::~ScopedChdir() {
    if (chdir(m_previous.c_str()) != 0) std::abort();
}

std::map<std::string, ListedEntry> ArchiveCheck::ByName() const {
    std::map<std::string, ListedEntry> out;
    for (const auto& e : entries) out[e.name] = e;
    return out;
}

ArchiveCheck CheckArchive(const std::string& archive, bool allTools) {
    using namespace testing_support;
    ArchiveCheck check;
    auto py = RunCommand("python3 " + Quote(SourceDir() + "/tests/unit/zipengine/check_zip.py") + " " + Quote(archive) +
                         " 2>&1");
    check.report += "python: " + py.output.substr(0, 2000) + "\n";
    std::istringstream lines(py.output);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (first) {
            check.pythonOk = py.status == 0 && line == "OK";
            first = false;
            continue;
        }
        std::vector<std::string> f;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) f.push_back(field);
        if (f.size() != 10) continue;
        ListedEntry e;
        e.name = f[0];
        e.size = std::stoull(f[1]);
        e.compressedSize = std::stoull(f[2]);
        e.method = std::stoi(f[3]);
        e.attributes = uint32_t(std::stoul(f[4]));
        e.flags = std::stoi(f[5]);
        e.system = std::stoi(f[6]);
        e.headerOffset = std::stoull(f[7]);
        e.dateTime = f[8];
        e.sha256 = f[9];
        check.entries.push_back(e);
    }
    if (allTools && HaveTool("unzip")) {
        auto r = RunCommand("unzip -t -qq " + Quote(archive) + " 2>&1");
        check.unzipOk = r.status == 0;
        check.report += "unzip: " + r.output.substr(0, 2000) + "\n";
    }
    if (allTools && HaveTool("7z")) {
        auto r = RunCommand("7z t " + Quote(archive) + " 2>&1");
        check.sevenZipOk = r.status == 0;
        if (!check.sevenZipOk) check.report += "7z: " + r.output.substr(0, 2000) + "\n";
    }
    return check;
}

std::string Sha256(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = char(rng() & 0xFF);
    return s;
}

std::string TextBytes(size_t size, uint32_t seed) {
    static const char* words[] = {"Roads",   "Rivers",        "Parcels",    "Table",  "Type", "NATIVE",
                                  "Charset", "WindowsLatin1", "Definition", "Fields", "Char", "Integer",
                                  "Float",   "Index",         "Open",       "Map",    "From", "Layer",
                                  "Set",     "Zoom",          "Units",      "km"};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(size + 32);
    while (s.size() < size) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += (rng() % 9 == 0) ? "\r\n" : " ";
        if (rng() % 7 == 0) s += std::to_string(rng() % 100000);
    }
    s.resize(size);
    return s;
}

void SetTime(const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat failed: " + path);
}

}  // namespace zipengine_test
