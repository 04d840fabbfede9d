#include "app/ui/SnapshotFile.h"

#include <QBuffer>

using namespace kvr::core;

namespace kvr::ui {

namespace SnapshotFile {

WholeFile::Outcome save(const QString& path, const QImage& picture)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (picture.isNull() || !buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
        return {WholeFile::Failure::Other, QStringLiteral("The picture could not be made into a PNG file")};
    buffer.close();
    return WholeFile::write(path, png);
}

QString failedText(const WholeFile::Outcome& outcome)
{
    return QStringLiteral("Could not save the snapshot: %1.").arg(WholeFile::reason(outcome));
}

} // namespace SnapshotFile

} // namespace kvr::ui
