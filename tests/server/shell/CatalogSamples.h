#pragma once

#include "server/api/ApiTypes.h"
#include "server/shell/CatalogPane.h"

#include <QAbstractItemModel>
#include <QList>
#include <QString>
#include <QTest>
#include <QTreeView>

// Generated catalogues for the catalogue tree's tests, finding a row by its text and clicking it.
namespace shelltest {

// Sites "Site <s>" with devices "Recorder <s>-<d>" (ids "d<s>-<d>") and
// channels "Camera <c>" (ids "d<s>-<d>-c<c>"); every fifth site's devices
// are called "Door <s>-<d>", and channel 3 of every device "Lobby".
inline QList<kvr::api::Site> sampleCatalogue(int sites, int devices = 3, int channels = 4)
{
    QList<kvr::api::Site> out;
    for (int s = 0; s < sites; ++s) {
        kvr::api::Site site{QStringLiteral("s%1").arg(s), QStringLiteral("Site %1").arg(s), false, {}};
        for (int d = 0; d < devices; ++d) {
            kvr::api::Device dev;
            dev.id = QStringLiteral("d%1-%2").arg(s).arg(d);
            dev.siteId = site.id;
            dev.online = dev.onlineKnown = true;
            dev.name = QStringLiteral("%1 %2-%3").arg(s % 5 == 0 ? "Door" : "Recorder").arg(s).arg(d);
            for (int c = 0; c < channels; ++c)
                dev.channels.append({dev.id + QStringLiteral("-c%1").arg(c), dev.id,
                                     c == 3 ? QStringLiteral("Lobby") : QStringLiteral("Camera %1").arg(c), c + 1, true,
                                     true, false});
            site.devices.append(dev);
        }
        out.append(site);
    }
    return out;
}

// The same sites, every one still loading.
inline QList<kvr::api::Site> stillLoading(QList<kvr::api::Site> sites)
{
    for (kvr::api::Site& s : sites) {
        s.loading = true;
        s.devices.clear();
    }
    return sites;
}

// The first row reading `text`, depth first.
inline QModelIndex rowOf(const QAbstractItemModel* m, const QString& text, const QModelIndex& parent = {})
{
    for (int r = 0; r < m->rowCount(parent); ++r) {
        const QModelIndex i = m->index(r, 0, parent);
        if (i.data().toString() == text)
            return i;
        if (const QModelIndex inner = rowOf(m, text, i); inner.isValid())
            return inner;
    }
    return {};
}

// A click on a row of the pane's tree, at its centre or `x` pixels from its left (negative: from its right).
inline void clickRow(kvr::shell::CatalogPane* pane, const QModelIndex& index, int x = 0)
{
    QTreeView* tree = pane->tree();
    tree->scrollTo(index);
    const QRect r = tree->visualRect(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      x == 0 ? r.center() : QPoint(x > 0 ? r.left() + x : r.right() + x, r.center().y()));
}

} // namespace shelltest
