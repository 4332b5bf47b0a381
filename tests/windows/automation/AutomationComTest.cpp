// Late-bound automation through real COM, under Wine: the embedded runtime registered as
// the in-process server "MapInfo.Runtime" (MapInfo.Runtime.dll, by its own
// DllRegisterServer) and, through the test's local server program, as the out-of-process
// "MapInfo.Application" that start-up tries first. Each out-of-process activation starts a
// process (about a second under Wine): the tests keep them few.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/Globals.h"
#include "platform/Automation.h"
#include "platform/win32/WinText.h"

using platform::AutomationError;
using platform::CreateOleObject;

namespace {

constexpr const wchar_t* kServerProgram = L"" TALLOMIR_APPLICATION_SERVER;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A path the harness names on the host ("/work/..."), as Wine's drive Z: shows it.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::wstring RuntimeDll() {
    return platform::win32::Wide(WindowsPath(Env("TALLOMIR_BIN_DIR") + "/" TALLOMIR_RUNTIME_DLL));
}
std::wstring ServerProgram() {
    return platform::win32::Wide(WindowsPath(Env("TALLOMIR_TEST_BIN_DIR") + "/")) + kServerProgram;
}

// Runs the local server program with one switch; its exit code.
DWORD RunServer(const wchar_t* option) {
    std::wstring command = L"\"" + ServerProgram() + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1000 + ::GetLastError();
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 9999;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

// The runtime DLL, loaded by the test as COM loads it (the same module, by its path).
HMODULE RuntimeModule() {
    static HMODULE module = ::LoadLibraryW(RuntimeDll().c_str());
    return module;
}
HRESULT CallRuntime(const char* entry) {
    auto fn =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(::GetProcAddress(RuntimeModule(), entry)));
    return fn ? fn() : E_NOTIMPL;
}

// The local server's processes now running.
std::vector<DWORD> ServerProcesses() {
    std::vector<DWORD> ids;
    platform::win32::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
        if (::CompareStringOrdinal(entry.szExeFile, -1, kServerProgram, -1, TRUE) == CSTR_EQUAL)
            ids.push_back(entry.th32ProcessID);
    return ids;
}

// True when every local server process has ended within ten seconds.
bool ServersLeave() {
    for (DWORD id : ServerProcesses()) {
        platform::win32::Handle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
        if (process.IsValid() && ::WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0) return false;
    }
    return true;
}

std::string ErrorOf(platform::AutomationObject& object, const std::string& method, const std::string& argument) {
    try {
        object.Invoke(method, argument);
    } catch (const AutomationError& e) {
        return e.what();
    }
    return "(accepted)";
}

std::string CreateErrorOf(const std::string& progId) {
    try {
        CreateOleObject(progId);
    } catch (const AutomationError& e) {
        return e.what();
    }
    return "(created)";
}

// Both servers registered in the test prefix, for the whole program.
class RegisteredServers : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_NE(RuntimeModule(), nullptr) << platform::win32::LastError().message;
        ASSERT_EQ(CallRuntime("DllRegisterServer"), S_OK);
        ASSERT_EQ(RunServer(L"/RegServer"), 0u);
    }
};
const auto* const g_registered = ::testing::AddGlobalTestEnvironment(new RegisteredServers);

const std::string kStreets = WindowsPath(Env("TALLOMIR_SOURCE_DIR") + "/examples/Data/Streets");

TEST(ComAutomation, InProcessRuntimeAnswersByNameAndCarriesItsMessages) {
    auto mapinfo = CreateOleObject("MapInfo.Runtime");
    EXPECT_TRUE(ServerProcesses().empty()) << "the runtime runs in this process";
    EXPECT_EQ(CallRuntime("DllCanUnloadNow"), S_FALSE) << "an object is alive";
    EXPECT_EQ(mapinfo->Invoke("Eval", "SystemInfo(5)"), "WindowsLatin1");
    EXPECT_EQ(mapinfo->Invoke("eVAL", "PathToTableName$(\"C:\\Data\\World\")"), "World");
    EXPECT_EQ(mapinfo->Invoke("Do", "Open Table \"" + kStreets + "\" As LAYER"), "");
    EXPECT_EQ(mapinfo->Invoke("Eval", "TableInfo(LAYER,3)"), "1");
    EXPECT_EQ(mapinfo->Invoke("do", "Close Table LAYER"), "");
    EXPECT_EQ(ErrorOf(*mapinfo, "Do", "Close Table LAYER"), "Table LAYER is not open.");
    EXPECT_EQ(ErrorOf(*mapinfo, "RunMenuCommand", "1"), "Unknown name: RunMenuCommand");
    mapinfo.reset();
    EXPECT_EQ(CallRuntime("DllCanUnloadNow"), S_OK) << "the last object is gone";
}

TEST(ComAutomation, OutOfProcessApplicationMarshalsTextsAndMessages) {
    auto mapinfo = CreateOleObject("MapInfo.Application");
    EXPECT_EQ(ServerProcesses().size(), 1u);
    EXPECT_EQ(mapinfo->Invoke("Eval", "SystemInfo(5)"), "WindowsLatin1");
    // Bytes of the ANSI code page cross as UTF-16 and come back as they were.
    if (::GetACP() != CP_UTF8) {
        EXPECT_EQ(mapinfo->Invoke("Eval",
                                  "PathToDirectory$(\"C:\\Stra\xDF"
                                  "e\\\xC9t\xE9.TAB\")"),
                  "C:\\Stra\xDF"
                  "e\\");
    }
    EXPECT_EQ(mapinfo->Invoke("Do", "Open Table \"" + kStreets + "\" As LAYER"), "");
    EXPECT_EQ(mapinfo->Invoke("Eval", "TableInfo(LAYER,3)"), "1");
    EXPECT_EQ(ErrorOf(*mapinfo, "Do", "Close Table ROADS"), "Table ROADS is not open.");
    EXPECT_EQ(ErrorOf(*mapinfo, "Eval", "TableInfo(ROADS,3)"), "Table ROADS is not open.");
    EXPECT_EQ(ErrorOf(*mapinfo, "Close", "LAYER"), "Unknown name: Close");
    // An embedded NUL reaches the server (BSTRs have lengths) and is rejected there.
    EXPECT_NE(ErrorOf(*mapinfo, "Do", std::string("Close\0Table LAYER", 17)), "(accepted)");
    mapinfo.reset();
    EXPECT_TRUE(ServersLeave()) << "the server leaves with its last object";
}

TEST(ComAutomation, StartUpTakesTheApplicationFirstThenTheRuntime) {
    auto& reference = app::MapInfoApp();
    ASSERT_TRUE(app::ConnectMapInfo());
    EXPECT_EQ(ServerProcesses().size(), 1u) << "MapInfo.Application was taken";
    EXPECT_EQ(reference.Eval("SystemInfo(5)"), "WindowsLatin1");
    reference.Release();
    EXPECT_TRUE(ServersLeave());

    ASSERT_EQ(RunServer(L"/UnregServer"), 0u);
    EXPECT_EQ(CreateErrorOf("MapInfo.Application"), "Invalid class string: MapInfo.Application (class not registered)");
    ASSERT_TRUE(app::ConnectMapInfo());
    EXPECT_TRUE(ServerProcesses().empty()) << "MapInfo.Runtime was taken";
    EXPECT_EQ(reference.Eval("SystemInfo(5)"), "WindowsLatin1");
    try {
        reference.Do("Close Table LAYER");
        ADD_FAILURE() << "accepted";
    } catch (const app::MapInfoError& e) {
        EXPECT_STREQ(e.what(), "Table LAYER is not open.");
    }
    reference.Release();
    EXPECT_EQ(RunServer(L"/RegServer"), 0u);
}

TEST(ComAutomation, ClassesNotRegisteredAndServersThatDoNotStart) {
    EXPECT_EQ(CreateErrorOf("No.Such.Class"), "Invalid class string: No.Such.Class (class not registered)");
    EXPECT_EQ(CreateErrorOf(""), "Invalid class string:  (class not registered)");

    ASSERT_EQ(CallRuntime("DllUnregisterServer"), S_OK);
    EXPECT_EQ(CreateErrorOf("MapInfo.Runtime"), "Invalid class string: MapInfo.Runtime (class not registered)");
    ASSERT_EQ(CallRuntime("DllRegisterServer"), S_OK);
    EXPECT_NO_THROW(CreateOleObject("MapInfo.Runtime"));

    // A class whose program ends without serving it: the server does not start. (A
    // program that is not there at all reads as a class not registered under Wine.)
    const std::wstring progIdKey = L"Software\\Classes\\Tallomir.Test.NoStart";
    const std::wstring classKey = L"Software\\Classes\\CLSID\\{2F0C6A50-3B5E-4C8B-9E51-6D2A41C7B0E4}";
    auto set = [](const std::wstring& key, const std::wstring& value) {
        return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    ASSERT_EQ(set(progIdKey + L"\\CLSID", L"{2F0C6A50-3B5E-4C8B-9E51-6D2A41C7B0E4}"), ERROR_SUCCESS);
    ASSERT_EQ(set(classKey + L"\\LocalServer32", L"C:\\windows\\system32\\cmd.exe /c exit 1"), ERROR_SUCCESS);
    const std::string error = CreateErrorOf("Tallomir.Test.NoStart");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, progIdKey.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
    const std::string prefix = "Server execution failed: Tallomir.Test.NoStart: ";
    EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
    EXPECT_GT(error.size(), prefix.size()) << "the system's text follows: " << error;
}

}  // namespace
