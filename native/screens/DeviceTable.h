#pragma once

// The device table of the fleet page: a model of prepared rows updated in
// place (rows that stay keep their index objects, so the view keeps its
// selection and scroll position), and the one painter that draws every cell
// from a paint kind and a few data roles.

#include "native/screens/FleetRules.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStyledItemDelegate>

#include <functional>

class QScrollArea;
class QTableView;

namespace kvr::screens {

namespace NativeTable {

enum Role : int {
    KindRole = Qt::UserRole + 1,        // 257: FleetRules::PaintKind
    SubTextRole = Qt::UserRole + 2,     // 258: second, smaller line
    DeviceIdRole = Qt::UserRole + 3,    // 259: the device id (column 0)
    ColorRole = Qt::UserRole + 4,       // 260: text colour replacing the default
    DailyUptimeRole = Qt::UserRole + 5, // 261: seven daily uptime values
};

inline constexpr int kRowHeight = 54;

class DeviceTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DeviceTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Brings the model to these rows in this order: rows whose device is
    // gone are removed, new ones inserted, the rest moved and refreshed in
    // place. Returns the number of rows whose content changed.
    int setRows(const QList<FleetRules::Row>& rows);
    const QList<FleetRules::Row>& rows() const { return m_rows; }
    // The row of the device, or -1.
    int rowOf(const QString& deviceId) const;

    // Rows in the order of their keys (as the window gives them, each key
    // once) change one at a time, the others staying where they are:
    // whether the rows are so ordered.
    bool keyed() const { return m_keyed; }
    // Puts the device's row where its key places it (inserted, moved, or
    // refreshed where it stands). Keyed rows only.
    void placeRow(const FleetRules::Row& row);
    // Takes the device's row out, if it shows.
    void removeRowOf(const QString& deviceId);
    // Gives rows that stay where they stand (their devices show, with these
    // keys) their new content; changed rows are reported in runs.
    void refreshRows(const QList<FleetRules::Row>& rows);

private:
    void reindex();
    // Where a row with this key stands, or would stand, among the rows.
    int lowerBound(const FleetRules::SortKey& key) const;
    // Brings the rows to the devices of `rows` in their order (removed,
    // inserted, moved); returns each row's old content at its new place.
    QList<FleetRules::Row> arrange(const QList<FleetRules::Row>& rows);

    QList<FleetRules::Row> m_rows;
    // Unkeyed rows: each device's row. Keyed rows: each device's key, by
    // which its row is found (a row put in between moves the others, so
    // their places are not kept).
    QHash<QString, int> m_index;
    QHash<QString, FleetRules::SortKey> m_keys;
    bool m_keyed = false;
};

// Paints every cell of the device table.
class RowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Enter, Space and the row's menu (the menu key, Shift+F10, a right-click:
// "View details") open the current row's device with `open`, as a click on
// its "View details" does; the page the table lies in follows the row the
// arrows move to.
void actOnRows(QTableView* view, QScrollArea* page, const std::function<void(const QString& id)>& open);

// Header, widths, row height and view settings of the device table; the
// widths a person gives the columns are kept between starts.
void configure(QTableView* view);
// The kept widths of the columns beside the device's, read back; none where
// they do not read as such.
QList<int> savedWidths(const QStringList& saved);
// The kept width a person dragged the device's column to (0: none).
int savedDeviceWidth(const QStringList& saved);
// The height that shows every row without a scroll bar of its own.
int fittedHeight(const QTableView* view, int rows);

} // namespace NativeTable

} // namespace kvr::screens
