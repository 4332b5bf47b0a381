// The message, progress and About windows, and the user interface built on them.
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "GuiTestSupport.h"
#include "ui/AboutFrm.h"
#include "ui/Artwork.h"
#include "ui/GuiUserInterface.h"
#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"
#include "ui/WindowLook.h"

using gui_test::Find;
using gui_test::WhenModal;

TEST(NoteForm, EachNoteReplacesTheLastAndWaitsForOk) {
    ui::TNoteForm note;
    EXPECT_EQ(note.windowTitle(), "Message!");
    EXPECT_EQ(note.size(), QSize(342, 158));
    std::vector<QString> seen;
    auto readAndClose = [&](QWidget* modal) {
        EXPECT_EQ(modal, &note);
        seen.push_back(Find<QPlainTextEdit>(modal, "memNote")->toPlainText());
        QTest::mouseClick(Find<QPushButton>(modal, "btnOK"), Qt::LeftButton);
    };
    WhenModal(readAndClose);
    note.ShowNote("Error copying file C:\\a.DAT\rAccess is denied.");
    WhenModal(readAndClose);
    note.ShowNote("Finished Copying!");
    WhenModal(readAndClose);
    note.ShowNote("one\r\ntwo");
    EXPECT_EQ(seen, (std::vector<QString>{"Error copying file C:\\a.DAT\nAccess is denied.", "Finished Copying!",
                                          "one\ntwo"}));
    EXPECT_FALSE(note.isVisible());
}

TEST(ProgressForm, BeginAndSetProgress) {
    ui::TProgressForm progress;
    EXPECT_EQ(progress.windowTitle(), "ProgressForm");
    EXPECT_EQ(progress.size(), QSize(344, 190));
    ui::ProgressCancelled = true;
    progress.BeginProgress(10);
    EXPECT_FALSE(ui::ProgressCancelled);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(progress.isModal());
    EXPECT_EQ(progress.Maximum(), 10);
    EXPECT_EQ(progress.Position(), 0);
    EXPECT_EQ(progress.Text(), "Progress");

    progress.SetProgress(4, "Copying Streets");
    EXPECT_EQ(progress.Position(), 4);
    EXPECT_EQ(progress.Text(), "Copying Streets");
    progress.SetProgress(25, "beyond");
    EXPECT_EQ(progress.Position(), 10) << "a full bar";

    // the close box does not cancel; the next SetProgress shows the window again
    progress.close();
    EXPECT_FALSE(ui::ProgressCancelled);
    progress.SetProgress(5, "again");
    EXPECT_TRUE(progress.isVisible());

    EXPECT_THROW(progress.BeginProgress(-1), std::invalid_argument);
    progress.BeginProgress(0);
    EXPECT_FALSE(Find<QProgressBar>(&progress, "ProgressBar1")->maximum() ==
                 Find<QProgressBar>(&progress, "ProgressBar1")->minimum())
        << "no busy indicator for an empty run";
}

TEST(ProgressForm, CancelSetsTheFlagUntilTheNextBegin) {
    ui::TProgressForm progress;
    progress.BeginProgress(3);
    auto* cancel = Find<QPushButton>(&progress, "btnCancel");
    cancel->click();
    cancel->click();
    EXPECT_TRUE(ui::ProgressCancelled);
    EXPECT_TRUE(progress.isVisible()) << "the window stays open";
    progress.SetProgress(2, "still running");
    EXPECT_TRUE(ui::ProgressCancelled);
    progress.BeginProgress(3);
    EXPECT_FALSE(ui::ProgressCancelled);
}

TEST(ProgressForm, TheAnimationPlaysOnceForEachBegin) {
    ui::TProgressForm progress;
    EXPECT_FALSE(progress.AnimationRunning()) << "not running at first";
    for (int run = 0; run < 2; ++run) {
        progress.BeginProgress(5);
        EXPECT_EQ(progress.AnimationFrame(), 1);
        EXPECT_TRUE(progress.AnimationRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!progress.AnimationRunning(), 5000);
        EXPECT_EQ(progress.AnimationFrame(), ui::artwork::kCopyAnimationFrames);
        QTest::qWait(3 * ui::TProgressForm::kFrameMilliseconds);
        EXPECT_EQ(progress.AnimationFrame(), ui::artwork::kCopyAnimationFrames) << "stands still";
    }
}

TEST(AboutForm, TextsLinkAndClose) {
    ui::TAboutForm about;
    EXPECT_EQ(about.windowTitle(), "About Tallomir");
    EXPECT_EQ(about.size(), QSize(538, 390));
    EXPECT_EQ(Find<QLabel>(&about, "lblVersion")->text(), "Version 2.0.7 [1]");
    EXPECT_EQ(Find<QLabel>(&about, "lblWebInfo")->text(), "For more information on other Brennick products visit: ");
    EXPECT_TRUE(Find<QLabel>(&about, "lblHelp1")->text().startsWith("Tallomir is a program that has been"));
    EXPECT_FALSE(Find<QPlainTextEdit>(&about, "memLicense")->toPlainText().isEmpty()) << "licence from the resources";
    QStringList opened;
    about.openUrl = [&](const QString& address) { opened << address; };
    about.show();
    QTest::mouseClick(Find<QLabel>(&about, "lblUrl"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{ui::TAboutForm::kWebAddress});
    auto* ok = Find<QPushButton>(&about, "btnClose");
    about.SetCloseEnabled(false);
    EXPECT_FALSE(ok->isEnabled());
    about.SetCloseEnabled(true);
    ok->click();
    EXPECT_FALSE(about.isVisible());
}

TEST(GuiUserInterface, MessagesErrorsHourglassAndCancel) {
    ui::TGuiUserInterface gui;
    struct Box {
        QString title, text;
        QMessageBox::Icon icon;
    };
    std::vector<Box> boxes;
    auto record = [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        boxes.push_back({box->windowTitle(), box->text(), box->icon()});
        box->accept();
    };
    WhenModal(record);
    gui.ShowMessage("Zip file created.");
    WhenModal(record);
    gui.ReportError("Cannot open file \"x\".\rAccess is denied.");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "Tallomir");
    EXPECT_EQ(boxes[0].text, "Zip file created.");
    EXPECT_EQ(boxes[1].title, "Tallomir");
    EXPECT_EQ(boxes[1].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[1].text, "Cannot open file \"x\".\nAccess is denied.");

    gui.SetHourglass(true);
    gui.SetHourglass(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    gui.SetHourglass(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "one restore for a repeated set";

    gui.BeginProgress(2);
    EXPECT_FALSE(gui.ProgressCancelled());
    Find<QPushButton>(ui::ProgressForm, "btnCancel")->click();
    gui.ProcessMessages();
    EXPECT_TRUE(gui.ProgressCancelled());
    gui.EndProgress();
    EXPECT_FALSE(ui::ProgressForm->isVisible());
    delete ui::ProgressForm;
    ui::ProgressForm = nullptr;
}

TEST(GuiUserInterface, AnErrorInAnEventHandlerIsReportedAndTheWindowCarriesOn) {
    QString text;
    WhenModal([&](QWidget* modal) {
        text = qobject_cast<QMessageBox*>(modal)->text();
        qobject_cast<QMessageBox*>(modal)->accept();
    });
    bool after = false;
    ui::Guarded([] { throw std::runtime_error("Disk full."); });
    after = true;
    EXPECT_EQ(text, "Disk full.");
    EXPECT_TRUE(after);
}
