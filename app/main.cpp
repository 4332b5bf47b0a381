// Tallomir: the wizard that packages MapInfo workspaces. The command line is not read and
// the exit code is always 0; the start-up sequence and the windows live in ui/.
#include <QApplication>
#include <QMessageBox>

#include "app/Globals.h"

#ifdef TALLOMIR_HAVE_UI
#include "ui/Startup.h"
#endif

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
#ifdef TALLOMIR_HAVE_UI
    return ui::RunStartup(application);
#else
    // Built without the windows: only the connection check.
    if (!app::ConnectMapInfo()) {
        QMessageBox::critical(nullptr, "Error",
                              "MapInfo is required to run Tallomir.\rCannot find MapInfo on this computer.");
        return 0;
    }
    app::MapInfoApp().Release();
    return 0;
#endif
}
