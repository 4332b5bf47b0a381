#pragma once
// A stand-in zip engine for the component's tests: it records the call record it receives,
// plays a scripted list of callbacks, optionally writes given bytes as the archive, and
// returns a chosen count. Tests reach its state through TestEngineState().
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "zipengine/ZipEngine.h"

struct TestEngineCallbackStep {
    std::int32_t action = 0;
    std::int32_t errorCode = 0;
    std::int32_t number = 0;
    std::string text;       // copied into the 512-byte field
    bool fillText = false;  // fill all 512 bytes with 'x', no zero byte
};

struct TestEngineCall {
    bool newStyle = false;
    EngineCallHead head{};
    std::array<char, ZIPENGINE_PASSWORD_MAX + 1> passwordBuffer{};
    std::string archiveName;
    bool tempDirNull = true;
    std::string tempDir;
    std::vector<std::string> specs;
    std::int32_t tag = 0;
    bool reservedZero = true;        // every reserved field and the unused bytes are 0
    std::vector<unsigned char> raw;  // the record's bytes as received
};

struct TestEngineStateData {
    std::int32_t version = 158;
    std::int32_t result = 1;
    std::vector<TestEngineCallbackStep> script;
    std::vector<std::int32_t> answers;  // what each callback answered
    bool stopOnCancel = true;           // stop playing the script at an answer of -1
    std::string archiveBytes;           // written to the archive name when not empty
    int calls = 0;
    int versionCalls = 0;
    TestEngineCall last;
};

extern "C" TestEngineStateData* TestEngineState();
