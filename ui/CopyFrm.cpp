#include "ui/CopyFrm.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <cstdlib>

#include "app/Globals.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "ui/AboutFrm.h"
#include "ui/Artwork.h"
#include "ui/WindowLook.h"
#include "app/WizardRules.h"
#include "ui_CopyFrm.h"

#include "copyrun/CopyRun.h"
#include "copyrun/ZipStep.h"

namespace ui {
using namespace app;  // the wizard's text rules

TCopyForm* CopyForm = nullptr;

namespace {

// Page positions of pgcCopy and pgcWorkspaces.
enum CopyPage { kPageWorkspace = 0, kPageCopy = 1, kPageCD = 2, kPageZip = 3 };
enum WorkspacesPage { kTabWorkspaces = 0, kTabTables = 1, kTabHidden = 2, kTabGraphs = 3 };

// A folder chooser that accepts a typed folder that does not exist yet: on OK it creates
// the folder with every missing parent, without asking.
class TFolderDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && !QFileInfo(chosen.first()).isDir()) platform::ForceDirectories(FromQ(chosen.first()));
        QFileDialog::accept();
    }
};

// Restores a flag when a handler ends, however it ends.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : m_flag(flag), m_old(flag) { m_flag = value; }
    ~FlagScope() { m_flag = m_old; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};

}  // namespace

TCopyForm::TCopyForm(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::TCopyForm>()) {
    m_ui->setupUi(this);
    ApplyWindowLook(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_ui->imgBanner->setPixmap(artwork::Banner(m_ui->imgBanner->size()));
    m_ui->imgLogo->setPixmap(artwork::Logo(m_ui->imgLogo->width()));
    m_ui->Image2->setPixmap(artwork::Logo(m_ui->Image2->width()));
    // Tabs of 90 by 20 pixels on the outer page control; every page white.
    m_ui->pgcCopy->setStyleSheet(
        QStringLiteral("QTabWidget#pgcCopy > QTabBar::tab { width: 90px; height: 20px; }"
                       "#tabWorkspace, #tabCopy, #tabCD, #tabZip, #TabWorkspaces, #TabTables, #TabHidden, #tabGraphs"
                       " { background: white; }"));
    m_ui->pgcWorkspaces->setTabVisible(kTabTables, false);
    m_ui->pgcWorkspaces->setTabVisible(kTabHidden, false);
    m_ui->pgcWorkspaces->setTabVisible(kTabGraphs, false);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilters({QStringLiteral("Zip File (*.zip)"), QStringLiteral("All Files (*.*)")});
    SaveDialog1->setWindowTitle(QStringLiteral("Zip Filename to create "));

    m_state.changed = [this] { MirrorState(); };
    m_state.updateButtons = [this] {
        MirrorState();  // the rules read the lists as shown
        acUpdateButtonsExecute(nullptr);
    };
    OptionsFromControls();
    Connect();

    // Opening: the zip component, then the settings; whatever happens, page 0 and the rules.
    Guarded([&] {
        // Engine and self-extractor stub ship in the program's folder; a failure to load
        // is reported by the component and the window opens all the same.
        copyrun::ConfigureZipComponent(m_zip, platform::ProgramDir());
        m_zip.LoadEngine();
        LoadSettings();
    });
    m_ui->pgcCopy->setCurrentIndex(kPageWorkspace);
    acUpdateButtonsExecute(nullptr);
    CentreOnDesktop(this);
}

TCopyForm::~TCopyForm() {
    m_state.changed = nullptr;
    m_state.updateButtons = nullptr;
}

void TCopyForm::Connect() {
    Ui::TCopyForm& u = *m_ui;
    auto rulesOn = [this](QCheckBox* box, bool analysis::CopyOptions::*option) {
        connect(box, &QCheckBox::toggled, this, [this, box, option](bool on) {
            m_state.options.*option = on;
            Guarded([&] { acUpdateButtonsExecute(box); });
        });
    };
    rulesOn(u.cbVersion5, &analysis::CopyOptions::version5);
    rulesOn(u.cbCD, &analysis::CopyOptions::cd);
    rulesOn(u.cbZip, &analysis::CopyOptions::zip);
    rulesOn(u.cbEXE, &analysis::CopyOptions::exe);
    rulesOn(u.cbReadme, &analysis::CopyOptions::readme);
    connect(u.cbAutoRun, &QCheckBox::toggled, this, [this](bool on) {
        m_state.options.autoRun = on;
        Guarded([&] { acUpdateListExecute(); });
    });
    connect(u.cbRemoveFiles, &QCheckBox::toggled, this, [this](bool on) { m_state.options.removeFiles = on; });
    connect(u.edtPath, &QLineEdit::textChanged, this, [this](const QString& t) { m_state.options.path = FromQ(t); });
    connect(u.edtZip, &QLineEdit::textChanged, this, [this](const QString& t) { m_state.options.zipFile = FromQ(t); });
    connect(u.memReadme, &QPlainTextEdit::textChanged, this,
            [this] { m_state.options.readmeText = WithCrLf(ToLatin1(m_ui->memReadme->toPlainText())); });

    connect(u.pgcCopy, &QTabWidget::currentChanged, this, [this](int) {
        if (!m_inButtonRules && !m_navigating) Guarded([&] { acUpdateButtonsExecute(m_ui->pgcCopy); });
    });
    connect(u.lbWorkSpaces, &QListWidget::itemSelectionChanged, this,
            [this] { Guarded([&] { acUpdateButtonsExecute(m_ui->lbWorkSpaces); }); });
    connect(u.lbTables, &QListWidget::itemClicked, this, [this] { Guarded([&] { lbTablesClick(); }); });

    auto click = [this](QPushButton* button, void (TCopyForm::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    click(u.btnNext, &TCopyForm::btnNextClick);
    click(u.btnPrevious, &TCopyForm::btnPreviousClick);
    click(u.btnAddWorkSpace, &TCopyForm::btnAddWorkSpaceClick);
    click(u.btnRemoveWorkSpace, &TCopyForm::btnRemoveWorkSpaceClick);
    click(u.btnDir, &TCopyForm::btnDirClick);
    click(u.btnZip, &TCopyForm::btnZipClick);
    click(u.btnCopy, &TCopyForm::btnCopyClick);
    click(u.btnHelp, &TCopyForm::btnHelpClick);
    click(u.btnExit, &TCopyForm::btnExitClick);

    for (QObject* watched : {static_cast<QObject*>(u.edtPath), static_cast<QObject*>(u.edtZip),
                             static_cast<QObject*>(u.Label3), static_cast<QObject*>(u.Image2)})
        watched->installEventFilter(this);
}

void TCopyForm::OptionsFromControls() {
    Ui::TCopyForm& u = *m_ui;
    analysis::CopyOptions& o = m_state.options;
    o.path = FromQ(u.edtPath->text());
    o.version5 = u.cbVersion5->isChecked();
    o.cd = u.cbCD->isChecked();
    o.autoRun = u.cbAutoRun->isChecked();
    o.zip = u.cbZip->isChecked();
    o.removeFiles = u.cbRemoveFiles->isChecked();
    o.exe = u.cbEXE->isChecked();
    o.readme = u.cbReadme->isChecked();
    o.zipFile = FromQ(u.edtZip->text());
    o.readmeText = WithCrLf(ToLatin1(u.memReadme->toPlainText()));
}

std::string TCopyForm::SettingsDir() {
    if (const char* dir = std::getenv("TALLOMIR_SETTINGS_DIR"); dir && *dir) {
        std::string out = dir;
        if (out.back() != '/') out += '/';
        return out;
    }
    return platform::ProgramDir();
}

std::string TCopyForm::DefaultPath() { return FromQ(QDir::tempPath()) + "/Tallomir"; }

// ---- button rules and navigation ----------------------------------------------------------

void TCopyForm::acUpdateButtonsExecute(QObject* sender) {
    Ui::TCopyForm& u = *m_ui;
    {
        FlagScope inRules(m_inButtonRules, true);
        // Remove needs a chosen workspace; Copy needs tables and a target folder.
        u.btnRemoveWorkSpace->setEnabled(!u.lbWorkSpaces->selectedItems().isEmpty());
        u.btnCopy->setEnabled(u.lbTables->count() > 0 && !u.edtPath->text().isEmpty());
        // The CD page shows with the CD option, the zip page with the zip option, numbered
        // after the pages shown before it.
        u.pgcCopy->setTabVisible(kPageCD, u.cbCD->isChecked());
        if (u.cbZip->isChecked()) {
            u.lbZip->setText(u.cbCD->isChecked() ? QStringLiteral("4.") : QStringLiteral("3."));
            u.pgcCopy->setTabVisible(kPageZip, true);
        } else {
            u.pgcCopy->setTabVisible(kPageZip, false);
        }
        // The zip name: a default when empty, and the extension ".zip".
        const std::string zipName = FromQ(u.edtZip->text());
        const std::string ruled = ApplyZipNameRule(zipName);
        if (ruled != zipName) u.edtZip->setText(ToQ(ruled));
        // The message goes with the self-extracting archive only.
        if (!u.cbEXE->isChecked()) {
            u.cbReadme->setEnabled(false);
            u.memReadme->setEnabled(false);
            u.lbReadMe->setEnabled(false);
        } else {
            u.cbReadme->setEnabled(true);
            u.memReadme->setEnabled(u.cbReadme->isChecked());
            u.lbReadMe->setEnabled(u.cbReadme->isChecked());
        }
        // Next and Previous; positions count over all four pages, shown or not.
        int shown = 0;
        for (int i = 0; i < u.pgcCopy->count(); ++i)
            if (u.pgcCopy->isTabVisible(i)) ++shown;
        const int active = u.pgcCopy->currentIndex();
        u.btnNext->setEnabled(active < shown - 1);
        u.btnPrevious->setEnabled(active != kPageWorkspace);
    }
    // The CD option changes the disk-space figure: list again.
    if (sender == u.cbCD) acUpdateListExecute();
}

void TCopyForm::btnNextClick() {
    QTabWidget* pages = m_ui->pgcCopy;
    {
        FlagScope navigating(m_navigating, true);
        for (int i = pages->currentIndex() + 1; i < pages->count(); ++i) {
            if (pages->isTabVisible(i)) {
                pages->setCurrentIndex(i);
                break;
            }
        }
    }
    acUpdateButtonsExecute(m_ui->btnNext);
}

void TCopyForm::btnPreviousClick() {
    QTabWidget* pages = m_ui->pgcCopy;
    {
        FlagScope navigating(m_navigating, true);
        for (int i = pages->currentIndex() - 1; i >= 0; --i) {
            if (pages->isTabVisible(i)) {
                pages->setCurrentIndex(i);
                break;
            }
        }
    }
    acUpdateButtonsExecute(m_ui->btnPrevious);
}

// ---- the refresh and the mirrored state ----------------------------------------------------

void TCopyForm::acUpdateListExecute() {
    try {
        m_analysis.Refresh();
    } catch (...) {
        MirrorState();
        acUpdateButtonsExecute(nullptr);
        throw;
    }
    MirrorState();
}

void TCopyForm::MirrorState() {
    Ui::TCopyForm& u = *m_ui;
    // The refresh mostly appends: keep the shown prefix when it still matches.
    auto fill = [](QListWidget* list, const std::vector<std::string>& entries) {
        int keep = list->count();
        if (std::size_t(keep) > entries.size() ||
            (keep > 0 && list->item(keep - 1)->text() != ToQ(entries[std::size_t(keep - 1)]))) {
            list->clear();
            keep = 0;
        }
        for (std::size_t i = std::size_t(keep); i < entries.size(); ++i) list->addItem(ToQ(entries[i]));
    };
    fill(u.lbTables, m_state.tables);
    fill(u.lbGraphs, m_state.graphs);
    u.lblSize->setText(ToQ(m_state.sizeText));
    MirrorInfo();
}

void TCopyForm::MirrorInfo() {
    Ui::TCopyForm& u = *m_ui;
    u.edtDescription->setText(ToQ(m_state.info.description));
    u.edtMainFile->setText(ToQ(m_state.info.mainFile));
    u.edtFileSize->setText(ToQ(m_state.info.fileSize));
    u.lbFileInfo->clear();
    for (const std::string& file : m_state.info.fileInfo) u.lbFileInfo->addItem(ToQ(file));
}

void TCopyForm::lbTablesClick() {
    const int row = m_ui->lbTables->currentRow();
    if (row < 0 || !m_ui->lbTables->currentItem()->isSelected()) return;
    TableInfo(row);
}

// ---- the workspace list -----------------------------------------------------------------

void TCopyForm::btnAddWorkSpaceClick() {
    OpenDialog1->setNameFilters({QStringLiteral("MapInfo Workspaces (*.wor)"), QStringLiteral("All Files (*.*)")});
    OpenDialog1->setWindowTitle(QStringLiteral("Select a MapInfo Workspace"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    AddWorkSpace(FromQ(chosen.first()));
}

void TCopyForm::AddWorkSpace(const std::string& path) {
    for (const std::string& existing : m_state.workspaces) {
        if (pm::EqualNoCase(existing, path)) {
            app::UI().ShowNote("Workspace already exists in the list!");
            return;
        }
    }
    m_state.workspaces.push_back(path);
    m_ui->lbWorkSpaces->addItem(ToQ(path));
    acUpdateListExecute();
    acUpdateButtonsExecute(m_ui->btnAddWorkSpace);
}

void TCopyForm::btnRemoveWorkSpaceClick() {
    QListWidget* list = m_ui->lbWorkSpaces;
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty()) {
        const int row = list->row(selected.first());
        delete list->takeItem(row);
        m_state.workspaces.erase(m_state.workspaces.begin() + row);
        // Nothing is chosen after a removal, so a second press removes nothing unpicked.
        list->clearSelection();
        list->setCurrentItem(nullptr);
    }
    acUpdateListExecute();
    acUpdateButtonsExecute(m_ui->btnRemoveWorkSpace);
}

// ---- the path and zip-name fields -----------------------------------------------------------

void TCopyForm::edtPathExit() {
    const std::string text = FromQ(m_ui->edtPath->text());
    const std::string ruled = ApplyPathFieldRule(text);
    if (ruled != text) m_ui->edtPath->setText(ToQ(ruled));
    acUpdateButtonsExecute(m_ui->edtPath);
}

void TCopyForm::edtZipExit() { acUpdateButtonsExecute(m_ui->edtZip); }

void TCopyForm::btnDirClick() {
    const std::string path = FromQ(m_ui->edtPath->text());
    TFolderDialog chooser(this);
    chooser.setObjectName(QStringLiteral("DirDialog"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setDirectory(!path.empty() && platform::DirectoryExists(path)
                             ? ToQ(*platform::ResolveCase(platform::ExpandFileName(path)))
                             : QDir::currentPath());
    if (chooser.exec() != QDialog::Accepted) return;
    const QStringList chosen = chooser.selectedFiles();
    if (!chosen.isEmpty()) m_ui->edtPath->setText(QDir::toNativeSeparators(chosen.first()));
}

void TCopyForm::btnZipClick() {
    const std::string path = FromQ(m_ui->edtPath->text());
    if (!path.empty()) {
        try {
            platform::ForceDirectories(platform::ExpandFileName(path));
        } catch (...) {
            // a folder that cannot be created is ignored; the dialog opens anyway
        }
        SaveDialog1->setDirectory(ToQ(platform::ExpandFileName(path)));
    }
    SaveDialog1->selectFile(m_ui->edtZip->text());
    if (SaveDialog1->exec() == QDialog::Accepted && !SaveDialog1->selectedFiles().isEmpty()) {
        const std::string chosen = WithZipExtension(FromQ(SaveDialog1->selectedFiles().first()));
        m_ui->edtZip->setText(ToQ(RelativeToFolder(FromQ(m_ui->edtPath->text()), chosen)));
    }
    acUpdateButtonsExecute(m_ui->btnZip);
}

// ---- copy, about, exit ----------------------------------------------------------------------

void TCopyForm::SetCopyRunning(bool running) {
    m_copyRunning = running;
    m_ui->pnlCopy->setEnabled(!running);
    m_ui->btnHelp->setEnabled(!running);
    m_ui->btnExit->setEnabled(!running);
}

void TCopyForm::btnCopyClick() {
    if (m_copyRunning) return;
    OptionsFromControls();
    QWidget* backTo = nullptr;  // the field to correct when the run did not start
    copyrun::CopyRunContext context;
    context.archiveList = &m_zip.FSpecArgs();
    context.programDir = platform::ProgramDir();
    context.showCopyDetails = [&] { backTo = m_ui->edtPath; };
    context.showZipOptions = [&] { backTo = m_ui->edtZip; };
    context.zipStep = [this](const copyrun::TargetGuard& guard) { copyrun::ZipStep(m_state, m_zip, guard); };
    {
        struct Running {
            TCopyForm* form;
            ~Running() { form->SetCopyRunning(false); }
        } running{this};
        SetCopyRunning(true);
        copyrun::Run(m_state, context);
    }
    if (backTo) {
        // The target folder or the zip name cannot be used: back to the field.
        m_ui->pgcCopy->setCurrentWidget(backTo == m_ui->edtZip ? m_ui->tabZip : m_ui->tabCopy);
        backTo->setFocus();
    }
}

void TCopyForm::btnHelpClick() {
    if (!AboutForm) AboutForm = new TAboutForm();
    AboutForm->SetCloseEnabled(true);
    AboutForm->exec();
}

void TCopyForm::btnExitClick() {
    SaveSettings();
    close();
}

void TCopyForm::closeEvent(QCloseEvent* event) {
    if (m_copyRunning) {
        event->ignore();
        return;
    }
    app::MapInfoApp().Release();
    m_zip.UnloadEngine();
    event->accept();
    emit closed();
}

void TCopyForm::keyPressEvent(QKeyEvent* event) {
    // Escape does not close the wizard; only "E&xit" and the close box do.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- the tables page toggle and focus events ----------------------------------------------

void TCopyForm::ToggleTablesPage() {
    QTabWidget* pages = m_ui->pgcWorkspaces;
    pages->setTabVisible(kTabTables, !pages->isTabVisible(kTabTables));
}

void TCopyForm::Label3Click() { ToggleTablesPage(); }

void TCopyForm::Image2DblClick() {
    if (m_ui->pgcCopy->currentIndex() == kPageWorkspace) ToggleTablesPage();
}

bool TCopyForm::eventFilter(QObject* watched, QEvent* event) {
    Ui::TCopyForm& u = *m_ui;
    if (event->type() == QEvent::FocusOut) {
        // Focus that leaves with the whole window (another window in front) is no exit.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == u.edtPath) Guarded([&] { edtPathExit(); });
            if (watched == u.edtZip) Guarded([&] { edtZipExit(); });
        }
    } else if (watched == u.Label3 && event->type() == QEvent::MouseButtonRelease) {
        Guarded([&] { Label3Click(); });
        return true;
    } else if (watched == u.Image2 && event->type() == QEvent::MouseButtonDblClick) {
        Guarded([&] { Image2DblClick(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- the settings file ------------------------------------------------------------------

void TCopyForm::LoadSettings() {
    Ui::TCopyForm& u = *m_ui;
    const std::string ini = SettingsDir() + kSettingsFile;
    u.edtPath->setText(ToQ(platform::GetProfileString(ini, kSection, "Path", DefaultPath())));
    const std::pair<const char*, QCheckBox*> flags[] = {
        {"Version5", u.cbVersion5},          {"CD", u.cbCD},       {"CD Startup", u.cbAutoRun},    {"Zip", u.cbZip},
        {"ZipRemoveFiles", u.cbRemoveFiles}, {"MakeEXE", u.cbEXE}, {"IncludeMessage", u.cbReadme},
    };
    for (const auto& [key, box] : flags)
        box->setChecked(ProfileFlag(platform::GetProfileString(ini, kSection, key, "False")));

    const std::string messageFile = SettingsDir() + kMessageFile;
    if (platform::FileExists(messageFile)) {
        platform::FileBytes message = platform::ReadFile(messageFile);
        if (!message.bytes)
            throw std::runtime_error("Cannot open file \"" + messageFile + "\". " + message.error.message);
        u.memReadme->setPlainText(FromLatin1(WithNewlines(*message.bytes)));
    }
    u.edtZip->setText(ToQ(platform::GetProfileString(ini, kSection, "ZipFile", kDefaultZipName)));
    platform::FlushProfile(ini);
}

void TCopyForm::SaveSettings() {
    Ui::TCopyForm& u = *m_ui;
    const std::string ini = SettingsDir() + kSettingsFile;
    // Each step stops the saving at its first failure; nothing is reported.
    auto write = [&](const char* key, const std::string& value) {
        return !platform::WriteProfileString(ini, kSection, key, value);
    };
    try {
        const std::pair<const char*, QCheckBox*> flags[] = {
            {"Version5", u.cbVersion5},          {"CD", u.cbCD},       {"CD Startup", u.cbAutoRun}, {"Zip", u.cbZip},
            {"ZipRemoveFiles", u.cbRemoveFiles}, {"MakeEXE", u.cbEXE},
        };
        for (const auto& [key, box] : flags)
            if (!write(key, ProfileFlagText(box->isChecked()))) return;
        const std::string path = FromQ(u.edtPath->text());
        if (!write("Path", path)) return;
        if (!write("ZipFile", RelativeToFolder(path, FromQ(u.edtZip->text())))) return;
        if (!write("IncludeMessage", ProfileFlagText(u.cbReadme->isChecked()))) return;
        const QString message = u.memReadme->toPlainText();
        if (!message.isEmpty() && platform::WriteFile(SettingsDir() + kMessageFile, WithCrLf(ToLatin1(message))))
            return;
        platform::FlushProfile(ini);
    } catch (...) {
        // saving never stops the window from closing
    }
}

// ---- the table information -----------------------------------------------------------------

void TCopyForm::TableInfo(int index) {
    m_analysis.TableInfo(index);
    MirrorInfo();
}

}  // namespace ui
