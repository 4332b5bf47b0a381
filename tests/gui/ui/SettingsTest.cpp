// The settings file "Tallomir.INI" and the message file "Tallomir.mes".
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <unistd.h>

#include "GuiTestSupport.h"
#include "platform/Profile.h"

using gui_test::WizardTest;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {

const char* kBoxes[] = {"cbVersion5", "cbCD", "cbAutoRun", "cbZip", "cbRemoveFiles", "cbEXE", "cbReadme"};

}  // namespace

TEST_F(WizardTest, FirstRunShowsTheDefaults) {
    Open();
    EXPECT_EQ(W<QLineEdit>("edtPath")->text(), QDir::tempPath() + "/Tallomir");
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "Tallomir.zip");
    for (const char* box : kBoxes) EXPECT_FALSE(W<QCheckBox>(box)->isChecked()) << box;
    EXPECT_TRUE(W<QPlainTextEdit>("memReadme")->toPlainText().isEmpty());
    EXPECT_EQ(W<QTabWidget>("pgcCopy")->currentIndex(), 0);
    EXPECT_FALSE(W<QPushButton>("btnCopy")->isEnabled());
    EXPECT_FALSE(testing_support::Exists(Ini())) << "opening never writes";
}

TEST_F(WizardTest, OnlyTheExactWordFalseTurnsAnOptionOff) {
    struct Case {
        const char* line;
        bool on;
    } cases[] = {{"Zip=False", false}, {"Zip=false", true}, {"Zip=", true}, {"Zip=0", true}, {"Zip=True", true}};
    for (const Case& c : cases) {
        WriteText(Ini(), std::string("[Copy Details]\r\n") + c.line + "\r\n");
        Open();
        EXPECT_EQ(W<QCheckBox>("cbZip")->isChecked(), c.on) << c.line;
        EXPECT_EQ(form->State().options.zip, c.on) << c.line;
    }
}

TEST_F(WizardTest, LoadingRunsTheClickRulesOfEachBox) {
    WriteText(Ini(),
              "[Copy Details]\r\nPath=/data/out\r\nCD=True\r\nCD Startup=True\r\nZip=True\r\n"
              "MakeEXE=True\r\nIncludeMessage=True\r\nZipFile=Pack\r\n");
    WriteText(Mes(), "Line one\r\nLine two\rLine three\nend");
    Open();
    // the CD boxes ran the refresh over the empty list: the autorun files' share only
    EXPECT_EQ(W<QLabel>("lblSize")->text(), "407 KiloBytes");
    EXPECT_TRUE(W<QTabWidget>("pgcCopy")->isTabVisible(2));
    EXPECT_TRUE(W<QTabWidget>("pgcCopy")->isTabVisible(3));
    EXPECT_EQ(W<QLabel>("lbZip")->text(), "4.");
    EXPECT_TRUE(W<QPlainTextEdit>("memReadme")->isEnabled());
    EXPECT_EQ(W<QPlainTextEdit>("memReadme")->toPlainText(), "Line one\nLine two\nLine three\nend");
    EXPECT_EQ(form->State().options.readmeText, "Line one\r\nLine two\r\nLine three\r\nend");
    EXPECT_EQ(W<QLineEdit>("edtPath")->text(), "/data/out");
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "Pack.zip") << "the button rules ran after loading";
}

TEST_F(WizardTest, ExitSavesEveryValueAndTheMessage) {
    Open();
    W<QLineEdit>("edtPath")->setText("/tmp/Tallomir");
    W<QCheckBox>("cbCD")->setChecked(true);
    W<QCheckBox>("cbZip")->setChecked(true);
    W<QCheckBox>("cbEXE")->setChecked(true);
    W<QCheckBox>("cbReadme")->setChecked(true);
    W<QLineEdit>("edtZip")->setText("/tmp/Out.zip");
    W<QPlainTextEdit>("memReadme")->setPlainText("Hello\nWorld");
    W<QPushButton>("btnExit")->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(ReadText(Ini()),
              "[Copy Details]\r\nVersion5=False\r\nCD=True\r\nCD Startup=False\r\nZip=True\r\n"
              "ZipRemoveFiles=False\r\nMakeEXE=True\r\nPath=/tmp/Tallomir\r\nZipFile=../Out.zip\r\n"
              "IncludeMessage=True\r\n");
    EXPECT_EQ(ReadText(Mes()), "Hello\r\nWorld");

    // and the next start shows them again
    Open();
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "../Out.zip");
    EXPECT_TRUE(W<QCheckBox>("cbEXE")->isChecked());
    EXPECT_EQ(W<QPlainTextEdit>("memReadme")->toPlainText(), "Hello\nWorld");
}

TEST_F(WizardTest, ZipFileIsSavedRelativeToTheTargetFolder) {
    struct Case {
        const char* path;
        const char* zip;
        const char* saved;
    } cases[] = {
        {"C:\\TEMP\\Tallomir", "C:\\TEMP\\Tallomir\\Out.zip", "Out.zip"},
        {"C:\\TEMP\\Tallomir", "C:\\TEMP\\Out.zip", "..\\Out.zip"},
        {"C:\\TEMP\\Tallomir", "D:\\Out.zip", "D:\\Out.zip"},
        {"C:\\TEMP\\Tallomir", "Tallomir.zip", "Tallomir.zip"},
    };
    for (const Case& c : cases) {
        Open();
        W<QLineEdit>("edtPath")->setText(c.path);
        W<QLineEdit>("edtZip")->setText(c.zip);
        form->btnExitClick();
        EXPECT_EQ(platform::GetProfileString(Ini(), "Copy Details", "ZipFile", "?"), c.saved) << c.zip;
    }
}

TEST_F(WizardTest, CloseBoxKeepsTheFilesAsTheyWere) {
    const std::string ini = "; mine\r\n[Copy Details]\r\nZip=False\r\nPath=/x\r\n";
    WriteText(Ini(), ini);
    WriteText(Mes(), "old");
    Open().show();
    W<QCheckBox>("cbZip")->setChecked(true);
    W<QPlainTextEdit>("memReadme")->setPlainText("new");
    bool closed = false;
    QObject::connect(form.get(), &ui::TCopyForm::closed, [&] { closed = true; });
    ASSERT_TRUE(ConnectMapInfo()) << "the MapInfo engine plugin is built with the tests";
    form->Zip().SetDLLDirectory(testing_support::BinDir());
    form->Zip().LoadEngine();
    ASSERT_TRUE(form->Zip().EngineLoaded());
    form->close();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(app::MapInfoApp().IsEmpty()) << "the close handler releases MapInfo";
    EXPECT_FALSE(form->Zip().EngineLoaded()) << "and unloads the zip engine";
    EXPECT_EQ(ReadText(Ini()), ini);
    EXPECT_EQ(ReadText(Mes()), "old");
}

TEST_F(WizardTest, AnEmptyMessageKeepsTheOldMessageFile) {
    WriteText(Mes(), "old message");
    Open();
    W<QPlainTextEdit>("memReadme")->clear();
    form->btnExitClick();
    EXPECT_EQ(ReadText(Mes()), "old message");
    Open();
    EXPECT_EQ(W<QPlainTextEdit>("memReadme")->toPlainText(), "old message");
}

TEST_F(WizardTest, AnUnwritableSettingsFileStopsTheSavingSilently) {
    ASSERT_EQ(::mkdir(Ini().c_str(), 0755), 0);  // a folder where the file should be
    Open();
    W<QPlainTextEdit>("memReadme")->setPlainText("text");
    form->btnExitClick();
    EXPECT_FALSE(form->isVisible()) << "the window closes all the same";
    EXPECT_FALSE(testing_support::Exists(Mes())) << "saving stopped at the first value";
    for (const auto& event : recorder.events) EXPECT_NE(event.kind, "error") << event.text;
    EXPECT_TRUE(recorder.Notes().empty());
}

TEST_F(WizardTest, AnUnreadableMessageFileIsReportedAndZipFileIsNotRead) {
    WriteText(Ini(), "[Copy Details]\r\nZipFile=Other.zip\r\nZip=True\r\n");
    // A message file that is there but cannot be read, for every user (root reads a file
    // without permissions): a link to a file that has gone.
    ASSERT_EQ(::symlink("gone.mes", Mes().c_str()), 0);
    QString caption, text;
    gui_test::WhenModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        text = qobject_cast<QMessageBox*>(modal)->text();
        qobject_cast<QMessageBox*>(modal)->accept();
    });
    Open();
    EXPECT_EQ(caption, "Tallomir");
    EXPECT_TRUE(text.contains("Tallomir.mes"));
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "Tallomir.zip");
    EXPECT_TRUE(W<QCheckBox>("cbZip")->isChecked());
    EXPECT_EQ(W<QTabWidget>("pgcCopy")->currentIndex(), 0);
}
