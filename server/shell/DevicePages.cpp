#include "server/shell/DevicePages.h"

#include "app/ui/ColumnFill.h"
#include "app/ui/Fitting.h"
#include "app/ui/LayoutTools.h"
#include "app/ui/Theme.h"
#include "app/ui/WheelGuard.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace kvr::ui;
using namespace kvr::api;

namespace kvr::shell {

namespace {

QPushButton* actionButton(const QString& text, const char* objectName, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

template <typename Label> Label* named(Label* label, const char* objectName)
{
    label->setObjectName(QLatin1String(objectName));
    return label;
}

void repolish(QWidget* w)
{
    w->style()->unpolish(w);
    w->style()->polish(w);
}

// The "state" property the style selects a dot or chip by.
QString stateName(OnlineState state)
{
    return state == OnlineState::Unknown ? QStringLiteral("unknown")
        : state == OnlineState::Online   ? QStringLiteral("online")
                                         : QStringLiteral("offline");
}

} // namespace

DevicePage::DevicePage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ContentPad"));
    setAttribute(Qt::WA_StyledBackground);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(28, 24, 28, 24);
    v->setSpacing(14);

    // The actions move under the title when the page is narrow; a long
    // device or site name is shortened with its whole text in a tool tip.
    auto* header = new WrapRow(nullptr, 8, 10);
    auto* titleWidget = new QWidget(this);
    auto* titleBlock = new QVBoxLayout(titleWidget);
    titleBlock->setContentsMargins(0, 0, 0, 0);
    titleBlock->setSpacing(4);
    m_title = named(new ElidedLabel(titleWidget), "ScreenTitle");
    titleBlock->addWidget(m_title);
    auto* line = new QHBoxLayout();
    line->setSpacing(10);
    m_subtitle = named(new ElidedLabel(titleWidget), "Muted");
    line->addWidget(m_subtitle, 1);
    m_chip = named(new QLabel(titleWidget), "Chip");
    line->addWidget(m_chip, 0, Qt::AlignVCenter);
    m_meta = named(new QLabel(titleWidget), "Muted");
    line->addWidget(m_meta);
    line->addStretch();
    titleBlock->addLayout(line);
    header->addLeading(titleWidget);
    m_grid = actionButton(QStringLiteral("Play all channels"), "Secondary", this);
    m_health = actionButton(QStringLiteral("Check health"), "Secondary", this);
    m_live = actionButton(QStringLiteral("Live"), "Primary", this);
    m_live->setIcon(Theme::icon(Theme::Icon::Play, Theme::colour(Theme::Colour::White), 16));
    m_playback = actionButton(QStringLiteral("Device playback"), "Secondary", this);
    m_cloud = actionButton(QStringLiteral("Cloud playback"), "Secondary", this);
    for (QPushButton* b : {m_grid, m_health, m_live, m_playback, m_cloud})
        header->addTrailing(b);
    v->addLayout(header);

    // A recorder of many channels lists more rows than the page is high:
    // the list scrolls, and each row keeps its height.
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("ChannelList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus); // the rows take the keyboard, one by one
    WheelGuard::guard(m_scroll);
    m_list = new QWidget(m_scroll);
    m_list->setObjectName(QStringLiteral("ChannelRows"));
    auto* rows = new QVBoxLayout(m_list);
    rows->setContentsMargins(0, 10, 0, 0);
    rows->setSpacing(0);
    m_listLayout = new QVBoxLayout();
    m_listLayout->setSpacing(8);
    rows->addLayout(m_listLayout);
    rows->addStretch();
    m_scroll->setWidget(m_list);
    v->addWidget(m_scroll, 1);

    connect(m_grid, &QPushButton::clicked, this, &DevicePage::openGrid);
    connect(m_health, &QPushButton::clicked, this, &DevicePage::checkHealth);
    connect(m_live, &QPushButton::clicked, this, &DevicePage::openLive);
    connect(m_playback, &QPushButton::clicked, this, &DevicePage::openDevicePlayback);
    connect(m_cloud, &QPushButton::clicked, this, &DevicePage::openCloudPlayback);
}

QString DevicePage::homeText(bool noDevices, const QString& message)
{
    if (!message.isEmpty())
        return message;
    return noDevices ? QStringLiteral("No devices are assigned to this account.")
                     : QStringLiteral("Select a camera to start live view.");
}

QString DevicePage::currentChannelFor(const Device& device, const QString& channelId)
{
    if (device.channels.isEmpty())
        return channelId;
    for (const Channel& c : device.channels)
        if (c.id == channelId)
            return channelId;
    return device.channels.first().id;
}

void DevicePage::clearList()
{
    emptyLayout(m_listLayout, OldWidgets::DeletedLater);
}

void DevicePage::showHome(const QString& title, bool noDevices, const QString& message)
{
    for (QWidget* w : std::initializer_list<QWidget*>{m_grid, m_health, m_live, m_playback, m_cloud, m_chip})
        w->hide();
    m_title->setFullText(title);
    m_subtitle->setFullText(QString());
    m_meta->clear();
    clearList();
    m_listLayout->addSpacing(120);
    auto* text = named(new QLabel(homeText(noDevices, message), m_list), "Muted");
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setStyleSheet(QStringLiteral("font-size: 15px;"));
    m_listLayout->addWidget(text);
}

void DevicePage::showDevice(const Device& device, const Site& site, const QString& channelId)
{
    m_health->hide();
    m_live->show();
    m_playback->show();
    m_cloud->show();
    m_grid->setVisible(device.channels.size() > 1);
    m_title->setFullText(device.name);
    m_subtitle->setFullText(site.name);
    const OnlineState state = device.onlineState();
    m_chip->setVisible(state != OnlineState::Unknown);
    if (state != OnlineState::Unknown) {
        m_chip->setText(state == OnlineState::Online ? QStringLiteral("Online") : QStringLiteral("Offline"));
        m_chip->setProperty("state", stateName(state));
        repolish(m_chip);
    }
    // The catalogue's check times are written as the organisation's own clock shows them.
    m_meta->setText(device.checkedAt.isValid()
                        ? QStringLiteral("Last checked  %1 IST").arg(device.checkedAt.toString(QStringLiteral("HH:mm")))
                        : QString());
    m_currentChannel = currentChannelFor(device, channelId);

    clearList();
    m_scroll->verticalScrollBar()->setValue(0);
    for (const Channel& c : device.channels) {
        auto* row = new QPushButton(m_list);
        row->setObjectName(QStringLiteral("ChannelRow"));
        row->setCursor(Qt::PointingHandCursor);
        row->setProperty("selected", c.id == m_currentChannel);
        row->setAccessibleName(c.name);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(16, 0, 14, 0);
        h->setSpacing(10);
        auto* dot = named(new QLabel(row), "Dot");
        dot->setProperty("state", stateName(c.onlineState()));
        h->addWidget(dot);
        h->addWidget(new QLabel(c.name, row));
        h->addWidget(named(new QLabel(QStringLiteral("Channel %1").arg(c.number), row), "Muted"));
        h->addStretch();
        if (c.recordingEnabled)
            h->addWidget(named(new QLabel(QStringLiteral("Cloud recording on"), row), "Chip"), 0, Qt::AlignVCenter);
        for (QLabel* l : row->findChildren<QLabel*>())
            l->setAttribute(Qt::WA_TransparentForMouseEvents);
        const QString id = c.id;
        connect(row, &QPushButton::clicked, this, [this, id] { Q_EMIT channelPicked(id); });
        m_listLayout->addWidget(row);
    }
    setActionsEnabled(!m_currentChannel.isEmpty());
}

void DevicePage::setActionsEnabled(bool hasChannel)
{
    for (QPushButton* b : {m_live, m_playback, m_cloud}) {
        b->setEnabled(hasChannel);
        b->setToolTip(hasChannel ? QString() : QStringLiteral("Select a channel."));
    }
}

HealthPage::HealthPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ContentPad"));
    setAttribute(Qt::WA_StyledBackground);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(24, 24, 24, 24);
    auto* header = new QHBoxLayout();
    m_title = named(new ElidedLabel(QStringLiteral("Health"), this), "ScreenTitle");
    header->addWidget(m_title, 1);
    auto* back = actionButton(QStringLiteral("Back"), "TextBtn", this);
    auto* refresh = actionButton(QStringLiteral("Refresh"), "Primary", this);
    header->addWidget(back);
    header->addWidget(refresh);
    v->addLayout(header);
    m_table = new QTableWidget(0, 3, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Result"), QStringLiteral("Detail")});
    // The detail takes what the check and its result leave; each column
    // widens by its own edge.
    ColumnFill::keep(m_table, {{2, 0}});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setAccessibleName(QStringLiteral("Health checks"));
    v->addWidget(m_table);
    connect(refresh, &QPushButton::clicked, this, &HealthPage::refreshRequested);
    connect(back, &QPushButton::clicked, this, &HealthPage::backRequested);
}

void HealthPage::setTitle(const QString& name)
{
    m_title->setFullText(QStringLiteral("Health  ·  %1").arg(name));
}

QString HealthPage::resultText(int state)
{
    switch (state) {
    case HealthRow::Pass:
        return QStringLiteral("Pass");
    case HealthRow::Fail:
        return QStringLiteral("Fail");
    default:
        return QStringLiteral("Unknown");
    }
}

void HealthPage::setRows(const QList<HealthRow>& rows)
{
    m_table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const HealthRow& r = rows.at(i);
        m_table->setItem(i, 0, new QTableWidgetItem(r.label));
        auto* result = new QTableWidgetItem(resultText(r.state));
        result->setForeground(Theme::colour(r.state == HealthRow::Pass       ? Theme::Colour::HealthPass
                                                : r.state == HealthRow::Fail ? Theme::Colour::HealthFail
                                                                             : Theme::Colour::HealthUnknown));
        m_table->setItem(i, 1, result);
        m_table->setItem(i, 2, new QTableWidgetItem(r.detail));
        m_table->setRowHeight(i, 44);
    }
}

} // namespace kvr::shell
