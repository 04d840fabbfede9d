#include "app/core/Log.h"
#include "app/core/Logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <memory>
#include <mutex>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvr::core {

namespace {

std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

// Guarded by logMutex().
std::unique_ptr<QFile>& logFile()
{
    static std::unique_ptr<QFile> file;
    return file;
}

// Set while this thread is inside the handler, so that a message raised by
// the handler's own work goes to standard error only and never deadlocks on
// the log mutex.
thread_local bool inHandler = false;

void writeStderr(const QByteArray& bytes)
{
    // One write call per line, so lines of different threads stay whole.
#ifdef Q_OS_WIN
    (void)_write(2, bytes.constData(), unsigned(bytes.size()));
#else
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(2, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
#endif
}

// The log holds profile details (names, e-mail addresses): it and its older
// generation are for the user alone. A file left by an earlier version with
// wider permissions is narrowed too.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool openOwnerOnly(QFile& file)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, kOwnerOnly))
        return false;
    file.setPermissions(kOwnerOnly);
    return true;
}

void rotateLocked(QFile& file)
{
    const QString name = file.fileName();
    file.close();
    QFile::remove(name + QStringLiteral(".1"));
    QFile::rename(name, name + QStringLiteral(".1"));
    file.setFileName(name);
    (void)openOwnerOnly(file);
}

} // namespace

QString Log::directory()
{
#if defined(Q_OS_MACOS)
    return QDir::homePath() + QStringLiteral("/Library/Logs/Kavira");
#elif defined(Q_OS_WIN)
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kavira/Logs");
#else
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Kavira");
#endif
}

void Log::install()
{
    const QString dir = directory();
    QDir().mkpath(dir);
    {
        std::lock_guard<std::mutex> lock(logMutex());
        auto file = std::make_unique<QFile>(dir + QStringLiteral("/kvr.log"));
        QFile older(file->fileName() + QStringLiteral(".1"));
        if (older.exists())
            older.setPermissions(kOwnerOnly);
        if (openOwnerOnly(*file))
            logFile() = std::move(file);
        else
            logFile().reset();
    }
    qInstallMessageHandler(logMessageHandler);
    qCWarning(lcCore, "%s", kBanner);
}

void Log::uninstall()
{
    qInstallMessageHandler(nullptr);
    std::lock_guard<std::mutex> lock(logMutex());
    logFile().reset();
}

void logMessageHandler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toUtf8();
    line += message.toUtf8();
    line += '\n';

    writeStderr(line);
    if (inHandler)
        return;
    inHandler = true;
    {
        std::lock_guard<std::mutex> lock(logMutex());
        if (QFile* file = logFile().get()) {
            if (file->isOpen() && file->size() > Log::kRotateBytes)
                rotateLocked(*file);
            if (file->isOpen()) {
                file->write(line);
                file->flush();
            }
        }
    }
    inHandler = false;
}

} // namespace kvr::core
