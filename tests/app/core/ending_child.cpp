// A program that ends as Kavira does when the system asks it to, with a
// save on the way out that takes as long as the test says (a hung share, a
// disk that stopped answering). It says "listening" once it takes the
// system's requests and "saving" once the first one left its event loop,
// then waits for a line on its standard input before it ends with status 0.

#include "app/core/Process.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    kvr::core::Process::quitOnTerminationSignals();
    std::puts("listening");
    std::fflush(stdout);
    const int status = app.exec();
    std::printf("saving %d\n", status);
    std::fflush(stdout);
    // The save: a read that a signal whose handler runs leaves waiting (the
    // handler restarts it); a signal that ends the process ends it here.
    char line[64];
    ssize_t got = 0;
    do {
        got = ::read(STDIN_FILENO, line, sizeof line);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? 0 : 1;
}
