#include "app/startup/Startup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    prepareGraphics();
    QApplication app(argc, argv);
    prepareApplication(app);

    TopLevelWindows windows;
    windows.connectSwitches();
    windows.showInitial();
    return QApplication::exec();
}
