#include "native/screens/NativeFiles.h"
#include "native/screens/Logging.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace kvr::core;

namespace kvr::screens {

namespace NativeFiles {

WholeFile::Outcome writeReplacing(const QString& path, const QByteArray& bytes)
{
    const WholeFile::Outcome out = WholeFile::write(path, bytes);
    if (!out.ok())
        qCWarning(lcScreens).noquote() << "[vigilo] can't write" << path << ":" << out.detail;
    return out;
}

QString proposedFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace NativeFiles

} // namespace kvr::screens
