// The folder chooser and the zip-name dialog of the wizard.
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include "GuiTestSupport.h"

using gui_test::WizardTest;
using testing_support::TempDir;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Chooses `path` in the next file dialog and confirms it; records the dialog's title.
void Choose(const std::string& path, QString* title = nullptr, QStringList* filters = nullptr) {
    gui_test::WhenModal([=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        if (title) *title = dialog->windowTitle();
        if (filters) *filters = dialog->nameFilters();
        // typed into the name field, as a user would
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(Q(path));
        static_cast<QDialog*>(dialog)->accept();
    });
}

}  // namespace

TEST_F(WizardTest, FolderChooserCreatesATypedFolder) {
    TempDir dir;
    Open();
    W<QLineEdit>("edtPath")->setText(Q(dir.path()));
    QString start;
    gui_test::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), "DirDialog");
        start = dialog->directory().absolutePath();
        // typed into the name field, as a user would: selectFile() on a folder that does not
        // exist yet depends on the dialog's background listing having finished
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(Q(dir / "new/deeper"));
        static_cast<QDialog*>(dialog)->accept();
    });
    W<QPushButton>("btnDir")->click();
    EXPECT_EQ(start, Q(dir.path())) << "starts at the target folder";
    EXPECT_TRUE(platform::DirectoryExists(dir / "new/deeper"));
    EXPECT_EQ(W<QLineEdit>("edtPath")->text(), Q(dir / "new/deeper"));

    // cancel changes nothing
    gui_test::WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    W<QPushButton>("btnDir")->click();
    EXPECT_EQ(W<QLineEdit>("edtPath")->text(), Q(dir / "new/deeper"));
}

TEST_F(WizardTest, ZipNameDialogCreatesTheTargetAndStoresARelativeName) {
    TempDir dir;
    Open();
    W<QLineEdit>("edtPath")->setText(Q(dir / "target"));
    QString title;
    QStringList filters;
    Choose(dir / "target/Out.ZIP", &title, &filters);
    W<QPushButton>("btnZip")->click();
    EXPECT_TRUE(platform::DirectoryExists(dir / "target")) << "the target folder is made first";
    EXPECT_EQ(title, "Zip Filename to create ");
    EXPECT_EQ(filters, (QStringList{"Zip File (*.zip)", "All Files (*.*)"}));
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "Out.zip");

    Choose(dir / "Other");
    W<QPushButton>("btnZip")->click();
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "../Other.zip");
    EXPECT_EQ(form->State().options.zipFile, "../Other.zip");
}

TEST_F(WizardTest, ZipNameDialogOpensEvenWhenTheTargetCannotBeMade) {
    TempDir dir;
    testing_support::WriteText(dir / "file", "x");
    Open();
    W<QLineEdit>("edtPath")->setText(Q(dir / "file/target"));
    W<QLineEdit>("edtZip")->setText("Keep");
    gui_test::WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    W<QPushButton>("btnZip")->click();
    EXPECT_EQ(W<QLineEdit>("edtZip")->text(), "Keep.zip") << "cancelled: only the button rules ran";
    EXPECT_TRUE(recorder.events.empty() || recorder.Notes().empty());
}
