#include "native/screens/DevicePanel.h"

#include "app/ui/Modal.h"
#include "native/screens/FleetRules.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeUi.h"
#include "native/screens/ReportDialog.h"
#include "native/services/Brands.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include "native/screens/UptimeCharts.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedLayout>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace NativeStyle;

// ---- Rules ----------------------------------------------------------------------------

namespace NativePanel {

QString typeLabel(const QString& type)
{
    const QString upper = type.toUpper();
    return upper == QLatin1String("IPCAMERA") ? QStringLiteral("IP camera") : upper;
}

QString shortTime(const QDateTime& moment, const QDateTime& now)
{
    if (!moment.isValid())
        return {};
    const QDateTime local = moment.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return local.toString(QStringLiteral("HH:mm"));
    return QLocale::c().toString(local, QStringLiteral("d MMM HH:mm"));
}

HeaderStatus headerStatus(const Native::Device& d, bool busy, const QDateTime& now)
{
    if (!d.enabled)
        return {Disc::Unknown, QStringLiteral("Deactivated"), d.disabledReason};
    if (busy)
        return {Disc::Unknown, QStringLiteral("Checking"), QString()};
    if (d.health.checkedAt.isValid()) {
        const QString note = QStringLiteral("Last checked %1").arg(shortTime(d.health.checkedAt, now));
        if (d.health.device == Native::Passed)
            return {Disc::Up, QStringLiteral("Online"), note};
        return {Disc::Down, QStringLiteral("Offline"), note};
    }
    return {Disc::Unknown, QStringLiteral("Not checked"), QString()};
}

ChipText checkChip(int state, const QString& pass, const QString& fail, const QString& unknown, bool busy)
{
    if (busy)
        return {QStringLiteral("Checking"), Chip::Info, {}};
    if (state == Native::Passed)
        return {pass, Chip::Pass, {}};
    if (state == Native::Failed)
        return {fail, Chip::Fail, {}};
    return {unknown, Chip::Unknown, {}};
}

ChipText networkChip(const Native::Health& h, bool busy)
{
    if (busy)
        return {QStringLiteral("Checking"), Chip::Info, {}};
    if (h.quality.isEmpty())
        return {QStringLiteral("Not checked"), Chip::Unknown, {}};
    const Chip kind = h.quality == QLatin1String("Good") ? Chip::Pass
        : h.quality == QLatin1String("Degraded")         ? Chip::Warn
                                                         : Chip::Poor;
    return {QStringLiteral("%1 · %2 ms").arg(h.quality).arg(h.latencyMs), kind,
            QStringLiteral("%1% of connection attempts failed").arg(h.lossPercent)};
}

ChipText diskChip(const QString& hdd)
{
    if (hdd == QLatin1String("Fault"))
        return {QStringLiteral("Fault"), Chip::Fail, {}};
    if (hdd == QLatin1String("OK"))
        return {QStringLiteral("OK"), Chip::Pass, {}};
    return {QStringLiteral("Not checked"), Chip::Unknown, {}};
}

ChipText recordingChip(const Native::Device& d)
{
    const Native::Health& h = d.health;
    if (h.recordingDays >= 0 && h.recordingWindow >= 1) {
        const NativeFleet::RecordingLevel level = NativeFleet::recordingLevel(h.recordingDays, h.recordingWindow);
        return {QStringLiteral("%1 of %2 days").arg(h.recordingDays).arg(h.recordingWindow),
                level == NativeFleet::RecordingLevel::Good        ? Chip::Pass
                    : level == NativeFleet::RecordingLevel::Short ? Chip::Warn
                                                                  : Chip::Fail,
                {}};
    }
    if (NativeBrand::calendarSupported(d))
        return {QStringLiteral("Not checked"), Chip::Unknown, {}};
    return {};
}

QString emptyField(const Native::Health& h)
{
    const bool never =
        h.model.isEmpty() && h.deviceName.isEmpty() && h.serial.isEmpty() && h.firmware.isEmpty() && h.mac.isEmpty();
    return never ? QStringLiteral("Not fetched yet") : QStringLiteral("—");
}

int testLiveChannel(const Native::Device& d)
{
    for (int c = 1; c <= d.channels; ++c)
        if (!d.isIgnored(c))
            return c;
    return 1;
}

ChipText percentChip(double percent)
{
    if (percent < 0)
        return {QStringLiteral("No data yet"), Chip::Unknown, {}};
    return {QStringLiteral("%1% up").arg(percent, 0, 'f', 1),
            percent >= 99.0       ? Chip::Pass
                : percent >= 90.0 ? Chip::Warn
                                  : Chip::Fail,
            {}};
}

QString cameraDisplayName(const Native::Camera& camera)
{
    const QString label = Native::cameraLabel(camera);
    const QString prefix = QStringLiteral("%1_").arg(camera.channelId);
    if (label.startsWith(prefix) && label.size() > prefix.size())
        return label.mid(prefix.size());
    return label;
}

} // namespace NativePanel

using namespace NativePanel;

namespace {

std::optional<Native::Device> findDevice(const NativeContext& c, const QString& id)
{
    if (!c.store || id.isEmpty())
        return std::nullopt;
    return c.store->device(id);
}

// A segmented control: exclusive checkable buttons, the second one checked.
QFrame* segmented(const QStringList& labels, const std::function<void(int)>& onClick, QList<QPushButton*>* out)
{
    auto* wrap = new QFrame;
    wrap->setObjectName(QStringLiteral("NSegWrap"));
    wrap->setFixedHeight(36);
    auto* h = new QHBoxLayout(wrap);
    h->setContentsMargins(3, 3, 3, 3);
    h->setSpacing(2);
    auto* group = new QButtonGroup(wrap);
    group->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* b = new QPushButton(labels.at(i));
        b->setObjectName(QStringLiteral("NSeg"));
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        group->addButton(b, i);
        h->addWidget(b);
        out->append(b);
        if (i == 1)
            b->setChecked(true);
    }
    QObject::connect(group, &QButtonGroup::idClicked, wrap, onClick);
    return wrap;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget())
            delete w;
        else if (QLayout* inner = item->layout())
            clearLayout(inner);
        delete item;
    }
}

QWidget* sectionHeader(const QString& title, QWidget* trailing = nullptr)
{
    auto* w = new QWidget;
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(NativeUi::label(title, "NSection"));
    h->addStretch();
    if (trailing)
        h->addWidget(trailing);
    return w;
}

QLabel* valueLabel(const QString& text, const char* objectName)
{
    auto* l = new QLabel(text);
    l->setObjectName(QLatin1String(objectName));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QWidget* fieldGrid(const QList<QPair<QString, QWidget*>>& entries)
{
    auto* w = new QWidget;
    auto* g = new QGridLayout(w);
    g->setContentsMargins(0, 0, 0, 0);
    g->setHorizontalSpacing(24);
    g->setVerticalSpacing(10);
    g->setColumnStretch(0, 1);
    g->setColumnStretch(1, 1);
    for (int i = 0; i < entries.size(); ++i) {
        auto* cell = new QWidget;
        auto* v = new QVBoxLayout(cell);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(2);
        QLabel* caption = NativeUi::label(entries.at(i).first, "NMuted");
        caption->setBuddy(entries.at(i).second);
        v->addWidget(caption);
        v->addWidget(entries.at(i).second);
        g->addWidget(cell, i / 2, i % 2, Qt::AlignTop);
    }
    return w;
}

QLabel* chipOf(const ChipText& c)
{
    QLabel* l = NativeStyle::chip(c.text, c.kind);
    if (!c.tip.isEmpty())
        l->setToolTip(c.tip);
    return l;
}

QWidget* checkTile(const QString& caption, QLabel* chip)
{
    auto* w = new QWidget;
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    v->addWidget(NativeUi::label(caption, "NMuted"));
    v->addWidget(chip, 0, Qt::AlignLeft);
    chip->setAccessibleName(caption);
    return w;
}

} // namespace

// ---- UptimeTab -------------------------------------------------------------------------

UptimeTab::UptimeTab(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 16, 0, 0);
    v->setSpacing(12);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addWidget(segmented(
        {QStringLiteral("Today"), QStringLiteral("7 days"), QStringLiteral("30 days")}, [this](int i) { setRange(i); },
        &m_rangeButtons));
    top->addWidget(segmented(
        {QStringLiteral("Internet"), QStringLiteral("Device"), QStringLiteral("Camera")},
        [this](int i) { setSeries(i); }, &m_seriesButtons));
    m_camera = new QComboBox;
    m_camera->setMinimumWidth(180);
    m_camera->setAccessibleName(QStringLiteral("Camera"));
    m_camera->hide();
    top->addWidget(m_camera);
    top->addStretch();
    m_chip = NativeStyle::chip(QStringLiteral("No data yet"), Chip::Unknown);
    m_chip->setAccessibleName(QStringLiteral("Uptime"));
    top->addWidget(m_chip);
    v->addLayout(top);
    m_chart = new QWidget;
    auto* cv = new QVBoxLayout(m_chart);
    cv->setContentsMargins(0, 0, 0, 0);
    cv->setSpacing(8);
    m_heatmap = new UptimeHeatmap;
    cv->addWidget(m_heatmap, 1);
    cv->addWidget(new UptimeLegend);
    v->addWidget(m_chart, 1);
    m_empty = NativeUi::label(QString(), "NEmpty");
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->hide();
    v->addWidget(m_empty);

    connect(m_camera, &QComboBox::currentIndexChanged, this, &UptimeTab::refresh);
    if (m_context.store)
        connect(m_context.store, &NativeStore::deviceUpdated, this, [this](const QString& id) {
            if (id == m_id && isVisible())
                refresh();
        });
    m_timer = new QTimer(this);
    m_timer->setInterval(60000);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    m_timer->start();
}

void UptimeTab::setRange(int segment)
{
    m_days = segment == 0 ? 0 : segment == 1 ? 7 : 30;
    if (segment >= 0 && segment < m_rangeButtons.size())
        m_rangeButtons.at(segment)->setChecked(true);
    refresh();
}

void UptimeTab::setSeries(int segment)
{
    m_series = Native::GraphType(qBound(0, segment, 2));
    if (segment >= 0 && segment < m_seriesButtons.size())
        m_seriesButtons.at(segment)->setChecked(true);
    m_camera->setVisible(m_series == Native::GraphType::Camera);
    refresh();
}

void UptimeTab::setDevice(const QString& id)
{
    m_id = id;
    reloadCameras();
    refresh();
}

void UptimeTab::reloadCameras()
{
    const int remembered = m_camera->currentData().toInt();
    const bool blocked = m_camera->blockSignals(true);
    m_camera->clear();
    if (const std::optional<Native::Device> d = findDevice(m_context, m_id)) {
        for (const Native::Camera& c : d->cameras)
            if (!d->isIgnored(c.channelId))
                m_camera->addItem(QStringLiteral("%1  %2").arg(c.channelId).arg(Native::cameraLabel(c)), c.channelId);
    }
    const int at = m_camera->findData(remembered);
    m_camera->setCurrentIndex(at >= 0 ? at : 0);
    m_camera->blockSignals(blocked);
}

void UptimeTab::refresh()
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    ++m_refreshes;
    if (d->totalCameras() != m_camera->count())
        reloadCameras();
    if (!d->enabled) {
        m_chart->hide();
        m_chip->hide();
        m_empty->setText(QStringLiteral("No uptime data — device deactivated."));
        m_empty->show();
        return;
    }
    m_chart->show();
    m_chip->show();
    if (m_series == Native::GraphType::Camera && m_camera->count() == 0) {
        m_chart->hide();
        m_chip->hide();
        m_empty->setText(QStringLiteral("No cameras to show. Every channel is ignored."));
        m_empty->show();
        return;
    }
    const QList<Native::UptimeCell> cells =
        m_context.store->uptimeGrid(m_id, m_series, m_camera->currentData().toInt(), m_days, NativeContext::now());
    m_heatmap->setCells(cells);
    const double percent = NativeStore::uptimePercent(cells);
    const ChipText chip = NativePanel::percentChip(percent);
    NativeStyle::setChip(m_chip, chip.text, chip.kind);
    if (percent < 0) {
        m_empty->setText(
            QStringLiteral("No uptime history yet. Keep the app open or run Fetch so samples can accumulate."));
        m_empty->show();
    } else {
        m_empty->hide();
    }
}

// ---- CamerasTab ----------------------------------------------------------------------------

CamerasTab::CamerasTab(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 16, 0, 0);
    v->setSpacing(10);
    m_status = NativeUi::label(QString(), "NMuted");
    m_status->hide();
    v->addWidget(m_status);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setAccessibleName(QStringLiteral("Cameras"));
    m_rowsWidget = new QWidget;
    m_rowsLayout = new QVBoxLayout(m_rowsWidget);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(6);
    m_rowsLayout->addStretch();
    scroll->setWidget(m_rowsWidget);
    v->addWidget(scroll, 1);
    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    footer->addWidget(
        NativeUi::label(QStringLiteral("Names are saved on this computer. The NVR keeps its own channel titles."),
                        "NMuted"),
        1);
    m_snapshots = NativeUi::button(QStringLiteral("Get all snapshots"), "NSecondary");
    m_save = NativeUi::button(QStringLiteral("Save Changes"), "NPrimary");
    footer->addWidget(m_snapshots);
    footer->addWidget(m_save);
    v->addLayout(footer);

    connect(m_save, &QPushButton::clicked, this, [this] { QTimer::singleShot(0, this, &CamerasTab::save); });
    connect(m_snapshots, &QPushButton::clicked, this, [this] {
        const QString id = m_id;
        QTimer::singleShot(0, this, [this, id] {
            if (const auto& hook = NativeMedia::hooks().snapshots)
                hook(this, id, 0);
        });
    });
    if (m_context.store)
        connect(m_context.store, &NativeStore::deviceUpdated, this, [this](const QString& id) {
            if (id == m_id)
                refresh();
        });
    if (m_context.controller)
        connect(m_context.controller, &NativeController::busyChanged, this, [this](const QString& id) {
            if (id == m_id)
                refresh();
        });
}

void CamerasTab::setDevice(const QString& id)
{
    m_id = id;
    m_signature.clear();
    refresh();
}

QString CamerasTab::signature() const
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return {};
    QString s = d->id;
    for (const Native::Camera& c : d->cameras)
        if (!d->isIgnored(c.channelId))
            s += QLatin1Char(',') + QString::number(c.channelId);
    return s;
}

void CamerasTab::refresh()
{
    if (signature() != m_signature)
        rebuild();
    else
        refreshRows(false);
}

void CamerasTab::rebuild()
{
    while (m_rowsLayout->count() > 1) {
        QLayoutItem* item = m_rowsLayout->takeAt(0);
        delete item->widget();
        delete item;
    }
    m_rows.clear();
    m_signature = signature();
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    if (d->cameras.isEmpty()) {
        refreshRows(true);
        return;
    }
    for (const Native::Camera& cam : d->cameras) {
        if (d->isIgnored(cam.channelId))
            continue;
        const int channel = cam.channelId;
        auto* frame = new QFrame;
        frame->setObjectName(QStringLiteral("NRow"));
        auto* h = new QHBoxLayout(frame);
        h->setContentsMargins(12, 8, 12, 8);
        h->setSpacing(10);
        auto* number = new QLabel(QString::number(channel));
        number->setObjectName(QStringLiteral("NMuted"));
        number->setFixedSize(26, 36);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        h->addWidget(number, 0, Qt::AlignTop);
        CameraRow row;
        row.channel = channel;
        row.dot = new DiscDot(Disc::Unknown);
        h->addWidget(row.dot, 0, Qt::AlignTop);
        auto* col = new QVBoxLayout;
        col->setSpacing(3);
        row.name = new QLineEdit;
        row.name->setAccessibleName(QStringLiteral("Name of channel %1").arg(channel));
        row.sub = new QLabel;
        row.sub->setObjectName(QStringLiteral("NMuted"));
        col->addWidget(row.name);
        col->addWidget(row.sub);
        h->addLayout(col, 1);
        row.blur = new QSpinBox;
        row.blur->setRange(0, 100);
        row.blur->setSpecialValueText(QStringLiteral("Off"));
        row.blur->setToolTip(QStringLiteral("Blur / block threshold, 1 to 100"));
        row.blur->setAccessibleName(QStringLiteral("Blur threshold of channel %1").arg(channel));
        row.blur->setFixedWidth(64);
        h->addWidget(row.blur, 0, Qt::AlignTop);
        row.snapshot = NativeUi::button(QStringLiteral("Snapshot"), "NText");
        row.live = NativeUi::button(QStringLiteral("Live"), "NText");
        row.snapshot->setAccessibleName(QStringLiteral("Snapshot of channel %1").arg(channel));
        row.live->setAccessibleName(QStringLiteral("Live view of channel %1").arg(channel));
        h->addWidget(row.snapshot, 0, Qt::AlignTop);
        h->addWidget(row.live, 0, Qt::AlignTop);
        // The dialogs these open run a modal loop, during which a notice may
        // rebuild the rows: they run outside the button's handler, with the
        // tab (not the row) as their parent.
        const QString id = m_id;
        connect(row.snapshot, &QPushButton::clicked, this, [this, id, channel] {
            QTimer::singleShot(0, this, [this, id, channel] {
                if (const auto& hook = NativeMedia::hooks().snapshots)
                    hook(this, id, channel);
            });
        });
        connect(row.live, &QPushButton::clicked, this, [this, id, channel] {
            QTimer::singleShot(0, this, [this, id, channel] {
                if (const auto& hook = NativeMedia::hooks().openLive)
                    hook(this, id, channel);
            });
        });
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, frame);
        m_rows.append(row);
    }
    refreshRows(true);
}

void CamerasTab::refreshRows(bool fresh)
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    const QDateTime now = NativeContext::now();
    QString status;
    if (m_context.isBusy(m_id))
        status = QStringLiteral("Checking");
    else if (!d->health.checkedAt.isValid())
        status = QStringLiteral("Run Fetch device info to see which cameras are online and to fill in their names.");
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    for (CameraRow& row : m_rows) {
        const Native::Camera* cam = d->camera(row.channel);
        if (!cam)
            continue;
        const QString shown = cameraDisplayName(*cam);
        if (fresh || row.name->text() == row.lastName) {
            row.name->setText(shown);
            row.lastName = shown;
        }
        if (fresh)
            row.blur->setValue(cam->blur);
        row.dot->setState(!cam->onlineKnown ? Disc::Unknown : cam->online ? Disc::Up : Disc::Down);
        QStringList parts;
        if (cam->lastOnline.isValid())
            parts << QStringLiteral("Online %1").arg(shortTime(cam->lastOnline, now));
        if (cam->lastOffline.isValid())
            parts << QStringLiteral("Offline %1").arg(shortTime(cam->lastOffline, now));
        row.sub->setText(parts.join(QStringLiteral(" · ")));
        row.sub->setVisible(!parts.isEmpty());
    }
}

void CamerasTab::save()
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    QList<Native::Camera> cameras;
    for (const CameraRow& row : m_rows) {
        Native::Camera c;
        c.channelId = row.channel;
        c.blur = row.blur->value();
        const QString typed = row.name->text().trimmed();
        const Native::Camera* stored = d->camera(row.channel);
        c.name = (typed == row.lastName && stored) ? stored->name : typed;
        cameras << c;
    }
    m_context.store->saveCameras(m_id, cameras);
    // Every row now shows what is stored and remembers that: a second save
    // of untouched rows writes the stored names back unchanged (the shown
    // name may lack its "3_" prefix, or be a "Camera 5" placeholder).
    refreshRows(true);
    NativeUi::info(this, QStringLiteral("Manage cameras"), QStringLiteral("Camera names updated."));
}

// ---- DevicePanel ------------------------------------------------------------------------------

DevicePanel::DevicePanel(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    setObjectName(QStringLiteral("NPane"));
    setAttribute(Qt::WA_StyledBackground);
    m_stack = new QStackedLayout(this);

    auto* empty = new QWidget;
    auto* ev = new QVBoxLayout(empty);
    QLabel* emptyLabel = NativeUi::label(QStringLiteral("Select a device."), "NEmpty");
    emptyLabel->setAlignment(Qt::AlignCenter);
    ev->addWidget(emptyLabel, 0, Qt::AlignCenter);
    m_stack->addWidget(empty);

    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(20, 18, 20, 12);
    v->setSpacing(14);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    m_title = NativeUi::label(QString(), "NScreenTitle");
    m_subtitle = NativeUi::label(QString(), "NMuted");
    left->addWidget(m_title);
    left->addWidget(m_subtitle);
    header->addLayout(left, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    statusRow->addStretch();
    m_dot = new DiscDot(Disc::Unknown);
    statusRow->addWidget(m_dot);
    m_statusText = NativeUi::label(QString(), "NValue");
    m_statusText->setWordWrap(false);
    statusRow->addWidget(m_statusText);
    right->addLayout(statusRow);
    m_note = NativeUi::label(QString(), "NMuted");
    m_note->setAlignment(Qt::AlignRight);
    right->addWidget(m_note);
    header->addLayout(right);
    v->addLayout(header);

    auto* actionsHost = new QWidget;
    auto* flow = new FlowLayout(actionsHost, 8, 8);
    const std::pair<const char*, const char*> defs[] = {
        {"Run diagnostic", "NSecondary"},     {"Fetch device info", "NPrimary"}, {"Get snapshots", "NSecondary"},
        {"Recording calendar", "NSecondary"}, {"Test live", "NSecondary"},       {"Reports", "NSecondary"},
        {"Deactivate", "NDangerText"},
    };
    for (const auto& [text, name] : defs) {
        QPushButton* b = NativeUi::button(QString::fromLatin1(text), name);
        flow->addWidget(b);
        m_actions << b;
    }
    v->addWidget(actionsHost);

    m_tabs = new QTabWidget;
    m_tabs->setDocumentMode(true);
    m_tabs->setAccessibleName(QStringLiteral("Device pages"));
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setAccessibleName(QStringLiteral("Details"));
    m_details = new QWidget;
    m_detailsLayout = new QVBoxLayout(m_details);
    m_detailsLayout->setContentsMargins(0, 16, 6, 8);
    m_detailsLayout->setSpacing(14);
    scroll->setWidget(m_details);
    m_tabs->addTab(scroll, QStringLiteral("Details"));
    m_uptime = new UptimeTab(m_context);
    m_tabs->addTab(m_uptime, QStringLiteral("View uptime"));
    m_cameras = new CamerasTab(m_context);
    m_tabs->addTab(m_cameras, QStringLiteral("Manage cameras"));
    v->addWidget(m_tabs, 1);
    m_stack->addWidget(page);
    m_stack->setCurrentIndex(0);

    connect(m_actions[RunDiagnostic], &QPushButton::clicked, this, [this] { run(false); });
    connect(m_actions[FetchInfo], &QPushButton::clicked, this, [this] { run(true); });
    connect(m_actions[Snapshots], &QPushButton::clicked, this, [this] { openMedia(Snapshots); });
    connect(m_actions[Calendar], &QPushButton::clicked, this, [this] { openMedia(Calendar); });
    connect(m_actions[TestLive], &QPushButton::clicked, this, [this] { openMedia(TestLive); });
    connect(m_actions[Reports], &QPushButton::clicked, this, [this] {
        const QString id = m_id;
        QTimer::singleShot(0, this, [this, id] { Q_EMIT reportRequested(id); });
    });
    connect(m_actions[Enable], &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, this, &DevicePanel::toggleEnabled); });

    auto follow = [this](const QString& id) {
        if (id != m_id || m_id.isEmpty())
            return;
        refreshHeader();
        if (!m_editing)
            rebuildDetails();
    };
    if (m_context.store) {
        connect(m_context.store, &NativeStore::deviceUpdated, this, follow);
        connect(m_context.store, &NativeStore::changed, this, [this] {
            if (!m_id.isEmpty() && !device()) {
                setDevice(QString());
                Q_EMIT deviceGone();
            }
        });
    }
    if (m_context.controller)
        connect(m_context.controller, &NativeController::busyChanged, this,
                [follow](const QString& id, bool) { follow(id); });
}

std::optional<Native::Device> DevicePanel::device() const
{
    return findDevice(m_context, m_id);
}

int DevicePanel::currentPage() const
{
    return m_stack->currentIndex();
}

void DevicePanel::setDevice(const QString& id)
{
    if (id != m_id) {
        m_editing = false;
        m_passwordShown = false;
    }
    m_id = id;
    if (!id.isEmpty() && device()) {
        m_stack->setCurrentIndex(1);
        m_uptime->setDevice(id);
        m_cameras->clearSignature();
        m_cameras->setDevice(id);
        refreshHeader();
        rebuildDetails();
        return;
    }
    m_id.clear();
    m_stack->setCurrentIndex(0);
}

void DevicePanel::refresh()
{
    refreshHeader();
    if (!m_editing)
        rebuildDetails();
}

void DevicePanel::refreshHeader()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const bool busy = m_context.isBusy(m_id);
    m_title->setText(Native::deviceLabel(*d));
    QStringList parts;
    if (!d->siteId.isEmpty()) {
        const QString site = m_context.store->siteName(d->siteId);
        if (!site.isEmpty())
            parts << site;
    }
    parts << QStringLiteral("%1:%2").arg(d->ip).arg(d->httpPort) << d->manufacturer << typeLabel(d->type);
    m_subtitle->setText(parts.join(QStringLiteral("  ·  ")));
    const HeaderStatus s = headerStatus(*d, busy, NativeContext::now());
    m_dot->setState(s.dot);
    m_statusText->setText(s.text);
    m_note->setText(s.note);
    m_note->setVisible(!s.note.isEmpty());
    const bool on = d->enabled;
    m_actions[RunDiagnostic]->setEnabled(on && !busy);
    m_actions[FetchInfo]->setEnabled(on && !busy);
    m_actions[Snapshots]->setEnabled(on);
    m_actions[TestLive]->setEnabled(on);
    m_actions[Calendar]->setEnabled(on);
    m_actions[Calendar]->setVisible(NativeBrand::calendarSupported(*d));
    m_actions[Enable]->setText(on ? QStringLiteral("Deactivate") : QStringLiteral("Activate"));
    const QString tip = on ? QString() : QStringLiteral("This device is deactivated.");
    for (int a : {RunDiagnostic, FetchInfo, Snapshots, Calendar, TestLive})
        m_actions[a]->setToolTip(tip);
}

void DevicePanel::rebuildDetails()
{
    clearLayout(m_detailsLayout);
    m_form = nullptr;
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    if (m_editing) {
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Edit device")));
        auto* form = new DeviceForm(m_context);
        form->setDevice(*d);
        m_form = form;
        m_detailsLayout->addWidget(form);
        auto* row = new QHBoxLayout;
        QPushButton* remove = NativeUi::button(QStringLiteral("Remove device"), "NDangerText");
        QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
        QPushButton* update = NativeUi::button(QStringLiteral("Update"), "NPrimary");
        row->addWidget(remove);
        row->addStretch();
        row->addWidget(cancel);
        row->addWidget(update);
        m_detailsLayout->addLayout(row);
        m_detailsLayout->addStretch();
        connect(remove, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, &DevicePanel::removeDevice); });
        connect(cancel, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, [this] { finishEdit(false); }); });
        connect(update, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, [this] { finishEdit(true); }); });
        return;
    }

    const Native::Health& h = d->health;
    const bool busy = m_context.isBusy(m_id);

    // Diagnostic.
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Diagnostic")));
    auto* tiles = new QWidget;
    auto* flow = new FlowLayout(tiles, 14, 8);
    const QString notChecked = QStringLiteral("Not checked");
    const QString loginUnknown =
        (h.checkedAt.isValid() && h.httpPort == Native::Passed) ? QStringLiteral("Not offered") : notChecked;
    struct Tile {
        const char* caption;
        int state;
        const char* pass;
        const char* fail;
        QString unknown;
    };
    const Tile defs[] = {
        {"Internet", h.internet, "Online", "Offline", notChecked},
        {"HTTP port", h.httpPort, "Open", "Closed", notChecked},
        {"RTSP port", h.rtspPort, "Open", "Closed", notChecked},
        {"Digest login", h.digest, "Passed", "Failed", loginUnknown},
        {"Basic login", h.basic, "Passed", "Failed", loginUnknown},
    };
    for (const Tile& t : defs)
        flow->addWidget(checkTile(
            QString::fromLatin1(t.caption),
            chipOf(checkChip(t.state, QString::fromLatin1(t.pass), QString::fromLatin1(t.fail), t.unknown, busy))));
    flow->addWidget(checkTile(QStringLiteral("Network"), chipOf(networkChip(h, busy))));
    m_detailsLayout->addWidget(tiles);
    if (!busy && !h.error.isEmpty() && h.checkedAt.isValid()) {
        auto* error = new QLabel(h.error);
        error->setObjectName(QStringLiteral("NError"));
        error->setWordWrap(true);
        m_detailsLayout->addWidget(error);
    }

    // Device health.
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Device health")));
    const QString blank = emptyField(h);
    auto text = [&blank](const QString& value, const char* name) {
        return valueLabel(value.isEmpty() ? blank : value, name);
    };
    QWidget* recording = nullptr;
    const ChipText rec = recordingChip(*d);
    if (rec.text.isEmpty())
        recording = valueLabel(QStringLiteral("Not available for this brand"), "NMuted");
    else
        recording = chipOf(rec);
    m_detailsLayout->addWidget(fieldGrid({
        {QStringLiteral("Model"), text(h.model, "NValue")},
        {QStringLiteral("Device name"), text(h.deviceName, "NValue")},
        {QStringLiteral("Serial number"), text(h.serial, "NMono")},
        {QStringLiteral("Firmware"), text(h.firmware, "NValue")},
        {QStringLiteral("MAC address"), text(h.mac, "NMono")},
        {QStringLiteral("Device time (IST)"), text(h.deviceTime, "NMono")},
        {QStringLiteral("Disk"), chipOf(diskChip(h.hdd))},
        {QStringLiteral("Recording kept"), recording},
    }));

    // Site.
    const std::optional<Native::Site> site = m_context.store->site(d->siteId);
    if (site) {
        QPushButton* edit = NativeUi::button(QStringLiteral("Edit site"), "NText");
        const QString siteId = site->id;
        // The site dialog runs a modal loop during which a notice rebuilds
        // these details (and deletes this button): leave the handler first.
        connect(edit, &QPushButton::clicked, this,
                [this, siteId] { QTimer::singleShot(0, this, [this, siteId] { Q_EMIT editSiteRequested(siteId); }); });
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Site"), edit));
        auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("—") : s; };
        m_detailsLayout->addWidget(fieldGrid({
            {QStringLiteral("Site"), valueLabel(site->name, "NValue")},
            {QStringLiteral("Address"), valueLabel(orDash(site->address), "NValue")},
            {QStringLiteral("Contact"), valueLabel(orDash(site->contact), "NValue")},
            {QStringLiteral("Internet provider"), valueLabel(orDash(site->isp), "NValue")},
            {QStringLiteral("SIM notes"), valueLabel(orDash(site->sim), "NValue")},
            {QStringLiteral("Notes"), valueLabel(orDash(site->notes), "NValue")},
        }));
    } else {
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Site")));
        m_detailsLayout->addWidget(
            NativeUi::label(QStringLiteral("This device isn't in a site. Edit the device to choose one."), "NMuted"));
    }

    // Connection.
    QPushButton* edit = NativeUi::button(QStringLiteral("Edit"), "NText");
    edit->setAccessibleName(QStringLiteral("Edit connection"));
    connect(edit, &QPushButton::clicked, this, &DevicePanel::startEdit);
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Connection"), edit));
    auto* pw = new QWidget;
    auto* pwRow = new QHBoxLayout(pw);
    pwRow->setContentsMargins(0, 0, 0, 0);
    pwRow->setSpacing(4);
    const QString pwText = d->password.isEmpty() ? QStringLiteral("—")
        : m_passwordShown                        ? d->password
                                                 : QString(8, QChar(0x2022));
    QLabel* pwLabel = valueLabel(pwText, "NMono");
    pwLabel->setAccessibleName(QStringLiteral("Password"));
    pwRow->addWidget(pwLabel);
    if (!d->password.isEmpty()) {
        QPushButton* toggle =
            NativeUi::button(m_passwordShown ? QStringLiteral("Hide") : QStringLiteral("Show"), "NText");
        toggle->setAccessibleName(m_passwordShown ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
        connect(toggle, &QPushButton::clicked, this, [this] {
            m_passwordShown = !m_passwordShown;
            rebuildLater();
        });
        pwRow->addWidget(toggle);
    }
    pwRow->addStretch();
    QStringList ignored;
    for (int c : d->ignored)
        ignored << QString::number(c);
    m_detailsLayout->addWidget(fieldGrid({
        {QStringLiteral("IP address"), valueLabel(d->ip, "NMono")},
        {QStringLiteral("HTTP port"), valueLabel(QString::number(d->httpPort), "NMono")},
        {QStringLiteral("RTSP port"), valueLabel(QString::number(d->rtspPort), "NMono")},
        {QStringLiteral("Server port"), valueLabel(QString::number(d->serverPort), "NMono")},
        {QStringLiteral("Username"), valueLabel(d->username.isEmpty() ? QStringLiteral("—") : d->username, "NValue")},
        {QStringLiteral("Password"), pw},
        {QStringLiteral("Manufacturer"), valueLabel(d->manufacturer, "NValue")},
        {QStringLiteral("Type"), valueLabel(typeLabel(d->type), "NValue")},
        {QStringLiteral("Channels"), valueLabel(QString::number(d->channels), "NValue")},
        {QStringLiteral("Ignored channels"),
         valueLabel(ignored.isEmpty() ? QStringLiteral("None") : ignored.join(QStringLiteral(", ")), "NValue")},
    }));
    m_detailsLayout->addStretch();
}

void DevicePanel::run(bool fetch)
{
    if (!m_context.controller || m_id.isEmpty())
        return;
    m_context.controller->clearRefused(m_id);
    m_context.controller->run(m_id, fetch ? NativeController::Fetch : NativeController::Diagnose);
}

void DevicePanel::openMedia(int action)
{
    const QString id = m_id;
    QTimer::singleShot(0, this, [this, id, action] {
        const std::optional<Native::Device> d = findDevice(m_context, id);
        if (!d)
            return;
        const NativeMedia::Hooks& hooks = NativeMedia::hooks();
        if (action == Snapshots && hooks.snapshots)
            hooks.snapshots(this, id, 0);
        else if (action == Calendar && hooks.calendar)
            hooks.calendar(this, id);
        else if (action == TestLive && hooks.openLive)
            hooks.openLive(this, id, testLiveChannel(*d));
    });
}

void DevicePanel::toggleEnabled()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const QString id = m_id;
    if (!d->enabled) {
        m_context.store->setEnabled(id, true, QString());
        return;
    }
    QInputDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Deactivate device"));
    dialog.setLabelText(
        QStringLiteral("Checks and uptime history stop until it is activated again.\nReason (optional)"));
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(QString());
    if (Modal::exec(dialog) != QDialog::Accepted)
        return;
    m_context.store->setEnabled(id, false, dialog.textValue().trimmed());
}

void DevicePanel::removeDevice()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const QString id = m_id;
    QMessageBox box(
        QMessageBox::NoIcon, QStringLiteral("Remove device"),
        QStringLiteral("Remove %1? Its camera names and uptime history are deleted from this computer.").arg(Native::deviceLabel(*d)),
        QMessageBox::NoButton, this);
    // Named before the box adds it, so that the style sees the name (the box
    // polishes its buttons as it adds them); Cancel is the default, so that
    // Enter never removes a device.
    auto* remove = new QPushButton(QStringLiteral("Remove"));
    remove->setObjectName(QStringLiteral("NDanger"));
    remove->setAutoDefault(false);
    box.addButton(remove, QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    const int result = Modal::exec(box);
    // A test's answer names the button by its role; a person's click is
    // seen through clickedButton().
    if (box.clickedButton() == remove || result == QMessageBox::DestructiveRole)
        m_context.store->removeDevice(id);
}

void DevicePanel::rebuildLater()
{
    QTimer::singleShot(0, this, [this] {
        if (!m_id.isEmpty())
            rebuildDetails();
    });
}

void DevicePanel::startEdit()
{
    m_editing = true;
    rebuildLater();
}

void DevicePanel::finishEdit(bool save)
{
    if (save && m_form) {
        const QString problem = m_form->problem();
        if (!problem.isEmpty()) {
            NativeUi::info(this, QStringLiteral("Can’t save"), problem);
            return;
        }
        QString error;
        if (!m_context.store->updateDevice(m_form->device(), &error)) {
            NativeUi::info(this, QStringLiteral("Can’t save"), error);
            return;
        }
        if (m_context.controller)
            m_context.controller->clearRefused(m_id);
    }
    m_editing = false;
    refreshHeader();
    rebuildLater();
}

// ---- DeviceDetailsDialog -------------------------------------------------------------------------

DeviceDetailsDialog::DeviceDetailsDialog(const NativeContext& context, const QString& deviceId, QWidget* parent)
    : QDialog(parent),
      m_context(context)
{
    const std::optional<Native::Device> d = findDevice(context, deviceId);
    setWindowTitle(QStringLiteral("Device details · %1").arg(d ? Native::deviceLabel(*d) : QString()));
    setMinimumSize(780, 560);
    resize(980, 800);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    m_panel = new DevicePanel(context);
    m_panel->setObjectName(QStringLiteral("NPaneFlat"));
    m_panel->setDevice(deviceId);
    v->addWidget(m_panel, 1);
    auto* foot = new QFrame;
    foot->setObjectName(QStringLiteral("NFoot"));
    auto* h = new QHBoxLayout(foot);
    h->setContentsMargins(24, 12, 24, 12);
    h->addStretch();
    QPushButton* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    h->addWidget(close);
    v->addWidget(foot);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_panel, &DevicePanel::deviceGone, this, &QDialog::accept);
    connect(m_panel, &DevicePanel::reportRequested, this, [this](const QString& id) {
        ReportDialog dialog(m_context, id, this);
        if (Modal::exec(dialog) == QDialog::Accepted && !dialog.savedPath().isEmpty())
            Q_EMIT toast(QStringLiteral("Report exported"));
    });
    connect(m_panel, &DevicePanel::editSiteRequested, this, [this](const QString& siteId) {
        SiteDialog dialog(m_context, siteId, this);
        if (Modal::exec(dialog) != QDialog::Accepted)
            return;
        m_context.store->updateSite(dialog.site());
        // A site change is announced as a change of the list, not of this
        // device: show the new site details at once.
        m_panel->refresh();
    });
}
