// Built as libzipengine.so in three variants: complete, without ZipEngineExec
// (TEST_ENGINE_NO_EXEC) and without GetZipEngineVersion (TEST_ENGINE_NO_VERSION).
#include <cstdio>
#include <cstring>

#include "TestEngine.h"

namespace {

TestEngineStateData& State() {
    static TestEngineStateData state;
    return state;
}

template <typename T>
bool AllZero(const T* p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (p[i] != 0) return false;
    return true;
}

bool HeadReservedZero(const EngineCallHead& h) {
    return h.reserved24 == 0 && h.reserved36 == 0 && h.reserved40 == 0 && h.reserved48 == 0 && h.reserved64 == 0 &&
           h.reserved68 == 0 && h.reserved78 == 0 && h.reserved92 == 0 && h.reserved104 == 0 && h.reserved112[0] == 0 &&
           h.reserved112[1] == 0;
}

[[maybe_unused]] void Record(EngineCallRecord* record) {
    TestEngineCall call;
    const EngineCallHead& head = record->head;
    call.head = head;
    if (head.password) std::memcpy(call.passwordBuffer.data(), head.password, call.passwordBuffer.size());
    if (head.archiveName) call.archiveName = head.archiveName;
    call.reservedZero = HeadReservedZero(head);
    if (State().version >= ZIPENGINE_FILESPEC_ARRAY_VERSION) {
        call.newStyle = true;
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        call.raw.assign(bytes, bytes + sizeof(EngineCallRecord));
        call.tempDirNull = record->tempDir == nullptr;
        if (record->tempDir) call.tempDir = record->tempDir;
        call.tag = record->tag;
        call.reservedZero = call.reservedZero && record->reserved132 == 0 && record->reserved136 == 0 &&
                            AllZero(record->reserved144, 17);
        for (int i = 0; i < head.specCount; ++i) {
            call.specs.push_back(record->fileSpecs[i].spec ? record->fileSpecs[i].spec : "(null)");
            call.reservedZero = call.reservedZero && AllZero(record->fileSpecs[i].reserved, 100);
        }
    } else {
        auto* old = reinterpret_cast<EngineCallRecordOld*>(record);
        const auto* bytes = reinterpret_cast<const unsigned char*>(old);
        call.raw.assign(bytes, bytes + sizeof(EngineCallRecordOld));
        call.tag = old->tag;
        for (int i = 0; i < head.specCount && i < ZIPENGINE_OLD_MAX_SPECS; ++i)
            call.specs.push_back(old->specs[i] ? old->specs[i] : "(null)");
        for (int i = head.specCount; i < ZIPENGINE_OLD_MAX_SPECS; ++i)
            if (old->specs[i] != nullptr) call.reservedZero = false;
    }
    State().last = call;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) TestEngineStateData* TestEngineState() { return &State(); }

#ifndef TEST_ENGINE_NO_EXEC
__attribute__((visibility("default"))) int32_t ZipEngineExec(EngineCallRecord* record) {
    TestEngineStateData& state = State();
    ++state.calls;
    Record(record);
    for (const TestEngineCallbackStep& step : state.script) {
        EngineCallbackRecord cb;
        std::memset(&cb, 0, sizeof cb);
        cb.caller = record->head.caller;
        cb.action = step.action;
        cb.errorCode = step.errorCode;
        cb.number = step.number;
        if (step.fillText) std::memset(cb.text, 'x', sizeof cb.text);
        else std::strncpy(cb.text, step.text.c_str(), sizeof cb.text - 1);
        const int32_t answer = record->head.callback(&cb);
        state.answers.push_back(answer);
        if (answer == -1 && state.stopOnCancel) break;
    }
    if (!state.archiveBytes.empty() && record->head.archiveName) {
        if (std::FILE* f = std::fopen(record->head.archiveName, "wb")) {
            std::fwrite(state.archiveBytes.data(), 1, state.archiveBytes.size(), f);
            std::fclose(f);
        }
    }
    return state.result;
}
#endif

#ifndef TEST_ENGINE_NO_VERSION
__attribute__((visibility("default"))) int32_t GetZipEngineVersion(void) {
    ++State().versionCalls;
    return State().version;
}
#endif
}
