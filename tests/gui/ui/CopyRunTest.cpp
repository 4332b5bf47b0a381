// "Copy Workspaces" from the wizard over the sample project, with the windows answering.
#include <algorithm>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "GuiTestSupport.h"
#include "ui/GuiUserInterface.h"
#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"

using gui_test::WizardTest;
using testing_support::TempDir;

namespace {

struct SeenNote {
    QString text;
    bool wizardLocked = false;
    bool cancelLive = false;
};

// The windows' user interface, with the progress texts written down on the way.
class ProgressTexts : public app::UserInterface {
public:
    explicit ProgressTexts(app::UserInterface& windows) : m_windows(windows) {}
    void ShowNote(const std::string& text) override { m_windows.ShowNote(text); }
    void BeginProgress(int maximum) override { m_windows.BeginProgress(maximum); }
    void SetProgress(int position, const std::string& text) override {
        texts.push_back(text);
        m_windows.SetProgress(position, text);
    }
    void EndProgress() override { m_windows.EndProgress(); }
    bool ProgressCancelled() const override { return m_windows.ProgressCancelled(); }
    void ProcessMessages() override { m_windows.ProcessMessages(); }
    void SetHourglass(bool on) override { m_windows.SetHourglass(on); }
    void Beep() override { m_windows.Beep(); }
    void ShowMessage(const std::string& text) override { m_windows.ShowMessage(text); }
    void ReportError(const std::string& text) override { m_windows.ReportError(text); }
    std::vector<std::string> texts;

private:
    app::UserInterface& m_windows;
};

}  // namespace

class CopyRunTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        ASSERT_TRUE(ConnectMapInfo()) << "the MapInfo engine plugin is built with the tests";
        Open().show();
        form->AddWorkSpace(ExampleWorkspace());
        app::SetUserInterface(&gui);
    }
    void TearDown() override {
        app::SetUserInterface(&recorder);
        delete ui::NoteForm;
        ui::NoteForm = nullptr;
        delete ui::ProgressForm;
        ui::ProgressForm = nullptr;
        WizardTest::TearDown();
    }
    // Presses "Copy Workspaces", answering every note; returns the notes seen.
    std::vector<SeenNote> RunCopy() {
        std::vector<SeenNote> notes;
        gui_test::ModalResponder responder([&](QWidget* modal) {
            SeenNote seen;
            if (auto* memo = modal->findChild<QPlainTextEdit*>("memNote")) seen.text = memo->toPlainText();
            seen.wizardLocked = form->CopyRunning() && !W<QWidget>("pnlCopy")->isEnabled() &&
                                !W<QPushButton>("btnExit")->isEnabled() && !W<QPushButton>("btnHelp")->isEnabled();
            seen.cancelLive =
                ui::ProgressForm && gui_test::Find<QPushButton>(ui::ProgressForm, "btnCancel")->isEnabled();
            notes.push_back(seen);
            static_cast<QDialog*>(modal)->close();
        });
        W<QPushButton>("btnCopy")->click();
        return notes;
    }

    ui::TGuiUserInterface gui;
};

TEST_F(CopyRunTest, TheWizardIsLockedDuringTheRunAndFreedAfterIt) {
    TempDir target;
    W<QLineEdit>("edtPath")->setText(QString::fromStdString(target / "out"));
    std::vector<SeenNote> notes = RunCopy();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().text, "Finished Copying!");
    for (const SeenNote& note : notes) {
        EXPECT_TRUE(note.wizardLocked) << note.text.toStdString();
        EXPECT_TRUE(note.cancelLive) << note.text.toStdString();
    }
    EXPECT_FALSE(form->CopyRunning());
    EXPECT_TRUE(W<QWidget>("pnlCopy")->isEnabled());
    EXPECT_TRUE(W<QPushButton>("btnExit")->isEnabled());
    EXPECT_TRUE(platform::FileExists(target / "out/City.WOR"));
    EXPECT_TRUE(platform::DirectoryExists(target / "out/TABLES/DATA"));
    // the close box is refused only while the run goes on
    EXPECT_TRUE(form->close());
}

TEST_F(CopyRunTest, AFolderOrZipNameThatCannotBeUsedLeadsBackToItsField) {
    TempDir target;
    testing_support::WriteText(target / "file", "not a folder");
    W<QLineEdit>("edtPath")->setText(QString::fromStdString(target / "file/out"));
    std::vector<SeenNote> notes = RunCopy();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].text, "Error creating directory. Cannot continue.");
    EXPECT_EQ(W<QTabWidget>("pgcCopy")->currentIndex(), 1);
    EXPECT_EQ(form->focusWidget(), W<QLineEdit>("edtPath"));

    // The work archive's own name as the zip name: back to the zip name, nothing written.
    W<QLineEdit>("edtPath")->setText(QString::fromStdString(target / "out"));
    W<QCheckBox>("cbZip")->setChecked(true);
    W<QLineEdit>("edtZip")->setText("~TEMP.zip");
    notes = RunCopy();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].text.endsWith("Choose another zip file name.")) << notes[0].text.toStdString();
    EXPECT_EQ(W<QTabWidget>("pgcCopy")->currentWidget(), W<QWidget>("tabZip"));
    EXPECT_EQ(form->focusWidget(), W<QLineEdit>("edtZip"));
    EXPECT_FALSE(testing_support::Exists(target / "out"));
}

TEST_F(CopyRunTest, CancelInTheProgressWindowInterruptsTheRun) {
    TempDir target;
    W<QLineEdit>("edtPath")->setText(QString::fromStdString(target / "out"));
    // Pressed as soon as the progress window shows: the run lets messages through.
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (ui::ProgressForm && ui::ProgressForm->isVisible()) {
            gui_test::Find<QPushButton>(ui::ProgressForm, "btnCancel")->click();
            press.stop();
        }
    });
    press.start(0);
    std::vector<SeenNote> notes = RunCopy();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().text, "Copying interrupted by user. Warning: Copying incomplete!");
    EXPECT_TRUE(ui::ProgressCancelled) << "the flag stays set until the next run";
    EXPECT_FALSE(form->CopyRunning());
}

TEST_F(CopyRunTest, WithTheZipOptionTheRunLeavesAnArchive) {
    // The engine ships beside the program; the test program lives elsewhere.
    form->Zip().SetDLLDirectory(testing_support::BinDir());
    form->Zip().LoadEngine();
    ASSERT_TRUE(form->Zip().EngineLoaded()) << "the zip engine is built with the tests";
    TempDir target;
    W<QLineEdit>("edtPath")->setText(QString::fromStdString(target / "out"));
    W<QCheckBox>("cbZip")->setChecked(true);
    W<QCheckBox>("cbRemoveFiles")->setChecked(true);
    W<QLineEdit>("edtZip")->setText("Pack.zip");
    ProgressTexts progress(gui);
    app::SetUserInterface(&progress);
    std::vector<SeenNote> notes = RunCopy();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().text, "Finished Copying!");
    // The progress window follows the tables, then the packing file by file.
    ASSERT_FALSE(progress.texts.empty());
    EXPECT_EQ(progress.texts.front().rfind("Copying ", 0), 0u) << progress.texts.front();
    EXPECT_NE(std::find(progress.texts.begin(), progress.texts.end(), "Zipping City.WOR..."), progress.texts.end())
        << ::testing::PrintToString(progress.texts);
    EXPECT_EQ(progress.texts.back().rfind("Zipping ", 0), 0u) << progress.texts.back();
    ASSERT_TRUE(platform::FileExists(target / "out/Pack.zip"));
    EXPECT_FALSE(platform::FileExists(target / "out/City.WOR")) << "copied files removed";
    if (testing_support::HaveTool("unzip")) {
        auto listing = testing_support::RunCommand("unzip -l '" + target / "out/Pack.zip" + "'");
        EXPECT_EQ(listing.status, 0);
        EXPECT_NE(listing.output.find("City.WOR"), std::string::npos) << listing.output;
        EXPECT_EQ(testing_support::RunCommand("unzip -tq '" + target / "out/Pack.zip" + "'").status, 0);
    }
}
