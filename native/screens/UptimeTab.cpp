#include "native/screens/UptimeTab.h"

#include "native/screens/DevicePanelRules.h"
#include "native/screens/NativeUi.h"
#include "native/screens/Tunables.h"
#include "native/screens/UptimeCharts.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::services;

namespace kvr::screens {

using namespace NativeStyle;
using namespace DevicePanelRules;

namespace {

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

} // namespace

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
    NativeStyle::captionChip(m_chip, QStringLiteral("Uptime"));
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
    m_timer->setInterval(kvr::screens::tun::kUptimeRefresh);
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
    const ChipText chip = DevicePanelRules::percentChip(percent);
    NativeStyle::setChip(m_chip, chip.text, chip.kind);
    if (percent < 0) {
        m_empty->setText(
            QStringLiteral("No uptime history yet. Keep the app open or run Fetch so samples can accumulate."));
        m_empty->show();
    } else {
        m_empty->hide();
    }
}

} // namespace kvr::screens
