#include "native/services/SecureFile.h"

#include "app/core/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

using namespace kvr::core;

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

bool writeTo(const QString& fullPath, const QByteArray& bytes, QString* problem)
{
    const WholeFile::Outcome out = WholeFile::write(fullPath, bytes, WholeFile::Access::OwnerOnly);
    if (!out.ok() && problem)
        *problem = WholeFile::reason(out);
    return out.ok();
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
