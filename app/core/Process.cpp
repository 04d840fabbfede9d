#include "app/core/Process.h"

#include "app/core/Logging.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(Q_OS_MACOS)
#include <sys/syslimits.h>
#endif

namespace kvr::core::Process {

namespace {

// The ends of the pipe from the signal handler to the event loop.
int g_signalPipe[2] = {-1, -1};
// Set once the event loop took a signal's request to end.
bool g_endedBySignal = false;

// Async-signal-safe: one byte down the pipe, errno left as it was.
void onTerminationSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

const char* signalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace

qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    const rlim_t before = limit.rlim_cur;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit wanted = limit;
        wanted.rlim_cur = limit.rlim_max;
#if defined(Q_OS_MACOS)
        // The system refuses a soft limit past OPEN_MAX when the hard one is
        // unlimited.
        if (wanted.rlim_cur == RLIM_INFINITY || wanted.rlim_cur > rlim_t(OPEN_MAX))
            wanted.rlim_cur = std::max<rlim_t>(limit.rlim_cur, OPEN_MAX);
#endif
        if (::setrlimit(RLIMIT_NOFILE, &wanted) == 0)
            limit = wanted;
        else
            qCWarning(lcCore).noquote() << "[app] could not raise the open-file limit from" << qint64(before);
    }
    if (limit.rlim_cur != before)
        qCInfo(lcCore).noquote() << "[app] open-file limit raised from" << qint64(before) << "to"
                                 << (limit.rlim_cur == RLIM_INFINITY ? qint64(-1) : qint64(limit.rlim_cur));
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit.rlim_cur);
}

void quitOnTerminationSignals()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        qCWarning(lcCore).noquote() << "[app] no pipe for the system's requests to end; they end the program at once";
        return;
    }
    for (const int fd : g_signalPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The handler never waits for a full pipe.
    ::fcntl(g_signalPipe[1], F_SETFL, ::fcntl(g_signalPipe[1], F_GETFL) | O_NONBLOCK);

    auto* notifier = new QSocketNotifier(qintptr(g_signalPipe[0]), QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) != 1)
            return;
        notifier->setEnabled(false);
        g_endedBySignal = true;
        qCInfo(lcCore).noquote() << "[app]" << signalName(int(byte)) << "received: saving and quitting";
        // Every event loop is left, a dialog's included; windows that would
        // refuse to close (a video wall's) do not hold the end back.
        QCoreApplication::exit(0);
    });

    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // A second request of the same kind while the first is under way ends
    // the process. One of another kind does not: a log-out sends SIGHUP
    // right after SIGTERM, and that must not cut the save short.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool endedBySignal()
{
    return g_endedBySignal;
}

} // namespace kvr::core::Process
