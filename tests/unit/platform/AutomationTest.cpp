#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "TestSupport.h"
#include "app/Globals.h"
#include "platform/Automation.h"

using platform::AutomationError;
using platform::CreateOleObject;

namespace {

// Points the registry at the test servers only, for one test.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TALLOMIR_AUTOMATION_PATH");
        m_old = old ? old : "";
        m_hadOld = old != nullptr;
        setenv("TALLOMIR_AUTOMATION_PATH", (testing_support::TestBinDir() + "/automation").c_str(), 1);
    }
    void TearDown() override {
        if (m_hadOld) setenv("TALLOMIR_AUTOMATION_PATH", m_old.c_str(), 1);
        else unsetenv("TALLOMIR_AUTOMATION_PATH");
        app::MapInfoApp().Release();
    }
    std::string m_old;
    bool m_hadOld = false;
};

TEST_F(RegistryTest, MissingPluginIsClassNotRegistered) {
    try {
        CreateOleObject("No.Such.Class");
        FAIL() << "expected an error";
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("not registered"), std::string::npos) << e.what();
    }
}

TEST_F(RegistryTest, CallsDispatchByNameAndCarryServerMessages) {
    auto obj = CreateOleObject("Test.Echo");
    EXPECT_EQ(obj->Invoke("Echo", std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(obj->Invoke("Upper", "roads.tab"), "ROADS.TAB");
    try {
        obj->Invoke("Fail", "Table LAYER is not open");
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_STREQ(e.what(), "Table LAYER is not open");
    }
    try {
        obj->Invoke("Nope", "");
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("Nope"), std::string::npos);
    }
}

TEST_F(RegistryTest, MapInfoReferenceStatesAndErrors) {
    auto& mi = app::MapInfoApp();
    EXPECT_TRUE(mi.IsEmpty());
    EXPECT_THROW(mi.Do("Close Table LAYER"), app::MapInfoError);
    // Neither MapInfo class is registered among the test servers.
    EXPECT_FALSE(app::ConnectMapInfo());
    EXPECT_TRUE(mi.IsEmpty());
    mi.Assign(CreateOleObject("Test.Echo"));
    EXPECT_FALSE(mi.IsEmpty());
    // The echo server has no "Do"/"Eval" methods: the rejection carries its message.
    try {
        mi.Eval("SystemInfo(5)");
        FAIL();
    } catch (const app::MapInfoError& e) {
        EXPECT_NE(std::string(e.what()).find("Eval"), std::string::npos);
    }
    mi.Release();
    EXPECT_TRUE(mi.IsEmpty());
}

TEST_F(RegistryTest, WithBothMapInfoClassesRegisteredTheApplicationIsUsed) {
    // Two servers registered under the MapInfo class names in a folder of their own: the
    // echo server (no "Eval") as the application, the scripted MapInfo as the runtime.
    testing_support::TempDir dir;
    const std::string servers = testing_support::TestBinDir() + "/automation";
    ASSERT_EQ(::symlink((servers + "/Test.MapInfo.so").c_str(), (dir / "MapInfo.Runtime.so").c_str()), 0);
    setenv("TALLOMIR_AUTOMATION_PATH", dir.path().c_str(), 1);
    ASSERT_TRUE(app::ConnectMapInfo());
    EXPECT_NO_THROW(app::MapInfoApp().Eval("SystemInfo(5)")) << "only the runtime is there";
    app::MapInfoApp().Release();

    ASSERT_EQ(::symlink((servers + "/Test.Echo.so").c_str(), (dir / "MapInfo.Application.so").c_str()), 0);
    ASSERT_TRUE(app::ConnectMapInfo());
    EXPECT_THROW(app::MapInfoApp().Eval("SystemInfo(5)"), app::MapInfoError) << "the application answers first";
}

}  // namespace
