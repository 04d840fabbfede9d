#pragma once

#include "server/api/ApiTypes.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

// The catalogue tree's model: the chosen organisation's sites, devices and
// channels, filtered by a search text, with the tick marks of selection mode.
// It reads the pane's catalogue and ticked ids (which outlive it) and is
// rebuilt from them as a whole; every rebuild shows the whole filtered tree.
class CatalogModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        KindRole = Qt::UserRole, // "site", "pending", "device", "channel"; nothing for notice rows
        IdRole,                  // the row's id
        DeviceIdRole,            // channel rows: the channel's device
        CheckRole,               // selection mode: 0 none, 1 some, 2 all ticked (on screen)
        HasChannelsRole,         // site rows: the site has at least one channel
    };
    enum class Kind : quint8 { Site, Pending, Device, Channel, Empty, NoMatch };

    // One row of the filtered tree.
    struct Node {
        Kind kind = Kind::Empty;
        int parent = -1; // node index, -1 at the top
        int row = 0;     // under its parent
        int site = -1;   // indices into the catalogue
        int device = -1;
        int channel = -1;
        QVector<int> children;
    };

    CatalogModel(const QList<Site>& sites, const QSet<QString>& ticked, QObject* parent = nullptr);

    // The filtered tree for `query` (trimmed, case-insensitive, names only).
    static QVector<Node> buildNodes(const QList<Site>& sites, const QString& query);

    void rebuild(const QString& query);
    void setSelecting(bool on) { m_selecting = on; }
    bool selecting() const { return m_selecting; }
    // The tick marks changed: every decoration is read again.
    void ticksChanged();
    int nodeCount() const { return int(m_nodes.size()); }
    const Node* nodeOf(const QModelIndex& index) const;
    // 0 none, 1 some, 2 all of the channels shown under the row ticked.
    int checkStateOf(const Node& node) const;
    // Ids of the channels shown under a top-level site row.
    QStringList shownChannelsOfSite(int topRow) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The painted marks of the tree.
    static QIcon statusDotIcon(bool known, bool online);
    static QIcon checkIcon(int state);

private:
    void tickCounts(const Node& node, int* ticked, int* total) const;

    const QList<Site>& m_sites;
    const QSet<QString>& m_ticked;
    QVector<Node> m_nodes;
    QVector<int> m_top;
    bool m_selecting = false;
};
