#include "native/screens/EventsDialog.h"

#include "app/core/ShownText.h"
#include "app/ui/ColumnFill.h"
#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/ScreenFit.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/Tunables.h"
#include "native/services/AlertStream.h"
#include "native/services/ConnectionGate.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::services;
using namespace kvr::ui;

namespace kvr::screens {

namespace {

// An event's key in its row: which event the row shows.
constexpr int kEventRole = Qt::UserRole + 1;

} // namespace

namespace NativeEventText {

Group groupOf(int kind)
{
    switch (kind) {
    case AlertStream::Motion:
    case AlertStream::LineCrossing:
    case AlertStream::Intrusion:
    case AlertStream::AlarmInput:
        return Detections;
    case AlertStream::Other:
        return Others;
    default:
        return Problems;
    }
}

bool passes(int filterIndex, int kind)
{
    switch (filterIndex) {
    case ProblemsOnly:
        return groupOf(kind) == Problems;
    case Detections_:
        return groupOf(kind) == Detections;
    default:
        return true;
    }
}

QString cameraText(const Native::Device* device, int channel)
{
    if (device && channel >= 1)
        if (const Native::Camera* cam = device->camera(channel))
            return Native::cameraLabel(*cam);
    if (channel <= 0)
        return QStringLiteral("Device");
    return QStringLiteral("Channel %1").arg(channel);
}

QString eventKey(const NativeEvents::Event& event)
{
    // Arrival in milliseconds tells repeats apart; events read from the file
    // have none, and their arrival time is as stored.
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(event.deviceId)
        .arg(event.channel)
        .arg(event.kind)
        .arg(event.active ? 1 : 0)
        .arg(event.type)
        .arg(event.receivedAt.toMSecsSinceEpoch())
        .arg(event.receivedMs);
}

QString summary(int connected, int eligible)
{
    if (eligible == 0)
        return QStringLiteral("No device here can send live events yet (Hikvision, Prama and Prama STQC can).");
    return QStringLiteral("%1 of %2 Hikvision-family devices are sending live events. Other brands are checked on the "
                          "schedule.")
        .arg(connected)
        .arg(eligible);
}

QString heldBackText(int waiting, qint64 fileLimit, int streamPlaces)
{
    return QStringLiteral("%1 for an event stream: the system lets this program keep only %2 files open at once, "
                          "which leaves room for %3 streams beside the checks.")
        .arg(NativeInsights::countText(waiting, QStringLiteral("recorder waits"), QStringLiteral("recorders wait")))
        .arg(fileLimit)
        .arg(streamPlaces);
}

QString summary(int connected, int eligible, int waiting, qint64 fileLimit, int streamPlaces)
{
    const QString base = summary(connected, eligible);
    return waiting > 0 ? base + QLatin1Char(' ') + heldBackText(waiting, fileLimit, streamPlaces) : base;
}

} // namespace NativeEventText

EventsDialog::EventsDialog(const NativeContext& context, QWidget* parent) : NativeDialogBase(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("Live events"));
    ScreenFit::keepWithin(this, QSize(860, 520));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(24, 20, 24, 20);
    v->setSpacing(12);
    auto* header = new QHBoxLayout;
    header->addWidget(NativeUi::label(QStringLiteral("Live events"), "NScreenTitle"));
    header->addStretch();
    m_filter = new QComboBox;
    m_filter->addItems(
        {QStringLiteral("All events"), QStringLiteral("Problems only"), QStringLiteral("Motion and detections")});
    m_filter->setAccessibleName(QStringLiteral("Show"));
    header->addWidget(m_filter);
    v->addLayout(header);
    m_summary = NativeUi::label(QString(), "NMuted");
    v->addWidget(m_summary);

    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("NPane"));
    pane->setAttribute(Qt::WA_StyledBackground);
    auto* pv = new QVBoxLayout(pane);
    pv->setContentsMargins(1, 1, 1, 1);
    m_table = new QTableWidget(0, 6);
    m_table->setObjectName(QStringLiteral("NTable"));
    m_table->setAccessibleName(QStringLiteral("Events"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("TIME"), QStringLiteral("EVENT"), QStringLiteral("STATE"),
                                        QStringLiteral("CAMERA"), QStringLiteral("DEVICE"), QStringLiteral("SITE")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(36);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false); // Tab leaves; the arrow keys move through the rows
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setShowGrid(false);
    m_table->setFrameShape(QFrame::NoFrame);
    QHeaderView* h = m_table->horizontalHeader();
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Time, event and state are short words; the cameras', devices' and
    // sites' names share the rest, and keep what tells them apart where they
    // must be shortened (their whole names in the tool tips). Each column
    // widens by its own edge, the table scrolling where they outgrow it.
    const int widths[] = {104, 150, 80};
    for (int c = 0; c < 3; ++c)
        h->resizeSection(c, widths[c]);
    ColumnFill::keep(m_table, {{3, 0}, {4, 0}, {5, 0}});
    m_table->setItemDelegate(new ApartDelegate(m_table));
    pv->addWidget(m_table);
    v->addWidget(pane, 1);

    auto* footer = new QHBoxLayout;
    QLabel* hint = NativeUi::label(
        QStringLiteral("Double-click an event to open its device. Events are kept for 7 days on this computer."),
        "NMuted");
    hint->setWordWrap(false);
    footer->addWidget(hint);
    footer->addStretch();
    QPushButton* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    footer->addWidget(close);
    v->addLayout(footer);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kvr::screens::tun::kEventsRefill);
    connect(m_timer, &QTimer::timeout, this, &EventsDialog::refill);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_filter, &QComboBox::currentIndexChanged, this, &EventsDialog::refill);
    // A double-click on an event, or Enter or Space on the current one,
    // opens its device.
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (QTableWidgetItem* item = m_table->item(row, 0))
            Q_EMIT openDevice(item->data(Qt::UserRole).toString());
    });
    ItemKeys::install(m_table, [this](const QModelIndex& index) {
        if (QTableWidgetItem* item = m_table->item(index.row(), 0))
            Q_EMIT openDevice(item->data(Qt::UserRole).toString());
    });
    m_table->setAccessibleDescription(ItemKeys::keyHint(QStringLiteral("Open the event's device")));
    if (m_context.events) {
        auto soon = [this] {
            if (!m_timer->isActive())
                m_timer->start();
        };
        connect(m_context.events, &NativeEvents::eventReceived, this, soon);
        connect(m_context.events, &NativeEvents::linksChanged, this, soon);
    }
    refill();
}

void EventsDialog::refill()
{
    ++m_refills;
    const int eligible = m_context.events ? m_context.events->eligibleCount() : 0;
    const int connected = m_context.events ? m_context.events->connectedCount() : 0;
    const int waiting = m_context.events ? m_context.events->heldBackCount() : 0;
    m_summary->setText(NativeEventText::summary(connected, eligible, waiting, ConnectionGate::openFileLimit(),
                                                ConnectionGate::instance().streamPlaces()));
    const int f = m_filter->currentIndex();
    const QDateTime now = NativeContext::now();

    // The rows are made anew: the current one (the keys' place) stays on
    // its event, wherever new events put it.
    const QTableWidgetItem* current = m_table->currentItem();
    const QString currentEvent = current ? m_table->item(current->row(), 0)->data(kEventRole).toString() : QString();
    const int currentColumn = current ? current->column() : 0;
    m_table->setUpdatesEnabled(false);
    m_table->setRowCount(0);
    const QList<NativeEvents::Event> events = m_context.events
        ? m_context.events->recent(QString(), kvr::screens::tun::kEventsRead)
        : QList<NativeEvents::Event>();
    const QList<Native::Device> inventory = m_context.store ? m_context.store->devices() : QList<Native::Device>();
    QHash<QString, const Native::Device*> devices;
    devices.reserve(inventory.size());
    for (const Native::Device& d : inventory)
        devices.insert(d.id, &d);
    const QLocale c = QLocale::c();
    const QString stamp = QStringLiteral("d MMM yyyy, HH:mm:ss");
    QList<QList<QTableWidgetItem*>> rows;
    for (const NativeEvents::Event& e : events) {
        if (!NativeEventText::passes(f, e.kind))
            continue;
        const Native::Device* d = devices.value(e.deviceId, nullptr);
        QList<QTableWidgetItem*> items;
        auto* time = new QTableWidgetItem(NativeInsights::ago(e.receivedAt, now));
        QString tip = c.toString(e.receivedAt.toLocalTime(), stamp);
        if (e.deviceTime.isValid())
            tip += QStringLiteral("\nDevice clock: %1").arg(c.toString(e.deviceTime, stamp));
        time->setToolTip(tip);
        time->setData(Qt::UserRole, e.deviceId);
        time->setData(kEventRole, NativeEventText::eventKey(e));
        items << time;
        auto* kind = new QTableWidgetItem(AlertStream::label(e.kind));
        kind->setToolTip(e.description.isEmpty() ? e.type : QStringLiteral("%1 (%2)").arg(e.description, e.type));
        if (NativeEventText::groupOf(e.kind) == NativeEventText::Problems && e.active)
            kind->setForeground(NativeStyle::kDanger);
        items << kind;
        items << new QTableWidgetItem(e.active ? QStringLiteral("Started") : QStringLiteral("Cleared"));
        items << new QTableWidgetItem(NativeEventText::cameraText(d, e.channel));
        items << new QTableWidgetItem(d ? Native::deviceLabel(*d) : QStringLiteral("Removed device"));
        items << new QTableWidgetItem(d && m_context.store ? kvr::core::shownText(m_context.store->siteName(d->siteId))
                                                           : QString());
        rows << items;
        if (rows.size() - 1 >= kvr::screens::tun::kEventsLastRowIndex)
            break;
    }
    m_table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int col = 0; col < 6; ++col)
            m_table->setItem(r, col, rows[r][col]);
        if (!currentEvent.isEmpty() && rows[r][0]->data(kEventRole).toString() == currentEvent)
            m_table->setCurrentCell(r, currentColumn);
    }
    m_table->setUpdatesEnabled(true);
}

} // namespace kvr::screens
