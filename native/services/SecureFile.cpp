#include "native/services/SecureFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace kvr::services {

namespace SecureFile {

QString path(const QString& fileName)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir); // a failure shows later, when the file is written
    return dir + QLatin1Char('/') + fileName;
}

bool write(const QString& fileName, const QByteArray& bytes)
{
    return writeTo(path(fileName), bytes);
}

bool writeTo(const QString& fullPath, const QByteArray& bytes)
{
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QSaveFile file(fullPath);
    // Unbuffered: a buffered save file loses a failure of its final flush
    // (a full disk) and commits the truncated file as a success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Narrow the new file before any data is in it: it may hold passwords,
    // and it must not be readable by others even for a moment.
    if (!file.setPermissions(ownerOnly)) {
        file.cancelWriting();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    // The committed file carries the permissions set above; check rather
    // than trust, so a platform that lost them is reported as a failure.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther | QFileDevice::ExeOwner;
    QFile committed(fullPath);
    if (committed.permissions() & others)
        return committed.setPermissions(ownerOnly);
    return true;
}

std::optional<QByteArray> read(const QString& fileName)
{
    QFile file(path(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void remove(const QString& fileName)
{
    QFile::remove(path(fileName));
}

} // namespace SecureFile

} // namespace kvr::services
