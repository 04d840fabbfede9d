#include "wall/Layouts.h"

namespace kvr::wall {

namespace VideoWall {

Layout gridLayout(const QString& key, const QString& title, int rows, int columns)
{
    Layout out{key, title, rows, columns, {}};
    if (rows < 1 || columns < 1)
        return out;
    out.cells.reserve(rows * columns);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            out.cells.append(QRect(x, y, 1, 1));
    return out;
}

Layout featuredLayout(const QString& key, const QString& title, int size, int big)
{
    Layout out{key, title, size, size, {}};
    out.cells.append(QRect(QPoint(0, 0), QPoint(big - 1, big - 1)));
    for (int y = 0; y < big; ++y)
        out.cells.append(QRect(QPoint(big, y), QPoint(size - 1, y)));
    for (int x = 0; x < size; ++x)
        out.cells.append(QRect(QPoint(x, big), QPoint(x, size - 1)));
    return out;
}

const QList<Layout>& layouts()
{
    static const QList<Layout> table = [] {
        const QChar times(0x00D7);
        const auto t = [&times](int a, int b) { return QStringLiteral("%1 %2 %3").arg(a).arg(times).arg(b); };
        return QList<Layout>{
            gridLayout(QStringLiteral("1x1"), QStringLiteral("Single"), 1, 1),
            gridLayout(QStringLiteral("2x2"), t(2, 2), 2, 2),
            gridLayout(QStringLiteral("2x3"), t(2, 3), 2, 3),
            featuredLayout(QStringLiteral("1+5"), QStringLiteral("1 + 5"), 3, 2),
            gridLayout(QStringLiteral("3x3"), t(3, 3), 3, 3),
            featuredLayout(QStringLiteral("1+7"), QStringLiteral("1 + 7"), 4, 3),
            gridLayout(QStringLiteral("3x4"), t(3, 4), 3, 4),
            gridLayout(QStringLiteral("4x4"), t(4, 4), 4, 4),
            gridLayout(QStringLiteral("5x5"), t(5, 5), 5, 5),
            gridLayout(QStringLiteral("6x6"), t(6, 6), 6, 6),
            gridLayout(QStringLiteral("8x8"), t(8, 8), 8, 8),
            gridLayout(QStringLiteral("10x12"), t(12, 10) + QStringLiteral(" (120)"), 10, 12),
        };
    }();
    return table;
}

bool isLayoutKey(const QString& key)
{
    for (const Layout& l : layouts())
        if (l.key == key)
            return true;
    return false;
}

const Layout& layout(const QString& key)
{
    const Layout* fallback = nullptr;
    for (const Layout& l : layouts()) {
        if (l.key == key)
            return l;
        if (l.key == QLatin1String(kDefaultLayoutKey))
            fallback = &l;
    }
    return *fallback;
}

} // namespace VideoWall

} // namespace kvr::wall
