// The component against the test engine: loading, the refusals of Add and what they leave,
// the call record of both versions, the callbacks, and the numbered messages.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestEngine.h"
#include "TestSupport.h"
#include "ZipFixtures.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipMessages.h"

using namespace zip;
using testing_support::ScopedRecordingUI;
using testing_support::TempDir;
using testing_support::TestBinDir;
using testing_support::WriteText;

namespace {

std::string EngineDir(const std::string& variant) { return TestBinDir() + "/" + variant; }

// Holds the test engine loaded for the whole test, so its recorded state outlives the
// component's own load and unload.
class ZipArchiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = ::dlopen((EngineDir("testengine") + "/libzipengine.so").c_str(), RTLD_NOW);
        ASSERT_NE(m_handle, nullptr) << ::dlerror();
        auto get = reinterpret_cast<TestEngineStateData* (*)()>(::dlsym(m_handle, "TestEngineState"));
        ASSERT_NE(get, nullptr);
        state = get();
        *state = TestEngineStateData{};
        zip.SetDLLDirectory(EngineDir("testengine"));
        zip.OnMessage = [this](TZipArchiver& sender, std::int32_t code, const std::string& text) {
            messages.push_back(sender.ErrCode());
            messageCodes.push_back(code);
            messageTexts.push_back(text);
        };
        zip.TempDir = dir.path();
    }
    void TearDown() override {
        zip.UnloadEngine();
        if (m_handle) ::dlclose(m_handle);
    }
    void AddTwo() { zip.FSpecArgs() = {"a.txt", "sub\\b.txt"}; }

    TempDir dir;
    ScopedRecordingUI ui;
    int owner = 0;
    TZipArchiver zip{&owner};
    TestEngineStateData* state = nullptr;
    std::vector<int> messages;
    std::vector<int> messageCodes;
    std::vector<std::string> messageTexts;

private:
    void* m_handle = nullptr;
};

TEST_F(ZipArchiverTest, DLLDirectoryDropsOneTrailingBackslash) {
    zip.SetDLLDirectory("C:\\Engines\\");
    EXPECT_EQ(zip.DLLDirectory(), "C:\\Engines");
    zip.SetDLLDirectory("C:\\Engines\\\\");
    EXPECT_EQ(zip.DLLDirectory(), "C:\\Engines\\");
    zip.SetPassword(std::string(300, 'p'));
    EXPECT_EQ(zip.Password().size(), 255u);
}

struct Refusal {
    const char* name;
    std::function<void(TZipArchiver&, const std::string& dir)> setUp;
    int message;
};

class ZipAddRefusalTest : public ZipArchiverTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(ZipAddRefusalTest, ChangesNothing) {
    const Refusal& r = GetParam();
    zip.FSpecArgs() = {"a.txt", "b.txt"};
    zip.SetZipFilename(dir / "out.zip");
    r.setUp(zip, dir.path());
    const auto specsBefore = zip.FSpecArgs();
    zip.Add();
    EXPECT_EQ(messages, std::vector<int>{r.message});
    EXPECT_EQ(zip.ErrCode(), r.message);
    EXPECT_EQ(zip.FSpecArgs(), specsBefore);
    EXPECT_EQ(zip.AddedCount(), 0);
    EXPECT_FALSE(zip.Busy());
    EXPECT_FALSE(zip.EngineLoaded());
    EXPECT_EQ(state->calls, 0);
    EXPECT_EQ(testing_support::TreeSnapshot(dir.path()).size(), 0u) << "no file touched";
    if (zip.Unattended) {
        EXPECT_TRUE(ui.events.empty());
    } else {
        ASSERT_EQ(ui.Kinds(), std::vector<std::string>{"message"});
        EXPECT_EQ(ui.events[0].text, ZipMessageText(r.message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ZipRefusals, ZipAddRefusalTest,
    ::testing::Values(
        Refusal{"nothing_to_add", [](TZipArchiver& z, const std::string&) { z.FSpecArgs().clear(); }, zmNothingToAdd},
        Refusal{"no_archive_name", [](TZipArchiver& z, const std::string&) { z.SetZipFilename(""); }, zmNoArchive},
        Refusal{"unattended_encryption_without_password",
                [](TZipArchiver& z, const std::string&) {
                    z.AddOptions.Include(AddEncrypt);
                    z.Unattended = true;
                },
                zmNoPassword},
        Refusal{"span_with_update",
                [](TZipArchiver& z, const std::string&) {
                    z.AddOptions = {AddDiskSpan, AddUpdate};
                },
                zmSpanWithUpdate},
        Refusal{"span_erase_with_freshen",
                [](TZipArchiver& z, const std::string&) {
                    z.AddOptions = {AddDiskSpanErase, AddFreshen};
                },
                zmSpanWithUpdate},
        Refusal{"span_onto_exe",
                [](TZipArchiver& z, const std::string& d) {
                    z.AddOptions = {AddDiskSpan};
                    z.SetZipFilename(d + "/out.EXE");
                },
                zmSpanOntoExe},
        Refusal{"span_at_all", [](TZipArchiver& z, const std::string&) { z.AddOptions = {AddDiskSpan}; },
                zmSpanNotSupported},
        Refusal{"engine_not_found", [](TZipArchiver& z, const std::string& d) { z.SetDLLDirectory(d); },
                zmEngineNotLoaded},
        Refusal{"engine_without_exec",
                [](TZipArchiver& z, const std::string&) { z.SetDLLDirectory(EngineDir("testengine-noexec")); },
                zmNoExecEntry},
        Refusal{"engine_without_version",
                [](TZipArchiver& z, const std::string&) { z.SetDLLDirectory(EngineDir("testengine-noversion")); },
                zmNoVersionEntry}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(ZipArchiverTest, UnattendedRefusalShowsNoDialogButReports) {
    zip.Unattended = true;
    zip.Add();
    EXPECT_TRUE(ui.events.empty());
    EXPECT_EQ(messages, std::vector<int>{zmNothingToAdd});
    EXPECT_EQ(messageCodes, std::vector<int>{0});
    EXPECT_EQ(zip.Message(), ZipMessageText(zmNothingToAdd));
}

TEST_F(ZipArchiverTest, LoadEngineWithTraceReportsSuccessAndEngineVersionLoadsForItsCall) {
    zip.Trace = true;
    zip.Unattended = true;
    zip.LoadEngine();
    EXPECT_TRUE(zip.EngineLoaded());
    EXPECT_EQ(messages, std::vector<int>{zmEngineLoaded});
    zip.UnloadEngine();
    EXPECT_FALSE(zip.EngineLoaded());

    state->version = 175;
    EXPECT_EQ(zip.EngineVersion(), 175);
    EXPECT_FALSE(zip.EngineLoaded()) << "loaded for the call only";
    zip.SetDLLDirectory(dir.path());
    zip.Trace = false;
    EXPECT_EQ(zip.EngineVersion(), 0);
}

struct RecordCase {
    const char* name;
    AddOpts options;
    bool verbose, trace;
    // Expected flags, in the record's order.
    int trc, encrypt, hidden, noDirEntries, verb, dropDirNames, recurse, forceDos, move, update, freshen, zipTime;
};

class ZipRecordTest : public ZipArchiverTest, public ::testing::WithParamInterface<std::tuple<RecordCase, int>> {};

TEST_P(ZipRecordTest, CarriesTheOptions) {
    const auto& [c, version] = GetParam();
    state->version = version;
    zip.AddOptions = c.options;
    zip.Verbose = c.verbose;
    zip.Trace = c.trace;
    zip.Unattended = true;  // Trace reports the load
    zip.SetPassword("secret");
    zip.AddCompLevel = 6;
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    ASSERT_EQ(state->calls, 1);
    const TestEngineCall& call = state->last;
    const EngineCallHead& h = call.head;
    EXPECT_EQ(call.newStyle, version >= 151);
    EXPECT_EQ(call.raw.size(), version >= 151 ? sizeof(EngineCallRecord) : sizeof(EngineCallRecordOld));
    EXPECT_EQ(h.ownerWindow, nullptr);
    EXPECT_EQ(h.caller, &zip);
    EXPECT_EQ(h.recordVersion, 158);
    EXPECT_NE(h.callback, nullptr);
    EXPECT_EQ(h.trace, c.trc);
    EXPECT_EQ(std::string(call.passwordBuffer.data()), "secret");
    EXPECT_EQ(h.encrypt, c.encrypt);
    EXPECT_EQ(h.hiddenFiles, c.hidden);
    EXPECT_EQ(h.noDirEntries, c.noDirEntries);
    EXPECT_EQ(h.verbose, c.verb);
    EXPECT_EQ(h.alwaysOn56, -1);
    EXPECT_EQ(h.compLevel, 6);
    EXPECT_EQ(h.dropDirNames, c.dropDirNames);
    EXPECT_EQ(h.recurse, c.recurse);
    EXPECT_EQ(h.reserved78, 0);
    EXPECT_EQ(h.alwaysOn80, -1);
    EXPECT_EQ(h.forceDos, c.forceDos);
    EXPECT_EQ(h.move, c.move);
    EXPECT_EQ(h.update, c.update);
    EXPECT_EQ(h.freshen, c.freshen);
    EXPECT_EQ(h.zipTime, c.zipTime);
    EXPECT_EQ(h.specCount, 2);
    EXPECT_EQ(call.archiveName, dir / "out.zip");
    EXPECT_EQ(call.specs, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(call.tag, 7);
    EXPECT_TRUE(call.reservedZero);
    if (version >= 151) {
        EXPECT_FALSE(call.tempDirNull);
        EXPECT_EQ(call.tempDir, dir.path());
    }
}

constexpr int On = -1;
INSTANTIATE_TEST_SUITE_P(
    ZipRecords, ZipRecordTest,
    ::testing::Combine(
        ::testing::Values(
            RecordCase{"none", {}, false, false, 0, 0, 0, On, 0, On, 0, 0, 0, 0, 0, 0},
            RecordCase{"program_options",
                       {AddDirNames, AddUpdate, AddZipTime, AddHiddenFiles},
                       false,
                       false,
                       0,
                       0,
                       On,
                       On,
                       0,
                       0,
                       0,
                       0,
                       0,
                       On,
                       0,
                       On},
            RecordCase{
                "freshen_and_update", {AddFreshen, AddUpdate}, false, false, 0, 0, 0, On, 0, On, 0, 0, 0, On, 0, 0},
            RecordCase{"freshen_alone", {AddFreshen}, false, false, 0, 0, 0, On, 0, On, 0, 0, 0, 0, On, 0},
            RecordCase{"recurse_separate_dirs",
                       {AddRecurseDirs, AddSeparateDirs},
                       false,
                       false,
                       0,
                       0,
                       0,
                       0,
                       0,
                       On,
                       0xFFFF,
                       0,
                       0,
                       0,
                       0,
                       0},
            RecordCase{"encrypt_move_dos",
                       {AddEncrypt, AddMove, AddForceDOS},
                       false,
                       false,
                       0,
                       On,
                       0,
                       On,
                       0,
                       On,
                       0,
                       On,
                       On,
                       0,
                       0,
                       0},
            RecordCase{"verbose", {}, true, false, 0, 0, 0, On, On, On, 0, 0, 0, 0, 0, 0},
            RecordCase{"trace", {}, false, true, On, 0, 0, On, On, On, 0, 0, 0, 0, 0, 0}),
        ::testing::Values(150, 151)),
    [](const auto& test) {
        return std::string(std::get<0>(test.param).name) + "_v" + std::to_string(std::get<1>(test.param));
    });

TEST_F(ZipArchiverTest, PasswordIsCutTo80AndOwnerWindowFollowsUnattended) {
    const std::string longPassword = std::string(80, 'a') + "TAIL";
    zip.SetPassword(longPassword);
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    ASSERT_EQ(state->calls, 1);
    EXPECT_EQ(std::string(state->last.passwordBuffer.data()), std::string(80, 'a'));
    EXPECT_EQ(state->last.passwordBuffer[80], '\0');
    EXPECT_EQ(state->last.head.ownerWindow, &owner);
}

TEST_F(ZipArchiverTest, OldEngineRecordLeavesUnusedSlotsEmptyAndNoTempDir) {
    state->version = 150;
    zip.SetZipFilename(dir / "out.zip");
    zip.FSpecArgs() = {"one"};
    zip.Add();
    ASSERT_EQ(state->calls, 1);
    EXPECT_EQ(state->last.specs, std::vector<std::string>{"one"});
    EXPECT_TRUE(state->last.reservedZero);
    // Byte 128 + pointer-width slots: the tag sits right after the common part.
    EXPECT_EQ(state->last.tag, 7);
}

TEST_F(ZipArchiverTest, OldEngineWithTooManySpecsIsNotCalled) {
    state->version = 150;
    zip.Unattended = true;
    zip.SetZipFilename(dir / "out.zip");
    zip.FSpecArgs().assign(ZIPENGINE_OLD_MAX_SPECS + 1, "f");
    zip.Add();
    EXPECT_EQ(state->calls, 0);
    EXPECT_EQ(messages, std::vector<int>{zmTooManySpecs});
    EXPECT_TRUE(zip.FSpecArgs().empty());
    EXPECT_FALSE(zip.Busy());
}

TEST_F(ZipArchiverTest, ARefusedAddOntoANewExeLeavesNoFile) {
    WriteText(dir / "stub.bin", std::string(1000, 's'));
    zip.SFXPath = dir / "stub.bin";
    zip.Unattended = true;
    // refused before the engine is called
    state->version = 150;
    zip.SetZipFilename(dir / "new.exe");
    zip.FSpecArgs().assign(ZIPENGINE_OLD_MAX_SPECS + 1, "f");
    zip.Add();
    EXPECT_EQ(messages, std::vector<int>{zmTooManySpecs});
    EXPECT_FALSE(testing_support::Exists(dir / "new.exe"));
    // an existing self-extractor is never removed by a refusal
    WriteText(dir / "old.exe", "the user's program");
    zip.SetZipFilename(dir / "old.exe");
    zip.FSpecArgs().assign(ZIPENGINE_OLD_MAX_SPECS + 1, "f");
    zip.Add();
    EXPECT_EQ(testing_support::ReadText(dir / "old.exe"), "the user's program");
}

TEST_F(ZipArchiverTest, EmptyTempDirGivesNoAddress) {
    zip.TempDir.clear();
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_TRUE(state->last.tempDirNull);
}

TEST_F(ZipArchiverTest, SuccessfulAddEmptiesTheListAndReadsTheArchive) {
    state->result = 2;
    state->archiveBytes = zipfixtures::Build(zipfixtures::TwoFiles()).bytes;
    int updates = 0;
    zip.OnDirUpdate = [&](TZipArchiver&) { ++updates; };
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(zip.AddedCount(), 2);
    EXPECT_TRUE(zip.FSpecArgs().empty());
    EXPECT_EQ(zip.EntryCount(), 2);
    EXPECT_EQ(updates, 2);  // the assignment and the read after Add
    EXPECT_FALSE(zip.EngineLoaded()) << "loaded by Add, so unloaded by it";
    EXPECT_FALSE(zip.Busy());
    EXPECT_TRUE(messages.empty());
}

TEST_F(ZipArchiverTest, EngineLoadedByTheOwnerStaysLoaded) {
    zip.LoadEngine();
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_TRUE(zip.EngineLoaded());
}

TEST_F(ZipArchiverTest, NothingProcessedMeansNoReRead) {
    state->result = 0;
    state->archiveBytes = zipfixtures::Build(zipfixtures::TwoFiles()).bytes;
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(zip.AddedCount(), 0);
    EXPECT_TRUE(zip.FSpecArgs().empty()) << "the list is emptied once the engine was reached";
    EXPECT_EQ(zip.EntryCount(), 0);
}

TEST_F(ZipArchiverTest, AddWhileAddRunsReturnsSilently) {
    state->script = {{ecbNewFile, 0, 10, "a.txt"}, {ecbEndOfBatch, 0, 0, ""}};
    int inner = 0;
    zip.OnProgress = [&](TZipArchiver& z, ProgressType type, const std::string&, std::int32_t) {
        if (type == ptNewFile) {
            EXPECT_TRUE(z.Busy());
            z.Add();
            ++inner;
        }
    };
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(state->calls, 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(zip.Busy());
}

TEST_F(ZipArchiverTest, CancelSetDuringMessageProcessingIsAnsweredAtTheNextCallback) {
    state->script = {{ecbTotalFiles, 0, 3, ""}, {ecbNewFile, 0, 1, "a"}, {ecbNewFile, 0, 1, "b"}};
    int seen = 0;
    ui.onProcessMessages = [&] {
        if (++seen == 1) zip.SetCancel(true);
    };
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(state->answers, (std::vector<std::int32_t>{0, -1}));
    EXPECT_FALSE(zip.Cancel()) << "cleared at the end of Add";
}

TEST_F(ZipArchiverTest, CancelBeforeAddIsClearedAtItsStart) {
    zip.SetCancel(true);
    state->script = {{ecbTotalFiles, 0, 3, ""}};
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(state->answers, std::vector<std::int32_t>{0});
}

TEST_F(ZipArchiverTest, HandlerErrorStopsTheEngineAndIsReportedAsEngineFailure) {
    state->script = {{ecbNewFile, 0, 1, "a"}, {ecbNewFile, 0, 1, "b"}};
    state->stopOnCancel = false;
    state->result = 2;
    zip.Unattended = true;
    zip.OnProgress = [](TZipArchiver&, ProgressType, const std::string&, std::int32_t) {
        throw std::runtime_error("handler failed");
    };
    zip.SetZipFilename(dir / "out.zip");
    AddTwo();
    zip.Add();
    EXPECT_EQ(state->answers, (std::vector<std::int32_t>{-1, -1}));
    EXPECT_EQ(messages, std::vector<int>{zmEngineCallFailed});
    EXPECT_EQ(zip.AddedCount(), 0);
    EXPECT_TRUE(zip.FSpecArgs().empty());
    EXPECT_FALSE(zip.Busy());
}

TEST_F(ZipArchiverTest, AddOntoNewExeWritesTheEmptySelfExtractorFirst) {
    WriteText(dir / "stub.bin", std::string(1000, 's'));
    zip.SFXPath = dir / "stub.bin";
    state->result = 0;
    zip.SetZipFilename(dir / "new.exe");
    AddTwo();
    zip.Add();
    ASSERT_EQ(state->calls, 1);
    const std::string made = testing_support::ReadText(dir / "new.exe");
    ASSERT_EQ(made.size(), 1000u + 256 + 22);
    EXPECT_EQ(made.substr(1000, 3), "MPU");
    EXPECT_EQ(zipfixtures::Get32(made, 1256), 0x06054B50u);
    EXPECT_EQ(zipfixtures::Get32(made, 1256 + 16), 1256u);
    EXPECT_EQ(zip.ZipFilename(), dir / "new.exe");
}

TEST_F(ZipArchiverTest, AddOntoNewExeWithoutAnEngineWritesNothing) {
    WriteText(dir / "stub.bin", std::string(1000, 's'));
    zip.SFXPath = dir / "stub.bin";
    zip.SetDLLDirectory(dir / "no-engine-here");
    zip.SetZipFilename(dir / "new.exe");
    AddTwo();
    zip.Add();
    EXPECT_EQ(messages, std::vector<int>{zmEngineNotLoaded});
    EXPECT_FALSE(testing_support::Exists(dir / "new.exe"));
    EXPECT_EQ(zip.FSpecArgs().size(), 2u);
}

// ---- callbacks, straight through the callback entry ------------------------------------

struct CallbackCase {
    const char* name;
    std::int32_t action, errorCode, number;
    std::string text;
    // Expected afterwards.
    std::string progress;  // "type|filename|size", "" for none
    std::string message;   // "code|text", "" for none
    std::int32_t errCode, rawErrCode;
    std::string stateMessage;
    std::uint32_t totalSize;
};

class ZipCallbackTest : public ::testing::TestWithParam<CallbackCase> {};

TEST_P(ZipCallbackTest, TurnsActionsIntoEventsAndState) {
    const CallbackCase& c = GetParam();
    ScopedRecordingUI ui;
    TZipArchiver zip;
    std::string progress, message;
    zip.OnProgress = [&](TZipArchiver& s, ProgressType t, const std::string& f, std::int32_t n) {
        EXPECT_EQ(&s, &zip);
        progress = std::to_string(t) + "|" + f + "|" + std::to_string(n);
    };
    zip.OnMessage = [&](TZipArchiver& s, std::int32_t code, const std::string& text) {
        EXPECT_EQ(&s, &zip);
        message = std::to_string(code) + "|" + text;
    };
    EngineCallbackRecord record{};
    record.caller = &zip;
    record.action = c.action;
    record.errorCode = c.errorCode;
    record.number = c.number;
    std::copy(c.text.begin(), c.text.begin() + std::min<std::size_t>(c.text.size(), sizeof record.text), record.text);
    EXPECT_EQ(TZipArchiver::EngineCallback(&record), 0);
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(zip.ErrCode(), c.errCode);
    EXPECT_EQ(zip.RawErrCode(), c.rawErrCode);
    EXPECT_EQ(zip.Message(), c.stateMessage);
    EXPECT_EQ(zip.TotalSize(), c.totalSize);
    EXPECT_TRUE(ui.events.empty()) << "the callback never shows a dialog";
}

INSTANTIATE_TEST_SUITE_P(
    ZipActions, ZipCallbackTest,
    ::testing::Values(CallbackCase{"new_file_keeps_trailing_spaces", 1, 0, 42, "dir/name.txt  ", "0|dir\\name.txt  |42",
                                   "", 0, 0, "", 0},
                      CallbackCase{"progress", 2, 0, 8192, "ignored", "1||8192", "", 0, 0, "", 0},
                      CallbackCase{"end_of_batch", 3, 0, 99, "", "2||0", "", 0, 0, "", 0},
                      CallbackCase{"message_without_code", 4, 0, 0, "a/b done \r\n", "", "0|a\\b done", 0, 0,
                                   "a\\b done", 0},
                      CallbackCase{"message_with_code", 4, 0x1234, 0, "bad", "", "4660|bad", 0x34, 0x1234, "bad", 0},
                      CallbackCase{"total_files", 5, 0, 17, "", "3||17", "", 0, 0, "", 0},
                      CallbackCase{"total_size", 6, 0, 123456, "", "4||123456", "", 0, 0, "", 123456},
                      // 3 GiB arrives negative; the event gets it in units of 2 bytes.
                      CallbackCase{"total_size_past_2_gib", 6, 0, static_cast<std::int32_t>(0xC0000000u), "",
                                   "4||1610612736", "", 0, 0, "", 0xC0000000u},
                      CallbackCase{"unknown_action", 9, 5, 5, "x", "", "", 0, 0, "", 0},
                      CallbackCase{"text_fills_all_512_bytes", 4, 0, 0, std::string(512, 'm'), "",
                                   "0|" + std::string(512, 'm'), 0, 0, std::string(512, 'm'), 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ZipCallback, StateChangesHappenWithoutHandlersAndCancelIsAnswered) {
    ScopedRecordingUI ui;
    TZipArchiver zip;
    EngineCallbackRecord record{};
    record.caller = &zip;
    record.action = ecbTotalSize;
    record.number = 777;
    EXPECT_EQ(TZipArchiver::EngineCallback(&record), 0);
    EXPECT_EQ(zip.TotalSize(), 777u);
    zip.SetCancel(true);
    record.action = 42;
    EXPECT_EQ(TZipArchiver::EngineCallback(&record), -1);
    int processed = 0;
    ui.onProcessMessages = [&] { ++processed; };
    EXPECT_EQ(TZipArchiver::EngineCallback(&record), -1);
    EXPECT_EQ(processed, 1) << "messages are let through even for an unknown action";
}

TEST(ZipCallback, ProgressOfAFilePast2GiBMovesInStepsThatAddUpToItsSize) {
    ScopedRecordingUI ui;
    TZipArchiver zip;
    std::int64_t total = -1, fileSize = -1, done = 0;
    int steps = 0, negative = 0;
    zip.OnProgress = [&](TZipArchiver&, ProgressType t, const std::string&, std::int32_t n) {
        negative += n < 0;
        if (t == ptTotalSize) total = n;
        if (t == ptNewFile) fileSize = n;
        if (t == ptProgress) done += n, steps += n > 0;
    };
    auto send = [&](std::int32_t action, std::uint64_t number) {
        EngineCallbackRecord record{};
        record.caller = &zip;
        record.action = action;
        record.number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));  // as the engine sends it
        TZipArchiver::EngineCallback(&record);
    };
    // An odd block size, so the scaled steps must carry the rounding along.
    const std::uint64_t size = (std::uint64_t(3) << 30) + 1, block = 1000003;
    send(ecbTotalSize, size);
    send(ecbNewFile, size);
    for (std::uint64_t sent = 0; sent < size; sent += block) send(ecbProgress, std::min(block, size - sent));
    send(ecbProgress, 5000);  // the file grew while it was read: the count stays at the total
    EXPECT_EQ(negative, 0);
    EXPECT_EQ(zip.TotalSize(), size);
    EXPECT_EQ(zip.ProgressUnit(), 2u);
    EXPECT_EQ(total, static_cast<std::int64_t>(size / 2));
    EXPECT_EQ(fileSize, total);
    EXPECT_EQ(done, total);
    EXPECT_EQ(steps, static_cast<int>((size + block - 1) / block));

    send(ecbTotalSize, 1000);  // the next batch counts in bytes again
    EXPECT_EQ(zip.ProgressUnit(), 1u);
    EXPECT_EQ(total, 1000);
}

TEST(ZipCallback, UnknownCallerIsAskedToStop) {
    int notAComponent = 0;
    EngineCallbackRecord record{};
    record.caller = &notAComponent;
    record.action = ecbProgress;
    EXPECT_EQ(TZipArchiver::EngineCallback(&record), -1);
    EXPECT_EQ(TZipArchiver::EngineCallback(nullptr), -1);
}

// ---- messages ---------------------------------------------------------------------------

TEST(ZipMessageTable, EveryNumberHasATextAndArgumentsGoWhereThePlaceholderIs) {
    const int numbers[] = {10101, 10102, 10103, 10201, 10202, 10203, 10204, 10301, 10302, 10303, 10601, 10602,
                           10603, 10604, 10801, 10802, 10803, 11001, 11003, 11004, 11008, 11011, 11013, 11015,
                           11017, 11022, 11029, 11030, 11036, 11037, 11038, 11041, 11042, 11043, 11044, 11045};
    for (int n : numbers) EXPECT_TRUE(StoredZipText(n).has_value()) << n;
    for (int n : {11003, 11004, 11038}) EXPECT_NE(StoredZipText(n)->find("%1"), std::string::npos) << n;
    EXPECT_NE(std::string(EZipArchiver(11038, std::int64_t{3}).what()).find(" 3 "), std::string::npos);
    EXPECT_NE(std::string(EZipArchiver(11004, std::string("D:\\")).what()).find("D:\\"), std::string::npos);
    EXPECT_TRUE(EZipArchiver(11004, std::string("D:\\")).Display());
    EXPECT_FALSE(EZipArchiver(11029, false).Display());
    EXPECT_EQ(EZipArchiver(11029, false).Number(), 11029);
    // Without a stored text the argument is not used.
    EXPECT_EQ(std::string(EZipArchiver(12345, std::string("ARG")).what()), ZipMessageText(12345));
}

TEST(ZipMessageTable, MissingTextGivesTheFallbackLine) {
    ScopedRecordingUI ui;
    TZipArchiver zip;
    zip.ShowZipMessage(12345, " extra");
    const std::string expected =
        "ZipMessages table is probably not bound to executable\nMissing String ID is: 12345 extra";
    EXPECT_EQ(zip.Message(), expected);
    EXPECT_EQ(zip.ErrCode(), 12345);
    ASSERT_EQ(ui.Kinds(), std::vector<std::string>{"message"});
    EXPECT_EQ(ui.events[0].text, expected);
}

TEST(ZipMessageTable, ExceptionMessagesHonourDisplayFlagAndUnattended) {
    ScopedRecordingUI ui;
    TZipArchiver zip;
    std::vector<int> codes;
    zip.OnMessage = [&](TZipArchiver&, std::int32_t code, const std::string&) { codes.push_back(code); };
    zip.ShowExceptionMessage(EZipArchiver(11029, false));
    EXPECT_TRUE(ui.events.empty());
    EXPECT_EQ(zip.ErrCode(), 11029);
    zip.ShowExceptionMessage(EZipArchiver(11036, true));
    EXPECT_EQ(ui.Kinds(), std::vector<std::string>{"message"});
    zip.Unattended = true;
    zip.ShowExceptionMessage(EZipArchiver(11001, true));
    EXPECT_EQ(ui.events.size(), 1u);
    EXPECT_EQ(zip.Message(), ZipMessageText(11001));
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0}));
}

}  // namespace
