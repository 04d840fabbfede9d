#pragma once

// Devices that never answer, in numbers: addresses whose connects hang (the
// connection attempt is dropped unanswered, as by a device that is off or a
// firewall that drops), until the caller's own time bound ends them.
//
// Where the machine allows it (a user who may make network namespaces), the
// benchmark runs itself again inside a network namespace of its own in which
// the private range of silentAddress() is routed to the loopback interface: nothing
// there takes the packets, so every connect to such an address hangs, and
// every silent device can have an address of its own. Nothing leaves the
// namespace. Elsewhere it stays where it is, and silent devices share the
// address of a loopback listener whose queue is full (kvrtest::SilentPort).

#include <QByteArray>
#include <QString>

#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

namespace bench {

// 10.64.0.0/10: a private range, named here as text only; outside the
// namespace nothing is ever sent to it. Four million addresses, of which
// the first 62,500 x 64 are handed out.
inline QString silentAddress(int index)
{
    return QStringLiteral("10.%1.%2.%3").arg(64 + index / 62500 % 64).arg(index / 250 % 250).arg(1 + index % 250);
}

namespace detail {
inline constexpr const char* kNetEnv = "KVR_BENCH_SILENT_NET";
inline constexpr const char* kSetUp = "ip link set lo up && ip route add 10.64.0.0/10 dev lo";

// Runs argv and waits; its exit status, or -1.
inline int runAndWait(char* const* argv, bool mark)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (mark)
            setenv(kNetEnv, "1", 1);
        execvp(argv[0], argv);
        _exit(127);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
} // namespace detail

// Whether this process runs inside the silent namespace.
inline bool inSilentNet()
{
    return qgetenv(detail::kNetEnv) == "1";
}

// Call first thing in main(). When the namespace can be made and this
// process is not yet inside it, runs the benchmark again inside it, waits
// and returns true with its exit status in `status` (main returns it).
// Otherwise returns false, and the benchmark goes on where it is.
inline bool rerunInSilentNet(int argc, char** argv, int* status)
{
    if (inSilentNet())
        return false;
    // Can a namespace be made here, and routed so?
    {
        char* probe[] = {const_cast<char*>("unshare"), const_cast<char*>("-n"),           const_cast<char*>("sh"),
                         const_cast<char*>("-c"),      const_cast<char*>(detail::kSetUp), nullptr};
        if (detail::runAndWait(probe, false) != 0)
            return false;
    }
    const QByteArray script = QByteArray(detail::kSetUp) + " && exec \"$@\"";
    QList<QByteArray> words = {"unshare", "-n", "sh", "-c", script, "sh"};
    for (int i = 0; i < argc; ++i)
        words << QByteArray(argv[i]);
    QList<char*> args;
    for (QByteArray& w : words)
        args << w.data();
    args << nullptr;
    *status = detail::runAndWait(args.data(), true);
    return true;
}

} // namespace bench
