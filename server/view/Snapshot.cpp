#include "server/view/Snapshot.h"

#include "app/core/Clock.h"
#include "app/core/FileNames.h"
#include "server/view/StageRules.h"

#include <QDir>
#include <QStandardPaths>

namespace kvr::view {

namespace snapshot {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Kavira");
}

QString safeTitle(const QString& title)
{
    return kvr::core::FileNames::safe(title);
}

QString liveStamp(const QDateTime& local)
{
    return local.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QString playbackStamp(const QDate& day, double second)
{
    return QStringLiteral("%1_%2").arg(day.toString(QStringLiteral("yyyyMMdd")),
                                       StageRules::clockText(second).remove(QLatin1Char(':')));
}

QString fileName(const QString& title, const QString& stamp)
{
    const QString rest = QStringLiteral("_%1.png").arg(stamp);
    return kvr::core::FileNames::safe(title, kvr::core::FileNames::roomBefore(rest)) + rest;
}

QDateTime localNow()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime();
}

Outcome save(const QImage& picture, const QString& title, const QString& stamp)
{
    Outcome out;
    out.path = QDir(folder()).filePath(fileName(title, stamp));
    const kvr::core::WholeFile::Outcome written = kvr::ui::SnapshotFile::save(out.path, picture);
    out.saved = written.ok();
    out.said = out.saved ? kSaved : kvr::ui::SnapshotFile::failedText(written);
    out.detail = written.detail;
    return out;
}

} // namespace snapshot

} // namespace kvr::view
