// The start-up sequence: the start-up screen, the connection, the error without MapInfo,
// and the wizard after the start-up screen has closed.
#include <QMessageBox>
#include <optional>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "platform/Automation.h"
#include "ui/AboutFrm.h"
#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"
#include "ui/Startup.h"

using testing_support::TempDir;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old) setenv(m_name, m_old->c_str(), 1);
        else unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

bool AnyMapInfoPlugin(const std::string& folder) { return !platform::FindFiles(folder, "MapInfo.*").empty(); }

}  // namespace

TEST(Startup, WithoutMapInfoTheErrorEndsTheProgram) {
    ASSERT_FALSE(AnyMapInfoPlugin(platform::ProgramDir() + "automation"))
        << "no MapInfo plugin may lie beside the test program";
    TempDir empty, settings;
    ScopedEnv automation("TALLOMIR_AUTOMATION_PATH", empty.path());
    ScopedEnv settingsDir("TALLOMIR_SETTINGS_DIR", settings.path());

    bool screenShownDisabled = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    gui_test::WhenModal([&](QWidget* modal) {
        screenShownDisabled = ui::AboutForm && ui::AboutForm->isVisible() &&
                              !gui_test::Find<QPushButton>(ui::AboutForm, "btnClose")->isEnabled();
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    EXPECT_EQ(ui::RunStartup(*qApp), 0);
    EXPECT_TRUE(screenShownDisabled) << "the start-up screen shows with a disabled OK";
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, "MapInfo is required to run Tallomir.\rCannot find MapInfo on this computer.");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(ui::AboutForm, nullptr);
    EXPECT_EQ(ui::CopyForm, nullptr) << "the wizard is never created";
    EXPECT_TRUE(platform::FindFiles(settings.path(), "*").empty()) << "the settings are not touched";
}

TEST(Startup, TheWizardComesOnlyAfterTheStartupScreenIsClosed) {
    ASSERT_TRUE(app::ConnectMapInfo()) << "the MapInfo engine plugin is built with the tests";
    app::MapInfoApp().Release();
    TempDir settings;
    ScopedEnv settingsDir("TALLOMIR_SETTINGS_DIR", settings.path());

    enum Stage { kScreen, kWizard, kDone } stage = kScreen;
    bool wizardBeforeScreenClosed = false, okEnabled = false, companions = false;
    QString applicationName;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();  // the zip component's report of an engine it cannot load
            return;
        }
        if (stage == kScreen && ui::AboutForm && ui::AboutForm->isVisible()) {
            // before the connection "&OK" is disabled; afterwards the screen waits
            okEnabled = gui_test::Find<QPushButton>(ui::AboutForm, "btnClose")->isEnabled();
            if (!okEnabled) return;
            QTest::qWait(50);
            wizardBeforeScreenClosed = ui::CopyForm != nullptr;
            ui::AboutForm->close();  // the close box works as "&OK"
            stage = kWizard;
        } else if (stage == kWizard && ui::CopyForm && ui::CopyForm->isVisible()) {
            companions = ui::NoteForm && ui::ProgressForm;
            applicationName = QApplication::applicationName();
            ui::CopyForm->close();
            stage = kDone;
        }
    });
    poll.start(10);
    EXPECT_EQ(ui::RunStartup(*qApp), 0);
    EXPECT_EQ(stage, kDone);
    EXPECT_TRUE(okEnabled);
    EXPECT_FALSE(wizardBeforeScreenClosed);
    EXPECT_TRUE(companions);
    EXPECT_EQ(applicationName, "Tallomir");
    EXPECT_TRUE(app::MapInfoApp().IsEmpty()) << "closing the wizard releases MapInfo";
    EXPECT_EQ(ui::CopyForm, nullptr);
}
