#include "app/core/Process.h"
#include "app/startup/Startup.h"
#include "video/FfmpegPlayer.h"

#include <QApplication>

using namespace kvr::video;
using namespace kvr::app;

int main(int argc, char** argv)
{
    FfmpegPlayer::prepareProcessHeap(); // before any thread starts
    prepareGraphics();
    QApplication app(argc, argv);
    prepareApplication(app);

    int status = 0;
    {
        TopLevelWindows windows;
        windows.connectSwitches();
        windows.showInitial();
        status = QApplication::exec();
        sayWhatQuitLeftUnsaved(kvr::core::Process::endedBySignal());
    }
    shutdownApplication();
    return status;
}
