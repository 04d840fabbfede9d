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
    const QString dir = folder();
    out.path = QDir(dir).filePath(fileName(title, stamp));
    if (picture.isNull() || !QDir().mkpath(dir))
        return out;
    out.saved = picture.save(out.path);
    return out;
}

} // namespace snapshot

} // namespace kvr::view
