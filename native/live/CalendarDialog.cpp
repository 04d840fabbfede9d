#include "native/live/CalendarDialog.h"

#include "app/core/Clock.h"
#include "app/core/ShownText.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/ScreenFit.h"
#include "native/live/MonthGrid.h"
#include "native/live/StreamDialog.h"
#include "native/live/Tunables.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"
#include "native/services/Brands.h"
#include "native/services/CalendarDaySearch.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

CalendarDialog::CalendarDialog(const QString& deviceId, QWidget* parent) : QDialog(parent), m_deviceId(deviceId)
{
    const QDate now = today();
    m_month = QDate(now.year(), now.month(), 1);
    const std::optional<Native::Device> device = NativeStore::instance().device(deviceId);
    const QString site = device ? kvr::core::shownText(NativeStore::instance().siteName(device->siteId)) : QString();
    const QString title =
        CalendarRules::windowTitle(device.has_value(), site, device ? Native::deviceLabel(*device) : QString());
    setWindowTitle(title);
    ScreenFit::keepWithin(this, QSize());
    resize(ScreenFit::bounded(this, QSize(900, 640)));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 22, 24, 20);
    outer->setSpacing(14);
    outer->addWidget(NativeUi::label(title, "NScreenTitle"));
    auto* columns = new QHBoxLayout;
    columns->setSpacing(20);
    outer->addLayout(columns, 1);

    auto* left = new QVBoxLayout;
    left->setSpacing(10);
    auto* nav = new QHBoxLayout;
    nav->setSpacing(6);
    m_prev = NativeUi::button(QStringLiteral("\u2039"), "NSecondary");
    m_prev->setFixedWidth(40);
    m_prev->setAccessibleName(QStringLiteral("Previous month"));
    m_prev->setToolTip(QStringLiteral("Previous month"));
    m_next = NativeUi::button(QStringLiteral("\u203a"), "NSecondary");
    m_next->setFixedWidth(40);
    m_next->setAccessibleName(QStringLiteral("Next month"));
    m_next->setToolTip(QStringLiteral("Next month"));
    m_monthLabel = NativeUi::label(QString(), "NSection");
    m_monthLabel->setWordWrap(false);
    m_channelBox = new QComboBox(this);
    m_channelBox->setAccessibleName(QStringLiteral("Camera"));
    m_streamBox = new QComboBox(this);
    m_streamBox->setAccessibleName(QStringLiteral("Stream"));
    nav->addWidget(m_prev);
    nav->addWidget(m_next);
    nav->addSpacing(6);
    nav->addWidget(m_monthLabel, 1);
    nav->addWidget(m_channelBox);
    nav->addWidget(m_streamBox);
    left->addLayout(nav);
    m_coverageLabel = NativeUi::label(QString(), "NValue");
    left->addWidget(m_coverageLabel);
    m_coverageBar = new QProgressBar(this);
    m_coverageBar->setRange(0, 100);
    m_coverageBar->setTextVisible(false);
    m_coverageBar->setAccessibleName(QStringLiteral("Recording coverage"));
    left->addWidget(m_coverageBar);
    m_banner = new QFrame(this);
    m_banner->setObjectName(QStringLiteral("NBanner"));
    auto* bannerRow = new QHBoxLayout(m_banner);
    bannerRow->setContentsMargins(12, 8, 12, 8);
    m_bannerLabel = new QLabel(m_banner);
    m_bannerLabel->setWordWrap(true);
    m_bannerLabel->setStyleSheet(QStringLiteral("color: #b91c1c; font-size: 13px;"));
    bannerRow->addWidget(m_bannerLabel);
    m_banner->hide();
    left->addWidget(m_banner);
    m_grid = new MonthGrid(this);
    left->addWidget(m_grid, 1);
    m_note = NativeUi::label(QString(), "NMuted");
    m_note->setWordWrap(true);
    left->addWidget(m_note);
    columns->addLayout(left, 3);

    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    m_dayTitle = NativeUi::label(QStringLiteral("Pick a day"), "NSection");
    right->addWidget(m_dayTitle);
    m_dayStatus = NativeUi::label(QString(), "NMuted");
    m_dayStatus->setWordWrap(true);
    right->addWidget(m_dayStatus);
    m_clipList = new QListWidget(this);
    m_clipList->setAccessibleName(QStringLiteral("Recordings"));
    // The day's recordings read whole: the list is as wide as its longest
    // line can be, and never scrolls sideways.
    m_clipList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_clipList->ensurePolished();
    const QDate day(2000, 1, 1);
    m_clipList->setMinimumWidth(m_clipList->fontMetrics().horizontalAdvance(CalendarRules::clipRow(
                                    {QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(23, 59, 59))}))
                                + tun::kClipListChrome_px);
    m_clipList->setStyleSheet(QStringLiteral(
        "QListWidget { background: #ffffff; border: 1px solid #e9ecef; border-radius: 10px; padding: 4px; outline: 0; }"
        "QListWidget::item { padding: 8px 10px; border-radius: 6px; }"
        "QListWidget::item:selected { background: rgba(0,74,173,0.08); color: #004aad; }"));
    right->addWidget(m_clipList, 1);
    m_play = NativeUi::button(QStringLiteral("Play"), "NPrimary");
    m_play->setEnabled(false);
    right->addWidget(m_play);
    columns->addLayout(right, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    outer->addLayout(buttons);

    if (device) {
        for (const Native::Camera& c : device->cameras) {
            if (device->isIgnored(c.channelId))
                continue;
            m_channelBox->addItem(QStringLiteral("%1  %2").arg(c.channelId).arg(Native::cameraLabel(c)), c.channelId);
        }
    }
    m_streamBox->addItem(QStringLiteral("Main"), true);
    m_streamBox->addItem(QStringLiteral("Sub"), false);
    // The camera's drop-down never takes the day's column: a long name is
    // shortened, whole in its tool tip.
    fitItemsApart(m_channelBox, tun::kCalendarCameraText_px);

    connect(m_prev, &QPushButton::clicked, this, &CalendarDialog::previousMonth);
    connect(m_next, &QPushButton::clicked, this, &CalendarDialog::nextMonth);
    connect(m_channelBox, &QComboBox::currentIndexChanged, this, &CalendarDialog::onChannelChanged);
    connect(m_streamBox, &QComboBox::currentIndexChanged, this, &CalendarDialog::onStreamChanged);
    connect(m_grid, &MonthGrid::dayClicked, this, &CalendarDialog::selectDay);
    connect(m_play, &QPushButton::clicked, this, &CalendarDialog::playSelected);
    connect(m_clipList, &QListWidget::itemDoubleClicked, this, &CalendarDialog::playSelected);
    // Enter and Space on a recording play it, as a double-click does.
    ItemKeys::install(m_clipList,
                      [this](const QModelIndex&) { QTimer::singleShot(0, this, &CalendarDialog::playSelected); });
    connect(m_clipList, &QListWidget::currentRowChanged, this, &CalendarDialog::updatePlay);
    // Enter plays the chosen recording (nothing until there is one), never
    // turns the month.
    ui::setEnterButton(this, m_play);

    if (device && NativeBrand::calendarSupported(*device)) {
        if (device->health.device != Native::Passed)
            m_note->setText(
                QStringLiteral("The device hasn't answered yet. Run a diagnostic first if this stays empty."));
        reload();
    } else {
        m_note->setText(QStringLiteral("This brand has no recording calendar yet."));
        m_channelBox->setEnabled(false);
        m_streamBox->setEnabled(false);
        m_prev->setEnabled(false);
        m_next->setEnabled(false);
        m_coverageLabel->setText(QStringLiteral("Not available"));
    }
}

QDate CalendarDialog::today() const
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime().date();
}

int CalendarDialog::channel() const
{
    const int c = m_channelBox->currentData().toInt();
    return c >= 1 ? c : 1;
}

bool CalendarDialog::mainStream() const
{
    return m_streamBox->currentData().toBool();
}

QDate CalendarDialog::windowStart() const
{
    return CalendarRules::windowStart(today(), NativeController::windowDays());
}

CalendarRules::MonthKey CalendarDialog::keyFor(const QDate& month) const
{
    return CalendarRules::MonthKey{channel(), mainStream(), month.year(), month.month()};
}

bool CalendarDialog::isKnown(const QDate& month) const
{
    return m_cache.contains(keyFor(month));
}

void CalendarDialog::reload()
{
    if (!NativeStore::instance().hasDevice(m_deviceId))
        return;
    const RequestTicket ticket = m_reloads.issue();
    m_lastError.clear();
    m_monthLabel->setText(CalendarRules::english().toString(m_month, QStringLiteral("MMMM yyyy")));
    showMonth();
    m_coverageLabel->setText(QStringLiteral("Checking"));
    m_coverageBar->setValue(0);
    m_banner->hide();
    const QList<QDate> months = CalendarRules::monthsToKnow(m_month, today(), windowStart());
    ensureMonths(months, ticket, [this, ticket] {
        if (!ticket.current())
            return;
        showMonth();
        updateCoverage();
    });
}

void CalendarDialog::ensureMonths(const QList<QDate>& months, const RequestTicket& ticket, std::function<void()> done)
{
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    const auto missing = std::find_if(months.begin(), months.end(), [this](const QDate& m) { return !isKnown(m); });
    if (missing == months.end()) {
        done();
        return;
    }
    const CalendarRules::MonthKey key = keyFor(*missing);
    ++m_monthRequests;
    NativeCalendar::month(*device, key.channel, key.main, key.year, key.month,
                          [this, ticket, key, months, done](const QSet<int>& days, const QString& error) {
                              if (!ticket.current())
                                  return;
                              if (error.isEmpty()) {
                                  m_cache.insert(key, days);
                                  ensureMonths(months, ticket, done);
                                  return;
                              }
                              m_lastError = error;
                              m_note->setText(error);
                              done();
                          });
}

void CalendarDialog::showMonth()
{
    const auto it = m_cache.constFind(keyFor(m_month));
    const bool known = it != m_cache.constEnd();
    m_grid->setMonth(m_month, known ? *it : QSet<int>(), known, windowStart());
    if (known && m_lastError.isEmpty())
        m_note->clear();
}

void CalendarDialog::updateCoverage()
{
    const CalendarRules::Coverage c = CalendarRules::coverage(today(), NativeController::windowDays(),
                                                              [this](const QDate& month) -> std::optional<QSet<int>> {
                                                                  const auto it = m_cache.constFind(keyFor(month));
                                                                  if (it == m_cache.constEnd())
                                                                      return std::nullopt;
                                                                  return *it;
                                                              });
    m_coverageLabel->setText(CalendarRules::coverageText(c));
    if (!c.known) {
        m_coverageBar->setValue(0);
        m_banner->hide();
        return;
    }
    m_coverageBar->setValue(c.percent);
    m_coverageBar->setProperty("level", CalendarRules::levelName(c.level));
    NativeStyle::repolish(m_coverageBar);
    const QString banner = CalendarRules::missingBanner(c.missing);
    m_bannerLabel->setText(banner);
    m_banner->setVisible(!banner.isEmpty());
}

void CalendarDialog::previousMonth()
{
    m_month = m_month.addMonths(-1);
    reload();
}

void CalendarDialog::nextMonth()
{
    const QDate next = m_month.addMonths(1);
    if (next > today())
        return;
    m_month = next;
    reload();
}

void CalendarDialog::onChannelChanged()
{
    m_selected = QDate();
    m_grid->setSelected(QDate());
    m_clips.clear();
    m_clipList->clear();
    m_dayTitle->setText(QStringLiteral("Pick a day"));
    m_dayStatus->clear();
    m_days.supersede(); // an answer for the previous camera is no longer wanted
    reload();
}

void CalendarDialog::onStreamChanged()
{
    if (m_selected.isValid())
        selectDay(m_selected);
    reload();
}

void CalendarDialog::selectDay(const QDate& day)
{
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    m_selected = day;
    const QDate first(day.year(), day.month(), 1);
    const bool otherMonth = first != m_month;
    m_month = first;
    m_grid->setSelected(day);
    if (otherMonth)
        reload();
    m_dayTitle->setText(CalendarRules::english().toString(day, QStringLiteral("dddd d MMMM")));
    m_clips.clear();
    m_clipList->clear();
    m_play->setEnabled(false);
    const RequestTicket ticket = m_days.issue();
    m_dayStatus->setText(QStringLiteral("Checking"));
    NativeCalendar::day(
        *device, channel(), mainStream(), day,
        [this, ticket](const QList<NativeCalendar::Clip>& clips, const QString& error) {
            if (!ticket.current())
                return;
            if (!error.isEmpty()) {
                m_dayStatus->setText(error);
                return;
            }
            m_clips = CalendarRules::mergeClips(clips);
            const std::optional<Native::Device> now = NativeStore::instance().device(m_deviceId);
            const bool playable = now && NativeBrand::playbackSupported(*now);
            m_dayStatus->setText(CalendarRules::dayStatus(
                int(m_clips.size()), playable, now ? NativeBrand::playbackUnsupportedReason(*now) : QString()));
            for (const NativeCalendar::Clip& c : std::as_const(m_clips))
                m_clipList->addItem(CalendarRules::clipRow(c));
            if (playable && !m_clips.isEmpty())
                m_clipList->setCurrentRow(0);
            updatePlay();
        });
}

void CalendarDialog::updatePlay()
{
    const int row = m_clipList->currentRow();
    m_play->setEnabled(row >= 0 && row < m_clips.size());
}

void CalendarDialog::playSelected()
{
    const int row = m_clipList->currentRow();
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (row < 0 || row >= m_clips.size() || !device)
        return;
    const NativeCalendar::Clip clip = m_clips.at(row);
    const int c = channel();
    const bool main = mainStream();
    QPointer<CalendarDialog> self(this);
    // Out of the clicked widget's handler: the stream dialog runs a modal loop.
    QTimer::singleShot(0, this, [self, device, clip, c, main] {
        if (!self)
            return;
        if (NativeBrand::playbackSupported(*device))
            StreamDialog::openPlayback(self, self->m_deviceId, c, main, clip.start, clip.end);
        else
            NativeUi::info(self, QStringLiteral("Can\u2019t play this recording"),
                           NativeBrand::playbackUnsupportedReason(*device));
    });
}

} // namespace kvr::live
