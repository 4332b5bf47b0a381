#include "ui/Startup.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Globals.h"
#include "app/UserInterface.h"
#include "ui/AboutFrm.h"
#include "ui/CopyFrm.h"
#include "ui/GuiUserInterface.h"
#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"

namespace ui {
namespace {

// Destroys the windows when the program ends, on every path.
struct Windows {
    ~Windows() {
        delete ProgressForm;
        ProgressForm = nullptr;
        delete NoteForm;
        NoteForm = nullptr;
        delete CopyForm;
        CopyForm = nullptr;
        delete AboutForm;
        AboutForm = nullptr;
    }
};

}  // namespace

int RunStartup(QApplication& application) {
    TGuiUserInterface gui;
    app::SetUserInterface(&gui);
    struct Uninstall {
        ~Uninstall() { app::SetUserInterface(nullptr); }
    } uninstall;
    Windows windows;

    // The start-up screen is painted before the connection attempt blocks the thread.
    AboutForm = new TAboutForm();
    AboutForm->SetCloseEnabled(false);
    AboutForm->show();
    AboutForm->repaint();
    QCoreApplication::processEvents();

    if (!app::ConnectMapInfo()) {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kNoMapInfoTitle), QString::fromUtf8(kNoMapInfoText),
                        QMessageBox::Ok, AboutForm);
        box.setObjectName(QStringLiteral("StartupError"));
        box.exec();
        return 0;
    }

    // No time limit: the screen stays until "&OK" or its close box hides it.
    AboutForm->SetCloseEnabled(true);
    while (AboutForm->isVisible()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    QApplication::setApplicationName(QStringLiteral("Tallomir"));
    CopyForm = new TCopyForm();
    // (either may exist already: made on demand by a note or progress during the wizard's creation)
    if (!NoteForm) NoteForm = new TNoteForm();
    if (!ProgressForm) ProgressForm = new TProgressForm();

    application.setQuitOnLastWindowClosed(false);
    QObject::connect(CopyForm, &TCopyForm::closed, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    CopyForm->show();
    application.exec();

    app::MapInfoApp().Release();
    return 0;
}

}  // namespace ui
