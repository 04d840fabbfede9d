#pragma once

#include "server/api/ApiTypes.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

namespace kvr::shell {

// The catalogue tree's model: the chosen organisation's sites, devices and
// channels, filtered by a search text, with the tick marks of selection mode.
//
// It holds the catalogue as shown. A whole new catalogue resets it; a site
// that completes while the catalogue loads changes that site's rows only
// (rows inserted, removed or changed in place), so everything else the view
// keeps for its rows (selection, current row, folded branches, scroll
// position) stays put; a new search text resets it only when the shown rows
// change. Names are case-folded once per site so that a keystroke compares
// plain strings.
class CatalogModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        KindRole = Qt::UserRole, // the row's Kind
        IdRole,                  // the row's id
        DeviceIdRole,            // channel rows: the channel's device
        CheckRole,               // selection mode: 0 none, 1 some, 2 all ticked (on screen)
        HasChannelsRole,         // site rows: the site has at least one channel
    };
    enum class Kind : quint8 { None, Site, Pending, Device, Channel, Empty, NoMatch };

    // What a row shows: indices into the catalogue, -1 where they do not apply.
    struct Ref {
        Kind kind = Kind::None;
        int site = -1;
        int device = -1;
        int channel = -1;
    };

    // What replaceSite did to the rows.
    enum class Change : quint8 { None, Data, Rows };
    // Where the load of the catalogue stands, which is what the tree says
    // while it holds no site: a catalogue still on its way, or one that could
    // not be loaded or read, is not an account without devices.
    enum class Listing : quint8 { Loaded, Loading, Failed, Unreadable };

    // `ticked` (ids of ticked channels) belongs to the caller and outlives the model.
    explicit CatalogModel(const QSet<QString>& ticked, QObject* parent = nullptr);

    // A whole new catalogue, filtered by the current search (a reset).
    void setSites(const QList<api::Site>& sites);
    // One site anew; only that site's rows change. An index out of range does nothing.
    Change replaceSite(int index, const api::Site& site);
    // The search text (trimmed, case-insensitive, names only). Resets the
    // model when the shown rows change; returns whether they did.
    bool setQuery(const QString& query);
    const QList<api::Site>& sites() const { return m_sites; }
    void setListing(Listing listing);

    void setSelecting(bool on) { m_selecting = on; }
    // The tick marks changed: every decoration is read again.
    void ticksChanged();

    Ref refOf(const QModelIndex& index) const;
    Kind kindOf(const QModelIndex& index) const { return refOf(index).kind; }
    // The kind of a row as its index reports it (KindRole), for code that
    // holds only the index.
    static Kind kindAt(const QModelIndex& index) { return index.data(KindRole).value<Kind>(); }
    // The row showing a catalogue site, device (device >= 0) or channel
    // (channel >= 0); invalid when that row is not shown.
    QModelIndex indexOf(int site, int device = -1, int channel = -1) const;
    // Every row of the filtered tree, notices included.
    int shownRowCount() const;
    // 0 none, 1 some, 2 all of the channels shown under the row ticked.
    int checkStateOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The painted marks of the tree.
    static QIcon statusDotIcon(api::OnlineState state);
    static QIcon checkIcon(int state);

private:
    // A site's names, case-folded once.
    struct Keys {
        QString site;
        QStringList devices;
        QList<QStringList> channels;
    };
    // A shown device row and which of its channels show.
    struct ShownDevice {
        int device = -1;
        bool allChannels = false; // every channel, in order; `channels` unused
        QVector<int> channels;
        int serial = -1; // names the row as the parent of its channel rows

        int channelCount(const api::Device& d) const
        {
            return allChannels ? int(d.channels.size()) : int(channels.size());
        }
        int channelAt(int row) const { return allChannels ? row : channels.at(row); }
        bool sameRows(const ShownDevice& o) const
        {
            return device == o.device && allChannels == o.allChannels && channels == o.channels;
        }
    };
    enum class Shown : quint8 { Hidden, Pending, Site };
    // What the filter shows of one catalogue site.
    struct SiteRows {
        Shown shown = Shown::Hidden;
        int row = -1; // top-level row while shown
        QVector<ShownDevice> devices;
        bool sameRows(const SiteRows& o) const;
    };
    // Where a device row that has been given a serial stands.
    struct DeviceSlot {
        int site = -1;
        int row = -1;
    };

    static Keys keysOf(const api::Site& site);
    static SiteRows filter(const api::Site& site, const Keys& keys, const QString& foldedQuery);
    void relayoutAll();
    int giveSerial(int site, int row);
    void retireSerials(SiteRows& rows);
    void renumberTop(int from);
    void insertTop(int site, const SiteRows& rows);
    void removeTop(int site);
    void updateNotice();
    void emitSiteDataChanged(int site);
    const ShownDevice* shownDevice(int site, int row) const;
    void tickCounts(int site, const ShownDevice& shown, int* ticked, int* total) const;

    const QSet<QString>& m_ticked;
    QList<api::Site> m_sites;
    QVector<Keys> m_keys;
    QVector<SiteRows> m_rows;      // per catalogue site
    QVector<int> m_top;            // catalogue site of each top-level row, in order
    QVector<DeviceSlot> m_serials; // device rows by serial; compacted at every reset
    Kind m_notice = Kind::Empty;   // Kind::None, Kind::Empty or Kind::NoMatch: the single row instead of sites
    Listing m_listing = Listing::Loaded;
    QString m_query; // trimmed and case-folded
    bool m_selecting = false;
};

} // namespace kvr::shell
