// Tallomir: the wizard that packages MapInfo workspaces. The command line is not read and
// the exit code is always 0; the start-up sequence and the windows live in ui/.
#include <QApplication>

#include "ui/Startup.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    return ui::RunStartup(application);
}
