#include "app/core/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace kvr::core {

namespace WholeFile {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kBeyondOwner = QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
    | QFileDevice::ExeOwner;

// The folder itself, or the nearest of its parents that exists: where the
// file system's state is read when the folder could not be made.
QString nearestExisting(const QString& folder)
{
    QString dir = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo(dir).isDir()) {
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir)
            break;
        dir = parent;
    }
    return dir;
}

} // namespace

Failure classify(const QString& path, QFileDevice::FileError error, qint64 neededBytes)
{
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    const bool folderExists = QFileInfo(folder).isDir();
    const QString existing = folderExists ? folder : nearestExisting(folder);
    const QStorageInfo storage(existing);
    if (storage.isValid() && storage.isReadOnly())
        return Failure::ReadOnly;
    if (!QFileInfo(existing).isWritable() || (target.exists() && !target.isDir() && !target.isWritable()))
        return Failure::NoPermission;
    if (error == QFileDevice::ResourceError || (storage.isValid() && storage.bytesAvailable() < neededBytes))
        return Failure::DiskFull;
    if (!folderExists)
        return Failure::NoFolder;
    return Failure::Other;
}

bool writeAll(QFileDevice& file, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += qsizetype(n);
    }
    return true;
}

Outcome write(const QString& path, const QByteArray& bytes, Access access, const BeforeBytes& beforeBytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath()); // a failure shows as the save's
    QSaveFile file(path);
    const auto failed = [&](QString detail = QString()) {
        if (detail.isEmpty())
            detail = file.errorString();
        const QFileDevice::FileError error = file.error();
        file.cancelWriting();
        return Outcome{classify(path, error, bytes.size()), detail};
    };
    // Unbuffered: each write reaches the file system as it is made, so one
    // that does not fit fails there, before anything is committed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed();
    // Narrowed before a byte is in it: it may hold passwords or a token,
    // never readable by others even for a moment.
    if (access == Access::OwnerOnly && !file.setPermissions(kOwnerOnly))
        return failed();
    if (beforeBytes)
        beforeBytes(file);
    if (!writeAll(file, bytes))
        return failed();
    if (!file.commit())
        return failed();
    if (access == Access::OwnerOnly) {
        // The committed file carries the permissions set above; checked
        // rather than trusted, so a platform that lost them says so.
        QFile committed(path);
        if ((committed.permissions() & kBeyondOwner) && !committed.setPermissions(kOwnerOnly))
            return Outcome{Failure::NoPermission, committed.errorString()};
    }
    return {};
}

QString reason(const Outcome& outcome)
{
    switch (outcome.failure) {
    case Failure::None:
        return {};
    case Failure::DiskFull:
        return QStringLiteral("the disk is full");
    case Failure::ReadOnly:
        return QStringLiteral("the disk is read-only");
    case Failure::NoPermission:
        return QStringLiteral("there is no permission to write there");
    case Failure::NoFolder:
        return QStringLiteral("the folder could not be made");
    case Failure::Other:
        break;
    }
    QString words = outcome.detail.trimmed();
    while (words.endsWith(QLatin1Char('.')))
        words.chop(1);
    return words.isEmpty() ? QStringLiteral("the system gave no reason") : words;
}

} // namespace WholeFile

} // namespace kvr::core
