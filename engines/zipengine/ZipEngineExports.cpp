// The library's two entry points: they read the call record, run the operation and relay
// its reports to the caller's callback on the calling thread.
#include <cstring>
#include <new>

#include "ArchiveUpdate.h"
#include "zipengine/ZipEngine.h"

namespace {

// The engine's version; 151 and later take the record with the array of file patterns.
constexpr int32_t kEngineVersion = ZIPENGINE_RECORD_VERSION;  // the record layout it reads

class CallbackReporter : public zipengine::Reporter {
public:
    CallbackReporter(EngineCallbackFunc callback, void* caller) : m_callback(callback), m_caller(caller) {}

    bool Report(int32_t action, int32_t code, int64_t number, const std::string& text) override {
        if (!m_callback) return true;
        EngineCallbackRecord record;
        std::memset(&record, 0, sizeof record);
        record.caller = m_caller;
        record.action = action;
        record.errorCode = code;
        record.number = int32_t(uint32_t(Scaled(action, uint64_t(number))));
        record.byteUnitShift = m_shift;
        std::memcpy(record.text, text.data(), std::min(text.size(), sizeof record.text - 1));
        return m_callback(&record) != -1;
    }

private:
    // The number a byte count travels as: see byteUnitShift in ZipCallback.h.
    uint64_t Scaled(int32_t action, uint64_t number) {
        switch (action) {
            case ecbTotalSize:
                m_shift = 0;
                while ((number >> m_shift) > 0xFFFFFFFFu) ++m_shift;
                m_done = 0;
                m_sent = 0;
                return number >> m_shift;
            case ecbNewFile: return number >> m_shift;
            case ecbProgress: {
                m_done += number;
                const uint64_t units = m_done >> m_shift;
                const uint64_t step = units - m_sent;
                m_sent = units;
                return step;
            }
            default: return number;
        }
    }

    EngineCallbackFunc m_callback;
    void* m_caller;
    uint32_t m_shift = 0;  // byte counts count units of 2^m_shift bytes
    uint64_t m_done = 0;   // bytes reported as progress since the total
    uint64_t m_sent = 0;   // the same in units, as sent
};

bool On(int32_t flag) { return flag != 0; }

}  // namespace

extern "C" ZIPENGINE_EXPORT int32_t ZIPENGINE_CALL GetZipEngineVersion(void) { return kEngineVersion; }

extern "C" ZIPENGINE_EXPORT int32_t ZIPENGINE_CALL ZipEngineExec(EngineCallRecord* record) {
    if (!record) return 0;
    const EngineCallHead& head = record->head;
    CallbackReporter reporter(head.callback, head.caller);
    try {
        zipengine::JobOptions o;
        if (head.archiveName) o.archive = head.archiveName;
        if (record->tempDir) o.tempDir = record->tempDir;
        if (head.specCount > 0 && record->fileSpecs) {
            for (int32_t i = 0; i < head.specCount; ++i)
                if (record->fileSpecs[i].spec && *record->fileSpecs[i].spec)
                    o.specs.emplace_back(record->fileSpecs[i].spec);
        }
        o.level = head.compLevel;
        o.recurse = head.recurse != 0;
        o.hidden = On(head.hiddenFiles);
        o.dropDirNames = On(head.dropDirNames);
        o.folderEntries = !On(head.noDirEntries);
        o.forceDos = On(head.forceDos);
        o.move = On(head.move);
        o.update = On(head.update);
        o.freshen = On(head.freshen) && !o.update;
        o.zipTime = On(head.zipTime);
        o.encrypt = On(head.encrypt);
        o.verbose = On(head.verbose) || On(head.trace);
        return zipengine::RunJob(o, reporter);
    } catch (const std::bad_alloc&) {
        reporter.Report(ecbMessage, zipengine::kCodeNoMemory, 0, "Out of memory. The archive was left unchanged.");
    } catch (const std::exception& e) {
        reporter.Report(ecbMessage, zipengine::kCodeWriteFailed, 0,
                        std::string(e.what()) + ". The archive was left unchanged.");
    } catch (...) {
        reporter.Report(ecbMessage, zipengine::kCodeWriteFailed, 0,
                        "Unexpected failure. The archive was left unchanged.");
    }
    reporter.Report(ecbEndOfBatch, 0, 0, "");
    return 0;
}
