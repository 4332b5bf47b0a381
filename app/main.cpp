// Start-up of the wizard: connect to MapInfo, then hand over to the windows.
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
    if (!app::ConnectMapInfo()) {
        QMessageBox::critical(nullptr, "Error",
                              "MapInfo is required to run Tallomir.\rCannot find MapInfo on this computer.");
        return 0;
    }
    QApplication::setApplicationName("Tallomir");
    QMessageBox::information(nullptr, "Tallomir", "Connected to MapInfo. The wizard is not built yet.");
    app::MapInfoApp().Release();
    return 0;
#endif
}
