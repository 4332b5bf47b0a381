// The workspace list: the open dialog, duplicates, removal, and the refresh it drives over
// the sample project through the MapInfo engine.
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "ui/GuiUserInterface.h"
#include "ui/NoteFrm.h"

using gui_test::WizardTest;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

const char* kEmptyWorkspace = "!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\n";

}  // namespace

TEST_F(WizardTest, SameWorkspaceInOtherLetterCaseIsADuplicate) {
    TempDir dir;
    WriteText(dir / "Plan.WOR", kEmptyWorkspace);
    Open();
    form->AddWorkSpace(dir / "Plan.WOR");
    form->AddWorkSpace(dir / "PLAN.wor");
    EXPECT_EQ(recorder.Notes(), std::vector<std::string>{"Workspace already exists in the list!"});
    EXPECT_EQ(W<QListWidget>("lbWorkSpaces")->count(), 1);
    EXPECT_EQ(form->State().workspaces, std::vector<std::string>{dir / "Plan.WOR"});
}

TEST_F(WizardTest, DuplicateMessageIsShownInTheModalMessageWindow) {
    TempDir dir;
    WriteText(dir / "Plan.WOR", kEmptyWorkspace);
    Open();
    form->AddWorkSpace(dir / "Plan.WOR");
    ui::TGuiUserInterface gui;
    app::SetUserInterface(&gui);
    QString shown, title;
    gui_test::WhenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        shown = gui_test::Find<QPlainTextEdit>(modal, "memNote")->toPlainText();
        gui_test::Find<QPushButton>(modal, "btnOK")->click();
    });
    form->AddWorkSpace(dir / "plan.WOR");
    app::SetUserInterface(&recorder);
    EXPECT_EQ(title, "Message!");
    EXPECT_EQ(shown, "Workspace already exists in the list!");
    delete ui::NoteForm;
    ui::NoteForm = nullptr;
}

TEST_F(WizardTest, AddTakesTheFileChosenInTheOpenDialog) {
    TempDir dir;
    WriteText(dir / "Plan.WOR", kEmptyWorkspace);
    Open();
    QString title;
    QStringList filters;
    bool caseSensitive = true;
    gui_test::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), "OpenDialog1");
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        caseSensitive = dialog->filter().testFlag(QDir::CaseSensitive);
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(dir / "Plan.WOR"));
        static_cast<QDialog*>(dialog)->accept();
    });
    W<QPushButton>("btnAddWorkSpace")->click();
    EXPECT_EQ(title, "Select a MapInfo Workspace");
    EXPECT_EQ(filters, (QStringList{"MapInfo Workspaces (*.wor)", "All Files (*.*)"}));
    EXPECT_FALSE(caseSensitive) << "*.wor must list PLAN.WOR too";
    EXPECT_EQ(form->State().workspaces, std::vector<std::string>{dir / "Plan.WOR"});
    EXPECT_EQ(W<QLabel>("lblSize")->text(), "0 KiloBytes");

    // cancelling changes nothing
    gui_test::WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    W<QPushButton>("btnAddWorkSpace")->click();
    EXPECT_EQ(form->State().workspaces.size(), 1u);
}

TEST_F(WizardTest, RemoveTakesOnlyTheSelectedWorkspace) {
    TempDir dir;
    WriteText(dir / "A.WOR", kEmptyWorkspace);
    WriteText(dir / "B.WOR", kEmptyWorkspace);
    Open();
    form->AddWorkSpace(dir / "A.WOR");
    form->AddWorkSpace(dir / "B.WOR");
    auto* list = W<QListWidget>("lbWorkSpaces");
    auto* remove = W<QPushButton>("btnRemoveWorkSpace");
    list->clearSelection();
    EXPECT_FALSE(remove->isEnabled());
    form->btnRemoveWorkSpaceClick();
    EXPECT_EQ(list->count(), 2) << "nothing selected, nothing removed";
    list->setCurrentRow(0);
    EXPECT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(form->State().workspaces, std::vector<std::string>{dir / "B.WOR"});
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text().toStdString(), dir / "B.WOR");
    // After a removal nothing is chosen: a second press cannot take a workspace never picked.
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_FALSE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(list->count(), 1);
}

TEST_F(WizardTest, TheSampleProjectListsItsTablesAndTheDiskSpace) {
    ASSERT_TRUE(ConnectMapInfo()) << "the MapInfo engine plugin is built with the tests";
    Open();
    form->AddWorkSpace(ExampleWorkspace());
    auto* tables = W<QListWidget>("lbTables");
    ASSERT_GT(tables->count(), 0) << "notes: " << ::testing::PrintToString(recorder.Notes());
    EXPECT_EQ(tables->count(), int(form->State().tables.size()));
    EXPECT_TRUE(tables->item(0)->text().startsWith("Streets "));
    EXPECT_TRUE(W<QLabel>("lblSize")->text().endsWith(" KiloBytes"));
    EXPECT_NE(W<QLabel>("lblSize")->text(), "0 KiloBytes");
    EXPECT_TRUE(W<QPushButton>("btnCopy")->isEnabled());

    // a click on a table shows its information on the hidden page
    tables->setCurrentRow(0);
    form->lbTablesClick();
    EXPECT_EQ(W<QLineEdit>("edtDescription")->text(), "Streets");
    EXPECT_TRUE(W<QLineEdit>("edtMainFile")->text().endsWith("Streets.TAB", Qt::CaseInsensitive));
    EXPECT_GT(W<QLineEdit>("edtFileSize")->text().toLongLong(), 0);
    EXPECT_GE(W<QListWidget>("lbFileInfo")->count(), 2);

    // clearing the target folder disables the copy although tables are listed
    auto* path = W<QLineEdit>("edtPath");
    path->clear();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(path, &out);
    EXPECT_FALSE(W<QPushButton>("btnCopy")->isEnabled());

    // removing the workspace empties the lists again
    W<QListWidget>("lbWorkSpaces")->setCurrentRow(0);
    form->btnRemoveWorkSpaceClick();
    EXPECT_EQ(tables->count(), 0);
    EXPECT_EQ(W<QLabel>("lblSize")->text(), "0 KiloBytes");
}
