#include "native/screens/DeviceTable.h"

#include "app/core/Settings.h"
#include "app/ui/ColumnFill.h"
#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/NamesApart.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/Tunables.h"

#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>

namespace kvr::screens {

namespace NativeTable {

using namespace FleetRules;
using namespace kvr::core;

namespace {

constexpr std::array<int, kColumnCount> kWidths{0, 150, 132, 76, 110, 92, 160, 110, 128};
const std::array<QString, kColumnCount> kHeaders{QStringLiteral("DEVICE"),
                                                 QStringLiteral("STATUS"),
                                                 QStringLiteral("NETWORK"),
                                                 QStringLiteral("DISK"),
                                                 QStringLiteral("RECORDING"),
                                                 QStringLiteral("CAMERAS"),
                                                 QStringLiteral("UPTIME · 7 DAYS"),
                                                 QStringLiteral("LAST CHECK"),
                                                 QString()};

constexpr int kLeastColumn = 56;
constexpr int kWidestColumn = 2000;
// The widest a column beside the device's comes back at the next start.
constexpr int kWidestKept = 480;

} // namespace

// ---- Model ------------------------------------------------------------------------------

DeviceTableModel::DeviceTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int DeviceTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= kColumnCount)
        return {};
    const Row& row = m_rows.at(index.row());
    const Cell& cell = row.cells[size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return cell.text;
    case Qt::ToolTipRole:
        return cell.tip.isEmpty() ? QVariant() : QVariant(cell.tip);
    case KindRole:
        return cell.kind;
    case SubTextRole:
        return cell.sub.isEmpty() ? QVariant() : QVariant(cell.sub);
    case DeviceIdRole:
        return index.column() == ColDevice ? QVariant(row.id) : QVariant();
    case ColorRole:
        return cell.color.isValid() ? QVariant(cell.color) : QVariant();
    case DailyUptimeRole: {
        if (cell.kind != Bars)
            return {};
        QVariantList list;
        for (double v : cell.daily)
            list << v;
        return list;
    }
    default:
        return {};
    }
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount)
        return kHeaders[size_t(section)];
    if (orientation == Qt::Horizontal && role == Qt::AccessibleTextRole && section == ColAction)
        return QStringLiteral("Details");
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable) : Qt::NoItemFlags;
}

int DeviceTableModel::rowOf(const QString& deviceId) const
{
    if (!m_keyed)
        return m_index.value(deviceId, -1);
    const auto it = m_keys.constFind(deviceId);
    if (it == m_keys.cend())
        return -1;
    const int at = lowerBound(*it);
    return at < m_rows.size() && m_rows.at(at).id == deviceId ? at : -1;
}

int DeviceTableModel::lowerBound(const SortKey& key) const
{
    const auto it = std::lower_bound(m_rows.cbegin(), m_rows.cend(), key,
                                     [](const Row& row, const SortKey& k) { return sortsBefore(row.key, k); });
    return int(it - m_rows.cbegin());
}

void DeviceTableModel::reindex()
{
    // Keys that rise from row to row find every row; rows without (a list
    // made by hand) are found by a table of their places instead.
    m_keyed = true;
    for (qsizetype i = 1; i < m_rows.size() && m_keyed; ++i)
        m_keyed = sortsBefore(m_rows.at(i - 1).key, m_rows.at(i).key);
    m_index.clear();
    m_keys.clear();
    if (m_keyed) {
        m_keys.reserve(m_rows.size());
        for (const Row& r : std::as_const(m_rows))
            m_keys.insert(r.id, r.key);
        return;
    }
    m_index.reserve(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i)
        m_index.insert(m_rows.at(i).id, i);
}

void DeviceTableModel::placeRow(const Row& row)
{
    const int from = rowOf(row.id);
    if (from < 0) {
        const int at = lowerBound(row.key);
        beginInsertRows({}, at, at);
        m_rows.insert(at, row);
        endInsertRows();
        m_keys.insert(row.id, row.key);
        return;
    }
    int to = from;
    if (!(m_rows.at(from).key == row.key)) {
        // Where it goes among the others: its own place left out.
        const int bound = lowerBound(row.key);
        to = bound > from ? bound - 1 : bound;
        if (to != from) {
            beginMoveRows({}, from, from, {}, bound);
            m_rows.move(from, to);
            endMoveRows();
        }
        m_keys.insert(row.id, row.key);
    }
    const bool same = m_rows.at(to).sameAs(row);
    m_rows[to] = row;
    if (!same)
        Q_EMIT dataChanged(index(to, 0), index(to, kColumnCount - 1));
}

void DeviceTableModel::refreshRows(const QList<Row>& rows)
{
    QList<int> changed;
    changed.reserve(rows.size());
    for (const Row& row : rows) {
        const int at = rowOf(row.id);
        if (at < 0 || m_rows.at(at).sameAs(row))
            continue;
        m_rows[at] = row;
        changed.append(at);
    }
    std::sort(changed.begin(), changed.end());
    for (qsizetype i = 0; i < changed.size();) {
        qsizetype last = i;
        while (last + 1 < changed.size() && changed.at(last + 1) <= changed.at(last) + 1)
            ++last;
        Q_EMIT dataChanged(index(changed.at(i), 0), index(changed.at(last), kColumnCount - 1));
        i = last + 1;
    }
}

void DeviceTableModel::removeRowOf(const QString& deviceId)
{
    const int at = rowOf(deviceId);
    if (at < 0)
        return;
    beginRemoveRows({}, at, at);
    m_rows.remove(at);
    endRemoveRows();
    m_keys.remove(deviceId);
}

int DeviceTableModel::setRows(const QList<Row>& rows)
{
    // Most rebuilds show the same devices in the same order: nothing moves,
    // and only changed content is reported.
    if (m_rows.isEmpty() && !rows.isEmpty()) {
        // The first rows (a fleet shown, an import listed): in at once.
        beginInsertRows({}, 0, int(rows.size()) - 1);
        m_rows = rows;
        endInsertRows();
        reindex();
        return int(rows.size());
    }
    bool sameIds = rows.size() == m_rows.size();
    for (qsizetype i = 0; i < rows.size() && sameIds; ++i)
        sameIds = m_rows.at(i).id == rows.at(i).id;
    QList<Row> old = m_rows;
    if (!sameIds)
        old = arrange(rows);

    // Changed content, reported in runs.
    int changed = 0;
    for (int i = 0; i < rows.size();) {
        if (old.at(i).sameAs(rows.at(i))) {
            ++i;
            continue;
        }
        int last = i;
        while (last + 1 < rows.size() && !old.at(last + 1).sameAs(rows.at(last + 1)))
            ++last;
        for (int k = i; k <= last; ++k)
            m_rows[k] = rows.at(k);
        changed += last - i + 1;
        Q_EMIT dataChanged(index(i, 0), index(last, kColumnCount - 1));
        i = last + 1;
    }
    // Every row takes its new place in the order, changed or not.
    bool keysMoved = false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!(m_rows.at(i).key == rows.at(i).key)) {
            m_rows[i].key = rows.at(i).key;
            keysMoved = true;
        }
    }
    if (keysMoved || !sameIds || (m_keys.isEmpty() && m_index.isEmpty()))
        reindex();
    return changed;
}

QList<Row> DeviceTableModel::arrange(const QList<Row>& rows)
{
    // The table of places, whatever the rows' keys, while they are arranged.
    const auto placesOfRows = [this] {
        m_keyed = false;
        m_keys.clear();
        m_index.clear();
        m_index.reserve(m_rows.size());
        for (int i = 0; i < m_rows.size(); ++i)
            m_index.insert(m_rows.at(i).id, i);
    };
    placesOfRows();
    QHash<QString, int> wanted;
    wanted.reserve(rows.size());
    for (int i = 0; i < rows.size(); ++i)
        wanted.insert(rows.at(i).id, i);

    // 1. Rows whose device no longer shows, removed in runs from the end.
    bool removed = false;
    for (int i = int(m_rows.size()) - 1; i >= 0;) {
        if (wanted.contains(m_rows.at(i).id)) {
            --i;
            continue;
        }
        int first = i;
        while (first > 0 && !wanted.contains(m_rows.at(first - 1).id))
            --first;
        beginRemoveRows({}, first, i);
        m_rows.remove(first, i - first + 1);
        endRemoveRows();
        removed = true;
        i = first - 1;
    }
    if (removed)
        placesOfRows();

    // 2. New devices appended, with their final content.
    QList<Row> added;
    for (const Row& r : rows)
        if (!m_index.contains(r.id))
            added << r;
    if (!added.isEmpty()) {
        const int first = int(m_rows.size());
        beginInsertRows({}, first, first + int(added.size()) - 1);
        m_rows += added;
        endInsertRows();
        placesOfRows();
    }

    // 3. Into the wanted order, moving the index objects with their rows.
    bool sameOrder = true;
    for (int i = 0; i < rows.size() && sameOrder; ++i)
        sameOrder = m_rows.at(i).id == rows.at(i).id;
    QList<Row> old = m_rows;
    if (!sameOrder) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& idx : before) {
            const int to = wanted.value(m_rows.at(idx.row()).id, -1);
            after << (to < 0 ? QModelIndex() : createIndex(to, idx.column()));
        }
        // The content of moved rows is refreshed by the caller, so keep each
        // row's old content at its new place for the comparison.
        QList<Row> moved(rows.size());
        for (const Row& r : old)
            moved[wanted.value(r.id)] = r;
        old = moved;
        m_rows = moved;
        changePersistentIndexList(before, after);
        placesOfRows();
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    return old;
}

// ---- Painter ---------------------------------------------------------------------------

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return {QStyledItemDelegate::sizeHint(option, index).width(), kRowHeight};
}

void RowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    using namespace NativeStyle;
    const QRect r = option.rect;
    const int x1 = r.left();
    const int y1 = r.top();
    const int x2 = r.right();
    const int y2 = r.bottom();
    const bool selected = option.state & QStyle::State_Selected;
    const bool hover = option.state & QStyle::State_MouseOver;
    const double midY = y1 + r.height() / 2.0;

    p->save();
    p->setRenderHint(QPainter::Antialiasing);

    // Ground and separator.
    if (selected) {
        p->fillRect(r, QColor(kPrimary.red(), kPrimary.green(), kPrimary.blue(), 20));
        if (index.column() == ColDevice)
            p->fillRect(QRect(x1, y1, 3, r.height()), kPrimary);
    } else if (hover) {
        p->fillRect(r, kHoverRow);
    }
    QPen hair(kHairline, 1);
    hair.setCosmetic(true);
    p->setPen(hair);
    p->drawLine(QPointF(x1, y2 + 0.5), QPointF(x2 + 1, y2 + 0.5));

    const QString text = index.data(Qt::DisplayRole).toString();
    const int kind = index.data(KindRole).toInt();
    const QString sub = index.data(SubTextRole).toString();
    const QVariant colorVar = index.data(ColorRole);
    const QColor roleColor = colorVar.isValid() ? colorVar.value<QColor>() : QColor();
    QFont base = option.font;
    base.setPixelSize(14);
    const int left = x1 + 12;
    const int right = x2 - 8;
    const int w = x2 - x1 - 19;

    auto fontAt = [&](int px, int weight) {
        QFont f = base;
        f.setPixelSize(px);
        f.setWeight(QFont::Weight(weight));
        return f;
    };

    if (index.column() == ColDevice) {
        // Devices named alike keep what tells them apart from the rows
        // around them (those a person sees), whole in the row's tool tip.
        const auto apart = [&index, w](const QString& line, const QFont& font, int role) {
            const QFontMetrics fm(font);
            if (fm.horizontalAdvance(line) <= w)
                return line;
            return kvr::ui::fitApart(line, kvr::ui::siblingTexts(index, tun::kTableSiblingRows, role), fm, w);
        };
        QFont nameFont = fontAt(14, 600);
        p->setFont(nameFont);
        p->setPen(selected ? kPrimary : kText);
        p->drawText(QRect(QPoint(left, y1 + 8), QPoint(right, y1 + 27)), Qt::AlignLeft | Qt::AlignVCenter,
                    apart(text, nameFont, Qt::DisplayRole));
        QFont subFont = fontAt(12, 400);
        p->setFont(subFont);
        p->setPen(kMuted);
        p->drawText(QRect(QPoint(left, y1 + 28), QPoint(right, y1 + 45)), Qt::AlignLeft | Qt::AlignVCenter,
                    apart(sub, subFont, SubTextRole));
        p->restore();
        return;
    }

    switch (kind) {
    case DotUp:
    case DotDown:
    case DotMuted: {
        const int s = sub.isEmpty() ? 0 : 8;
        const QPointF centre(x1 + 16, midY + 0.5 - s);
        if (kind == DotMuted) {
            p->setPen(QPen(kUnknownBorder, 1.5));
            p->setBrush(Qt::NoBrush);
            p->drawEllipse(centre, 3.2, 3.2);
        } else {
            p->setPen(Qt::NoPen);
            p->setBrush(kind == DotUp ? kSuccess : kDanger);
            p->drawEllipse(centre, 4.0, 4.0);
        }
        p->setFont(base);
        p->setPen(kind == DotMuted ? kMuted : kText);
        p->drawText(QRect(QPoint(x1 + 28, y1 - s), QPoint(right, y2 - s)), Qt::AlignLeft | Qt::AlignVCenter, text);
        break;
    }
    case ChipPass:
    case ChipFail:
    case ChipWarn:
    case ChipUnknown:
    case ChipPoor:
    case ChipInfo: {
        static constexpr Chip kChips[] = {Chip::Pass, Chip::Fail, Chip::Warn, Chip::Unknown, Chip::Poor, Chip::Info};
        const Chip chipKind = kChips[kind - ChipPass];
        const QFont f = fontAt(12, 600);
        const QFontMetrics fm(f);
        const int chipW = qMin(fm.horizontalAdvance(text) + 18, w);
        const double top = midY - 10.5 - (sub.isEmpty() ? 0 : 8);
        const QRectF box(left, top, chipW, 22);
        // On white whatever the row's tint (selected, under the pointer):
        // the chip keeps its own pair of colours.
        p->setPen(Qt::NoPen);
        p->setBrush(kWhite);
        p->drawRoundedRect(box, 11, 11);
        if (chipKind == Chip::Unknown)
            p->setPen(QPen(kUnknownBorder, 1));
        else
            p->setPen(Qt::NoPen);
        p->setBrush(chipFill(chipKind));
        p->drawRoundedRect(box, 11, 11);
        p->setFont(f);
        p->setPen(chipTextColor(chipKind));
        p->drawText(box, Qt::AlignCenter, fm.elidedText(text, Qt::ElideRight, chipW - 12));
        break;
    }
    case Pill: {
        const QRectF box(left, midY - 15, qMin(w, 104), 30);
        p->setPen(QPen(hover ? kPrimary : kHairline, 1));
        p->setBrush(hover ? QColor(kPrimary.red(), kPrimary.green(), kPrimary.blue(), 18) : kWhite);
        p->drawRoundedRect(box, 8, 8);
        p->setFont(fontAt(13, 600));
        p->setPen(kPrimary);
        p->drawText(box, Qt::AlignCenter, text);
        break;
    }
    case Bars: {
        p->setPen(Qt::NoPen);
        double x = left;
        const QVariantList values = index.data(DailyUptimeRole).toList();
        for (const QVariant& v : values) {
            const double d = v.toDouble();
            p->setBrush(d < 0 ? kHairline : d >= 99 ? kSuccess : d >= 90 ? kWarning : kDanger);
            p->drawRoundedRect(QRectF(x, midY - 7, 8, 14), 2.5, 2.5);
            x += 11;
        }
        p->setFont(fontAt(13, 400));
        p->setPen(roleColor.isValid() ? roleColor : kMuted);
        p->drawText(QRectF(QPointF(x + 6, y1), QPointF(right, y2)), Qt::AlignLeft | Qt::AlignVCenter, text);
        break;
    }
    default:
        p->setFont(base);
        p->setPen(kind == Muted ? kMuted : roleColor.isValid() ? roleColor : kText);
        p->drawText(QRect(QPoint(left, y1), QPoint(right, y2)), Qt::AlignLeft | Qt::AlignVCenter, text);
        break;
    }

    if (kind != Pill && kind != Bars && !sub.isEmpty()) {
        const QFont f = fontAt(11, 400);
        const QFontMetrics fm(f);
        p->setFont(f);
        p->setPen(kMuted);
        const bool dot = kind >= DotUp && kind <= DotMuted;
        const int from = dot ? x1 + 28 : x1 + 14;
        const int room = dot ? w - 16 : w - 2;
        p->drawText(QRect(QPoint(from, y2 - 17), QPoint(right, y2 - 4)), Qt::AlignLeft | Qt::AlignVCenter,
                    fm.elidedText(sub, Qt::ElideRight, room));
    }
    p->restore();
}

// ---- View ------------------------------------------------------------------------------

void actOnRows(QTableView* view, QScrollArea* page, const std::function<void(const QString& id)>& open)
{
    const auto idOf = [view](const QModelIndex& index) {
        return view->model()->index(index.row(), 0).data(DeviceIdRole).toString();
    };
    ui::ItemKeys::install(
        view, [idOf, open](const QModelIndex& index) { open(idOf(index)); },
        [view, idOf, open](const QModelIndex& index, const QPoint& at) {
            auto* menu = new QMenu(view);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            const QString id = idOf(index);
            menu->setAccessibleName(index.siblingAtColumn(0).data().toString());
            menu->addAction(QStringLiteral("View details"), view, [id, open] { open(id); });
            menu->popup(at);
        });
    // The table shows all its rows and scrolls with the page: the page
    // follows the row the arrows move to.
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, view,
                     [view, page](const QModelIndex& current) {
                         if (!current.isValid() || !view->hasFocus() || !page->widget())
                             return;
                         const QRect row = view->visualRect(current);
                         const QPoint middle = view->viewport()->mapTo(page->widget(), row.center());
                         page->ensureVisible(middle.x(), middle.y(), 0, row.height() / 2 + 8);
                     });
}

void configure(QTableView* view)
{
    view->setObjectName(QStringLiteral("NTable"));
    view->setAccessibleName(QStringLiteral("Devices"));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The arrow keys move through the rows; Tab goes on to the next control
    // instead of round the cells for ever.
    view->setTabKeyNavigation(false);
    view->setShowGrid(false);
    view->setMouseTracking(true);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(kRowHeight);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    view->setItemDelegate(new RowDelegate(view));
    QHeaderView* header = view->horizontalHeader();
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(kLeastColumn);
    if (view->model() && view->model()->columnCount() == kColumnCount) {
        // Every column widens and narrows by its own edge; the device's
        // also takes what the others leave, and a person finds them all so
        // at the next start.
        const QStringList kept = Prefs::get(Prefs::kNativeTableColumns);
        const QList<int> saved = savedWidths(kept);
        for (int c = 1; c < kColumnCount; ++c)
            header->resizeSection(c, saved.isEmpty() ? kWidths[size_t(c)] : saved.at(c - 1));
        // A table sized to its rows makes room for the bar it scrolls by.
        ui::ColumnFill::keep(view, {{ColDevice, savedDeviceWidth(kept)}}, [view] {
            if (view->minimumHeight() == view->maximumHeight() && view->model()) {
                const int height = fittedHeight(view, view->model()->rowCount());
                if (height != view->height())
                    view->setFixedHeight(height);
            }
        });
        auto* keep = new QTimer(header);
        keep->setSingleShot(true);
        keep->setInterval(tun::kTableColumnsKept);
        QObject::connect(keep, &QTimer::timeout, header, [view, header] {
            QStringList widths;
            for (int c = 1; c < kColumnCount; ++c)
                widths << QString::number(header->sectionSize(c));
            widths << QString::number(ui::ColumnFill::kept(view, ColDevice));
            Prefs::set(Prefs::kNativeTableColumns, widths);
        });
        QObject::connect(header, &QHeaderView::sectionResized, keep, [keep, view] {
            // A person's drag, not the device's column filling the table.
            if (ui::ColumnFill::kept(view, ColDevice) > 0)
                keep->start();
        });
    }
}

QList<int> savedWidths(const QStringList& saved)
{
    // As many widths as the table has columns beside the device's (and the
    // device's own after them, or not), each a width a person could have
    // dragged a column to; else none.
    if (saved.size() != kColumnCount - 1 && saved.size() != kColumnCount)
        return {};
    QList<int> out;
    for (const QString& w : saved.mid(0, kColumnCount - 1)) {
        bool ok = false;
        const int width = w.toInt(&ok);
        if (!ok || width < kLeastColumn || width > kWidestColumn)
            return {};
        // None of these columns has more to show than this: wider, it only
        // pushes the row's action away at every start.
        out << std::min(width, kWidestKept);
    }
    return out;
}

int savedDeviceWidth(const QStringList& saved)
{
    if (savedWidths(saved).isEmpty() || saved.size() != kColumnCount)
        return 0;
    bool ok = false;
    const int width = saved.last().toInt(&ok);
    return ok && width >= kLeastColumn && width <= kWidestColumn ? width : 0;
}

int fittedHeight(const QTableView* view, int rows)
{
    // Columns wider together than the table scroll it from side to side,
    // under the rows.
    const QHeaderView* header = view->horizontalHeader();
    const int bar = header->length() > view->viewport()->width() ? view->horizontalScrollBar()->sizeHint().height() : 0;
    return header->sizeHint().height() + kRowHeight * rows + 2 + bar;
}

} // namespace NativeTable

} // namespace kvr::screens
