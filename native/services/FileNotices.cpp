#include "native/services/FileNotices.h"

#include <QDir>
#include <QFileInfo>

namespace kvr::services {

namespace FileNotices {

namespace {

QString kept(const QString& copy)
{
    if (copy.isEmpty())
        return QStringLiteral("No copy of it could be kept, so the file stays where it is and is moved aside, not "
                              "replaced, at the next save.");
    return QStringLiteral("The file as it was is kept as %1.").arg(QDir::toNativeSeparators(copy));
}

QString leftAsItIs(const QString& path)
{
    return QStringLiteral("%1 can't be opened; it is left as it is and moved aside, not replaced, at the next save.")
        .arg(QDir::toNativeSeparators(path));
}

QString folderOf(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absolutePath());
}

} // namespace

QString damagedInventory(int devicesRead, const QString& copy)
{
    return QStringLiteral("The device list could not be read whole: %1 device%2 could be read from it. %3")
        .arg(devicesRead)
        .arg(devicesRead == 1 ? QString() : QStringLiteral("s"))
        .arg(kept(copy));
}

QString damagedUptime(const QString& copy)
{
    return QStringLiteral("The uptime history could not be read whole: what could be read of it shows. %1")
        .arg(kept(copy));
}

QString damagedEvents(const QString& copy)
{
    return QStringLiteral("The event log could not be read, so earlier events do not show. %1").arg(kept(copy));
}

QString unreadInventory(const QString& path)
{
    return QStringLiteral("The device list could not be read, so no devices show: %1").arg(leftAsItIs(path));
}

QString unreadUptime(const QString& path)
{
    return QStringLiteral("The uptime history could not be read, so no uptime shows: %1").arg(leftAsItIs(path));
}

QString unreadEvents(const QString& path)
{
    return QStringLiteral("The event log could not be read, so earlier events do not show: %1").arg(leftAsItIs(path));
}

QString inventoryNotSaved(const QString& path, const QString& reason, bool undone)
{
    const QString failed = QStringLiteral("The device list could not be saved in %1 (%2)").arg(folderOf(path), reason);
    if (undone)
        return failed
            + QStringLiteral(", so the changes since its last save were undone: what shows is what the next start "
                             "will read.");
    return failed + QStringLiteral(": the latest check results are not kept.");
}

QString uptimeNotSaved(const QString& path, const QString& reason)
{
    return QStringLiteral("The uptime history could not be saved in %1 (%2).").arg(folderOf(path), reason);
}

QString eventsNotSaved(const QString& path, const QString& reason)
{
    return QStringLiteral("The event log could not be saved in %1 (%2): its events are held and saved again at the "
                          "next save.")
        .arg(folderOf(path), reason);
}

QString lostAtEnd(File file, const QString& path, const QString& reason)
{
    switch (file) {
    case File::Inventory:
        return QStringLiteral("The device list could not be saved in %1 (%2): what changed since its last save is "
                              "lost.")
            .arg(folderOf(path), reason);
    case File::Uptime:
        return QStringLiteral("The uptime history could not be saved in %1 (%2): the hours since its last save are "
                              "lost.")
            .arg(folderOf(path), reason);
    case File::Events:
        break;
    }
    return QStringLiteral("The event log could not be saved in %1 (%2): the events since its last save are lost.")
        .arg(folderOf(path), reason);
}

} // namespace FileNotices

} // namespace kvr::services
