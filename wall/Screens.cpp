#include "wall/Screens.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace kvr::wall {

namespace VideoWall {

namespace {

std::function<QString(QScreen*)>& identityReader()
{
    static std::function<QString(QScreen*)> reader;
    return reader;
}

QString baseOf(QScreen* screen)
{
    if (const auto& reader = identityReader())
        return reader(screen);
    return identityBase(screen->manufacturer(), screen->model(), screen->serialNumber(), screen->name());
}

} // namespace

void setIdentityReader(std::function<QString(QScreen*)> reader)
{
    identityReader() = std::move(reader);
}

QString identityBase(const QString& manufacturer, const QString& model, const QString& serial, const QString& name)
{
    return QStringList{manufacturer, model, serial, name}.join(QLatin1Char('|'));
}

QString keyAmong(const QList<ScreenFacts>& connected, int index)
{
    if (index < 0 || index >= connected.size())
        return {};
    const QString& base = connected.at(index).base;
    QList<int> same;
    for (int i = 0; i < connected.size(); ++i)
        if (connected.at(i).base == base)
            same.append(i);
    // Stable, so displays at the same corner keep the platform's order.
    std::stable_sort(same.begin(), same.end(), [&connected](int a, int b) {
        const QRect& ga = connected.at(a).geometry;
        const QRect& gb = connected.at(b).geometry;
        if (ga.left() != gb.left())
            return ga.left() < gb.left();
        return ga.top() < gb.top();
    });
    const auto pos = int(std::find(same.begin(), same.end(), index) - same.begin());
    return pos >= 1 ? base + QStringLiteral("#%1").arg(pos + 1) : base;
}

QString titleFor(const QString& name, const QString& model, const QSize& points, double devicePixelRatio)
{
    QString label = name;
    if (label.isEmpty())
        label = model;
    if (label.isEmpty())
        label = QStringLiteral("Display");
    // Put together piece by piece: a name may itself hold "%1".
    return label + QStringLiteral(" \u00B7 ") + QString::number(qRound(points.width() * devicePixelRatio))
        + QStringLiteral(" \u00D7 ") + QString::number(qRound(points.height() * devicePixelRatio));
}

QString screenKey(QScreen* screen)
{
    if (!screen)
        return {};
    const QList<QScreen*> all = QGuiApplication::screens();
    QList<ScreenFacts> facts;
    facts.reserve(all.size());
    for (QScreen* s : all)
        facts.append({baseOf(s), s->geometry()});
    const int index = int(all.indexOf(screen));
    if (index < 0)
        return baseOf(screen);
    return keyAmong(facts, index);
}

QString screenTitle(QScreen* screen)
{
    if (!screen)
        return {};
    return titleFor(screen->name(), screen->model(), screen->size(), screen->devicePixelRatio());
}

QScreen* screenFor(const QString& key)
{
    if (key.isEmpty())
        return nullptr;
    for (QScreen* s : QGuiApplication::screens())
        if (screenKey(s) == key)
            return s;
    return nullptr;
}

int screenNumber(QScreen* screen)
{
    return screen ? int(QGuiApplication::screens().indexOf(screen)) + 1 : 0;
}

} // namespace VideoWall

} // namespace kvr::wall
