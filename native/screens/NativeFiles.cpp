#include "native/screens/NativeFiles.h"
#include "native/screens/Logging.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kvr::screens {

namespace NativeFiles {

bool writeReplacing(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered, so a short write (a full disk, a size limit) shows in the
    // count write() returns instead of vanishing in a buffer flushed later.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCWarning(lcScreens).noquote() << "[vigilo] can't write" << path << ":" << file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        qCWarning(lcScreens).noquote() << "[vigilo] writing" << path << "failed:" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcScreens).noquote() << "[vigilo] saving" << path << "failed:" << file.errorString();
        return false;
    }
    return true;
}

QString proposedFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace NativeFiles

} // namespace kvr::screens
