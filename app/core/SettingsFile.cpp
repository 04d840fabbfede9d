#include "app/core/SettingsFile.h"

#include "app/core/Logging.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvr::core {

namespace SettingsFile {

namespace {

WholeFile::Outcome g_lastProblem;

// Whether the store writes a file of its own (rather than handing its
// values to the system's store).
bool writesOwnFile(const QSettings& settings)
{
#if defined(Q_OS_UNIX)
    if (settings.format() == QSettings::IniFormat)
        return true;
#if defined(Q_OS_DARWIN)
    return false;
#else
    return settings.format() == QSettings::NativeFormat;
#endif
#else
    Q_UNUSED(settings);
    return false;
#endif
}

#if defined(Q_OS_UNIX)

// What tells one version of the file from another: the store renames a new
// file over the old one.
struct Version {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const Version&) const = default;
};

Version versionOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
#if defined(Q_OS_DARWIN)
    const qint64 ns = qint64(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    const qint64 ns = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    return {true, st.st_dev, st.st_ino, qint64(st.st_size), ns};
}

bool secondName(const QString& path, const QString& name)
{
    QFile::remove(name);
    return ::link(QFile::encodeName(path).constData(), QFile::encodeName(name).constData()) == 0;
}

QString nameBeside(const QString& path, const char* what)
{
    return path + QLatin1Char('.') + QLatin1String(what) + QLatin1Char('-')
        + QString::number(QCoreApplication::applicationPid());
}

// A value as the file gives it back: a list of one reads as its element, an
// empty list as nothing, a flag or a number as its text.
QString comparable(const QVariant& value)
{
    if (!value.isValid())
        return {};
    if (value.typeId() == QMetaType::QStringList) {
        const QStringList list = value.toStringList();
        return list.size() == 1 ? list.first() : list.join(QChar(0x1F));
    }
    if (value.typeId() == QMetaType::QByteArray)
        return QStringLiteral("bytes:") + QString::fromLatin1(value.toByteArray().toBase64());
    return value.toString();
}

// Whether the file holds what the store holds. It is read through a second
// name of its own: a store over the same name would share (and overwrite)
// what the process's store holds in memory.
bool holdsWhole(const QSettings& live, const QString& path)
{
    const QString check = nameBeside(path, "check");
    if (!secondName(path, check))
        return QFileInfo(path).size() > 0 || live.allKeys().isEmpty(); // only an emptied file can be told
    bool whole = true;
    {
        QSettings disk(check, QSettings::IniFormat);
        disk.setFallbacksEnabled(false);
        QStringList keys = live.allKeys();
        QStringList written = disk.allKeys();
        std::sort(keys.begin(), keys.end());
        std::sort(written.begin(), written.end());
        whole = keys == written;
        for (qsizetype i = 0; whole && i < keys.size(); ++i)
            whole = comparable(live.value(keys.at(i))) == comparable(disk.value(keys.at(i)));
    }
    QFile::remove(check);
    return whole;
}

#endif

} // namespace

bool sync(QSettings& settings)
{
    const bool failedBefore = settings.status() != QSettings::NoError;
    const QString path = settings.fileName();
#if defined(Q_OS_UNIX)
    if (writesOwnFile(settings)) {
        const Version before = versionOf(path);
        // A second name keeps the file as it was whatever the new one turns
        // out to be, and takes no room on the disk.
        const QString kept = nameBeside(path, "kept");
        const bool keeping = before.exists && secondName(path, kept);
        settings.sync();
        const bool written = !(versionOf(path) == before);
        // The store's error stays once met: after one, a sync is judged by
        // whether it wrote the file anew.
        bool ok = failedBefore ? written : settings.status() == QSettings::NoError;
        if (written && !holdsWhole(settings, path)) {
            ok = false;
            const bool restored = keeping
                ? ::rename(QFile::encodeName(kept).constData(), QFile::encodeName(path).constData()) == 0
                : !before.exists && QFile::remove(path);
            qCWarning(lcCore).noquote() << "[settings] the settings file was not written whole;"
                                        << (restored ? "the one before is back in its place"
                                                     : "the one before could not be put back");
            g_lastProblem = {WholeFile::Failure::DiskFull, QStringLiteral("the file was not written whole")};
        } else if (!ok) {
            // The store never started its file (it could not take its lock
            // or make its new file): the lock takes a block of its own.
            g_lastProblem = {WholeFile::classify(path, QFileDevice::NoError, before.size + 4096),
                             QStringLiteral("the settings store could not write its file")};
        }
        if (keeping)
            QFile::remove(kept);
        if (ok)
            g_lastProblem = {};
        return ok;
    }
#endif
    const QDateTime before = QFileInfo(path).lastModified();
    settings.sync();
    const bool ok = failedBefore ? QFileInfo(path).lastModified() != before : settings.status() == QSettings::NoError;
    g_lastProblem = ok ? WholeFile::Outcome{}
                       : WholeFile::Outcome{WholeFile::classify(path, QFileDevice::NoError, 4096),
                                            QStringLiteral("the settings store could not write its file")};
    return ok;
}

WholeFile::Outcome lastProblem()
{
    return g_lastProblem;
}

Store::Store(const QString& organisation, const QString& application) : QSettings(organisation, application)
{
    // One file, the one it writes: what it holds is what that file holds.
    setFallbacksEnabled(false);
}

Store::~Store()
{
    // What is still pending is written as every other write is; the base
    // then finds nothing left to write.
    SettingsFile::sync(*this);
}

bool Store::event(QEvent* event)
{
    if (event->type() == QEvent::UpdateRequest) {
        SettingsFile::sync(*this);
        return true;
    }
    return QSettings::event(event);
}

} // namespace SettingsFile

} // namespace kvr::core
