#include "wall/Config.h"

#include "app/core/Settings.h"
#include "wall/Layouts.h"
#include "wall/Logging.h"
#include "wall/Screens.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

using namespace kvr::core;

namespace kvr::wall {

namespace VideoWall {

int ScreenConfig::assignedCount() const
{
    int n = 0;
    for (const QString& id : cells)
        if (!id.isEmpty())
            ++n;
    return n;
}

void fitCells(ScreenConfig& screen)
{
    const auto n = layout(screen.layout).cells.size();
    if (screen.cells.size() > n)
        screen.cells.resize(n);
    while (screen.cells.size() < n)
        screen.cells.append(QString());
}

ScreenConfig* Config::find(const QString& key)
{
    for (ScreenConfig& s : screens)
        if (s.key == key)
            return &s;
    return nullptr;
}

const ScreenConfig* Config::find(const QString& key) const
{
    for (const ScreenConfig& s : screens)
        if (s.key == key)
            return &s;
    return nullptr;
}

ScreenConfig* Config::ensure(const QString& key, const QString& label)
{
    if (key.isEmpty())
        return nullptr;
    if (ScreenConfig* found = find(key)) {
        found->label = label;
        return found;
    }
    ScreenConfig fresh;
    fresh.key = key;
    fresh.label = label;
    fitCells(fresh);
    screens.append(fresh);
    return &screens.last();
}

ScreenConfig* Config::forScreen(QScreen* screen)
{
    return ensure(screenKey(screen), screenTitle(screen));
}

QByteArray toJson(const Config& config)
{
    QJsonArray list;
    for (const ScreenConfig& s : config.screens) {
        QJsonArray cells;
        for (const QString& id : s.cells)
            cells.append(id);
        list.append(QJsonObject{
            {QStringLiteral("key"), s.key},
            {QStringLiteral("label"), s.label},
            {QStringLiteral("enabled"), s.enabled},
            {QStringLiteral("layout"), s.layout},
            {QStringLiteral("quality"), s.quality},
            {QStringLiteral("cells"), cells},
        });
    }
    const QJsonObject root{{QStringLiteral("version"), 1}, {QStringLiteral("screens"), list}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

Config fromJson(const QByteArray& json)
{
    Config out;
    const QJsonArray list = QJsonDocument::fromJson(json).object().value(QStringLiteral("screens")).toArray();
    QSet<QString> seen;
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        ScreenConfig s;
        s.key = o.value(QStringLiteral("key")).toString();
        if (s.key.isEmpty())
            continue;
        // Two entries for one display would be read differently by the
        // windows (the first) and the map (the last): keep the first only.
        if (seen.contains(s.key)) {
            qCWarning(lcWall, "[wall] the saved wall names display \"%s\" twice; the later entry is ignored",
                      qPrintable(s.key));
            continue;
        }
        seen.insert(s.key);
        s.label = o.value(QStringLiteral("label")).toString();
        const QJsonValue enabled = o.value(QStringLiteral("enabled"));
        s.enabled = enabled.isBool() ? enabled.toBool() : true;
        const QString layoutKey = o.value(QStringLiteral("layout")).toString();
        s.layout = isLayoutKey(layoutKey) ? layoutKey : QString::fromLatin1(kDefaultLayoutKey);
        s.quality = qBound(kQualityAuto, o.value(QStringLiteral("quality")).toInt(kQualityAuto), kQualityMain);
        // Only as many entries as the layout has cells are read, however
        // long a damaged list is.
        const QJsonArray cells = o.value(QStringLiteral("cells")).toArray();
        const auto n = layout(s.layout).cells.size();
        for (qsizetype i = 0; i < n && i < cells.size(); ++i)
            s.cells.append(cells.at(i).toString());
        fitCells(s);
        out.screens.append(s);
    }
    return out;
}

Config load(const QString& sourceId)
{
    return fromJson(Prefs::bytes(Prefs::videoWallKey(sourceId)));
}

void save(const QString& sourceId, const Config& config)
{
    Prefs::setBytes(Prefs::videoWallKey(sourceId), toJson(config));
}

} // namespace VideoWall

} // namespace kvr::wall
