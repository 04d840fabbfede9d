// The native window's fleet page: the cards, the brand filter and the
// overview from the sums the fleet cache keeps, and the device table, whose
// rows are put in place one by one when a few devices changed and listed
// again when many did or a filter changed.

#include "native/screens/DeviceTable.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/StatCard.h"
#include "native/screens/Tunables.h"
#include "native/screens/VigiloOverview.h"
#include "native/services/NativeStore.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>

#include <algorithm>

using namespace kvr::services;

namespace kvr::screens {

using namespace FleetRules;

namespace {
namespace tun = kvr::screens::tun;
} // namespace

// ---- Cards and filters ------------------------------------------------------------------------------

Filters NativeWindow::filters() const
{
    Filters f;
    f.search = m_search->text();
    f.status = m_status->currentIndex();
    f.brand = m_brand->currentData().toString();
    f.internet = m_internet->currentIndex();
    f.network = m_network->currentIndex();
    return f;
}

bool NativeWindow::matches(const Native::Device& device) const
{
    return FleetRules::matches(device, filters(), m_context.store->siteName(device.siteId));
}

bool NativeWindow::filtersActive() const
{
    return filters().active();
}

void NativeWindow::clearFilters()
{
    // The field's own text signal also fades its clear icon out, so it is
    // left unblocked: all it adds is a second arming of the same timer.
    m_search->clear();
    QComboBox* controls[] = {m_status, m_brand, m_internet, m_network};
    bool blocked[4];
    for (int i = 0; i < 4; ++i)
        blocked[i] = controls[i]->blockSignals(true);
    for (QComboBox* c : controls)
        c->setCurrentIndex(0);
    scheduleRebuild();
    for (int i = 0; i < 4; ++i)
        controls[i]->blockSignals(blocked[i]);
}

void NativeWindow::setCardFilter(int statusIndex, int internetIndex)
{
    clearFilters();
    if (statusIndex != AllStatuses)
        m_status->setCurrentIndex(statusIndex);
    if (internetIndex != AllInternet)
        m_internet->setCurrentIndex(internetIndex);
}

void NativeWindow::onSiteClicked(const QString& name)
{
    clearFilters();
    if (!m_context.store->devices().isEmpty() && !name.isEmpty())
        m_search->setText(name);
}

void NativeWindow::updateBrands()
{
    const QStringList brands = m_cache.totals().brands();
    const QString chosen = m_brand->currentData().toString();
    QStringList current;
    for (int i = 1; i < m_brand->count(); ++i)
        current << m_brand->itemData(i).toString();
    if (current == brands)
        return;
    const bool blocked = m_brand->blockSignals(true);
    m_brand->clear();
    m_brand->addItem(QStringLiteral("All brands"), QString());
    for (const QString& b : brands)
        m_brand->addItem(b, b);
    const int keep = m_brand->findData(chosen, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_brand->setCurrentIndex(chosen.isEmpty() || keep < 0 ? 0 : keep);
    m_brand->blockSignals(blocked);
}

void NativeWindow::updateCards()
{
    // Kept as the devices change: a check's result never recounts the fleet.
    const auto texts = cardTexts(m_cache.totals().counts());
    for (int i = 0; i < kCardCount; ++i) {
        m_cards[size_t(i)]->setValue(texts[size_t(i)].value);
        m_cards[size_t(i)]->setDetail(texts[size_t(i)].detail);
    }
    highlightCards(filters());
}

void NativeWindow::highlightCards(const FleetRules::Filters& filters)
{
    const auto lit = cardHighlights(filters);
    for (int i = 0; i < kCardCount; ++i)
        m_cards[size_t(i)]->setActive(lit[size_t(i)]);
}

// ---- Rebuild ---------------------------------------------------------------------------------

void NativeWindow::refreshOverview(const QList<Native::Device>& devices)
{
    // The overview lists no more than its first findings and counts the rest.
    const FleetCache::FirstIssues found = m_cache.firstIssues(devices, NativeOverview::kExpandedRows);
    m_overview->showFindings(found.first, {found.problems, found.warnings, found.notes},
                             m_cache.sites(m_context, devices), m_cache.fleetDays(), devices.isEmpty());
}

void NativeWindow::rebuild()
{
    if (!m_context.store)
        return;
    m_lastRebuild.restart();
    m_rebuilding = true;
    m_filterTimer->stop(); // the rows are shown for the filters below
    const NativeStore& store = *m_context.store;
    // Read in place: nothing below changes the store.
    const QList<Native::Device>& devices = store.devices();
    const QDateTime now = NativeContext::now();
    m_cache.update(m_context, devices, now);
    m_recordsPending = m_recordsPending || m_cache.recordsChanged();
    m_overviewPending = m_overviewPending || m_cache.changed();
    // A pass over the fleet (many devices added at once, a minute on for a
    // large fleet) goes on in the next turns, the window answering in
    // between; what shows is then brought up to date once for all of them,
    // the cards and the rows in turns of their own. Devices marked one by
    // one beyond a turn's share show a share a turn.
    const auto later = [this](int step) {
        m_fillStep = step;
        m_rebuilding = false;
        m_rebuildTimer->start(0);
    };
    if (m_cache.passUnderway())
        return later(1);
    if (m_fillStep == 1)
        return later(2);
    if (m_fillStep != 3) {
        // The brands and the cards' counts follow the records (and refused
        // logins) alone: a rebuild for a filter or the clock leaves them be.
        if (std::exchange(m_recordsPending, false)) {
            updateBrands();
            updateCards();
        } else {
            highlightCards(filters());
        }
        // The overview shows data only: a rebuild for a filter leaves it be.
        if (std::exchange(m_overviewPending, false) && m_overview->isVisibleTo(m_overview->parentWidget()))
            refreshOverview(devices);
        if (m_fillStep == 2)
            return later(3);
    }
    m_fillStep = 0;
    applyRows(devices);
    ++m_rebuildCount;
    Q_EMIT rebuilt();
    if (m_cache.unfinished())
        m_rebuildTimer->start(0); // the marked devices left
}

void NativeWindow::applyRows(const QList<Native::Device>& devices)
{
    const FleetCache::Changes changes = m_cache.takeChanges();
    // Rows whose devices changed in place (a check begun or ended, its texts
    // new) take their new content where they stand; a few that move, come
    // or go are each put where they now belong. Many of those (an import,
    // a minute on in a large fleet), every place moved, or other filters:
    // the table is listed again.
    if (changes.reordered || !m_model->keyed() || !(filters() == m_listedFor)
        || changes.dropped.size() > tun::kRowsPlacedOneByOne) {
        showRows(devices);
        return;
    }
    const Filters f = filters();
    QList<Row> stay;
    QList<Row> place;
    QStringList gone(changes.dropped.cbegin(), changes.dropped.cend());
    const QList<Row>& shown = m_model->rows();
    for (const QString& id : changes.touched) {
        const FleetCache::Entry* e = m_cache.entry(id);
        if (!e || !FleetRules::matches(e->record->device, f, e->site)) {
            gone << id;
            continue;
        }
        Row row = e->row;
        row.key = e->key();
        const int at = m_model->rowOf(id);
        if (at >= 0 && shown.at(at).key == row.key)
            stay << row;
        else
            place << row;
    }
    if (gone.size() + place.size() > tun::kRowsPlacedOneByOne) {
        showRows(devices);
        return;
    }
    m_rebuilding = true;
    m_model->refreshRows(stay);
    for (const QString& id : std::as_const(gone))
        m_model->removeRowOf(id);
    for (const Row& row : std::as_const(place))
        m_model->placeRow(row);
    ++m_rowsPlaced;
    m_rowsPlacedLast = int(stay.size() + gone.size() + place.size());
    showTable(devices.isEmpty());
}

void NativeWindow::showFilters()
{
    if (!m_context.store)
        return;
    highlightCards(filters());
    showRows(m_context.store->devices());
}

void NativeWindow::showRows(const QList<Native::Device>& devices)
{
    m_rebuilding = true;
    const Filters f = filters();
    struct Entry {
        const FleetCache::Entry* cached;
        FleetRules::SortKey key;
    };
    QList<Entry> entries;
    entries.reserve(devices.size());
    const QList<const FleetCache::Entry*> cachedEntries = m_cache.entriesOf(devices);
    for (qsizetype index = 0; index < devices.size(); ++index) {
        const Native::Device& d = devices.at(index);
        const FleetCache::Entry* cached = cachedEntries.at(index);
        // A second record with the same id shows once.
        if (!cached || cached->index != index || !FleetRules::matches(d, f, cached->site))
            continue;
        entries.append({cached, cached->key()});
    }
    // The cache keeps each device's place among the names, so the sort
    // compares numbers only.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return sortsBefore(a.key, b.key); });
    QList<Row> rows;
    rows.reserve(entries.size());
    for (const Entry& e : entries) {
        rows.append(e.cached->row);
        rows.last().key = e.key;
    }
    m_model->setRows(rows);
    m_listedFor = f;
    ++m_rowsListed;
    showTable(devices.isEmpty());
}

void NativeWindow::showTable(bool inventoryEmpty)
{
    m_clearFilters->setVisible(filtersActive());
    const int rows = m_model->rowCount();
    const bool none = rows == 0;
    if (none) {
        m_emptyLabel->setText(inventoryEmpty ? QStringLiteral("No devices yet. Add a site or import a CSV.")
                                             : QStringLiteral("No matches."));
        m_emptyAdd->setVisible(inventoryEmpty);
    }
    m_tableStack->setCurrentIndex(none ? 1 : 0);

    const int selectedRow = m_selectedId.isEmpty() ? -1 : m_model->rowOf(m_selectedId);
    QItemSelectionModel* sel = m_table->selectionModel();
    if (selectedRow >= 0) {
        const QModelIndex idx = m_model->index(selectedRow, 0);
        if (sel->currentIndex().row() != selectedRow || !sel->isRowSelected(selectedRow))
            sel->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (sel->hasSelection() || sel->currentIndex().isValid()) {
        sel->clear();
    }
    const int tableHeight = NativeTable::fittedHeight(m_table, rows);
    m_table->setFixedHeight(tableHeight);
    // The stack is as tall as the page it shows (a scroll view's own size
    // hint would otherwise leave blank space under a short table).
    m_tableStack->setFixedHeight(none ? m_tableStack->widget(1)->sizeHint().height() : tableHeight);

    m_rebuilding = false;
    if (!m_selectedId.isEmpty() && !m_cache.entry(m_selectedId))
        m_selectedId.clear();
    refreshBusy();
}

} // namespace kvr::screens
