// Renders every page of the wizard and every small window into PNG files, so a reviewer
// can look at them: ui_screenshots OUTPUT_FOLDER [WORKSPACE...]. Run by scripts/screenshots
// under Xvfb; settings go to a temporary folder, notes are recorded, not shown.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/Globals.h"
#include "ui/AboutFrm.h"
#include "ui/CopyFrm.h"
#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"
#include "ui/Startup.h"

namespace {

QString g_out;

void Settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget* window, const QString& name) {
    Settle(150);
    const QString file = g_out + "/" + name + ".png";
    if (!window->grab().save(file)) std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else std::printf("%s\n", qPrintable(file));
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fputs("usage: ui_screenshots OUTPUT_FOLDER [WORKSPACE...]\n", stderr);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QTemporaryDir settings;
    qputenv("TALLOMIR_SETTINGS_DIR", settings.path().toLocal8Bit());
    // The core's notes go nowhere: the user interface stays the silent one.
    const bool connected = app::ConnectMapInfo();
    if (!connected) std::fputs("MapInfo not reachable: the table list stays empty\n", stderr);

    ui::TAboutForm about;
    about.show();
    Save(&about, "about");
    about.findChild<QTabWidget*>("pgcAbout")->setCurrentIndex(1);
    Save(&about, "about-licence");
    about.findChild<QTabWidget*>("pgcAbout")->setCurrentIndex(0);
    about.SetCloseEnabled(false);
    Save(&about, "about-startup");
    about.hide();

    ui::TCopyForm form;
    form.show();
    for (int i = 2; i < argc; ++i) form.AddWorkSpace(argv[i]);
    auto* pages = form.findChild<QTabWidget*>("pgcCopy");
    auto* inner = form.findChild<QTabWidget*>("pgcWorkspaces");
    form.findChild<QListWidget*>("lbWorkSpaces")->setCurrentRow(0);
    Save(&form, "wizard-1-workspaces");
    form.Label3Click();
    inner->setCurrentIndex(1);
    if (auto* tables = form.findChild<QListWidget*>("lbTables"); tables->count() > 0) {
        tables->setCurrentRow(0);
        form.lbTablesClick();
    }
    Save(&form, "wizard-1-tables");
    inner->setTabVisible(2, true);
    inner->setCurrentIndex(2);
    Save(&form, "wizard-1-hidden-layer-information");
    inner->setTabVisible(2, false);
    inner->setCurrentIndex(0);
    form.findChild<QCheckBox*>("cbCD")->setChecked(true);
    form.findChild<QCheckBox*>("cbZip")->setChecked(true);
    form.btnNextClick();
    Save(&form, "wizard-2-copy-details");
    form.btnNextClick();
    form.findChild<QCheckBox*>("cbAutoRun")->setChecked(true);
    Save(&form, "wizard-3-cd-options");
    form.btnNextClick();
    form.findChild<QCheckBox*>("cbEXE")->setChecked(true);
    form.findChild<QCheckBox*>("cbReadme")->setChecked(true);
    Save(&form, "wizard-4-zip-options");
    pages->setCurrentIndex(0);
    form.findChild<QCheckBox*>("cbCD")->setChecked(false);
    Save(&form, "wizard-zip-only-page-1");
    pages->setCurrentIndex(3);
    form.acUpdateButtonsExecute(nullptr);
    Save(&form, "wizard-zip-only-zip-options");
    form.hide();

    QMessageBox error(QMessageBox::Critical, ui::kNoMapInfoTitle, ui::kNoMapInfoText, QMessageBox::Ok);
    QTimer::singleShot(0, &error, [&] {
        Save(&error, "startup-error");
        error.accept();
    });
    error.exec();

    ui::TNoteForm note;
    QTimer::singleShot(0, &note, [&] {
        Save(&note, "note");
        note.close();
    });
    note.ShowNote(
        "Error copying file C:\\Data\\Roads.DAT\r\nThe process cannot access the file because it is "
        "being used by another process.");

    ui::TProgressForm progress;
    progress.BeginProgress(12);
    progress.SetProgress(5, "Copying Streets");
    Settle(ui::TProgressForm::kFrameMilliseconds * 12);
    Save(&progress, "progress");
    progress.close();

    app::MapInfoApp().Release();
    return 0;
}
