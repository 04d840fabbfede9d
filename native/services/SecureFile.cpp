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

bool writeTo(const QString& fullPath, const QByteArray& bytes, QString* error)
{
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QSaveFile file(fullPath);
    const auto failed = [&] {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    };
    // Unbuffered: a buffered save file loses a failure of its final flush
    // (a full disk) and commits the truncated file as a success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed();
    // Narrow the new file before any data is in it: it may hold passwords,
    // and it must not be readable by others even for a moment.
    if (!file.setPermissions(ownerOnly))
        return failed();
    if (!writeAll(file, bytes))
        return failed();
    if (!file.commit())
        return failed();
    // The committed file carries the permissions set above; check rather
    // than trust, so a platform that lost them is reported as a failure.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther | QFileDevice::ExeOwner;
    QFile committed(fullPath);
    if ((committed.permissions() & others) && !committed.setPermissions(ownerOnly)) {
        if (error)
            *error = committed.errorString();
        return false;
    }
    return true;
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
