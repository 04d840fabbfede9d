#include "native/screens/NativeWindow.h"

#include "app/core/Settings.h"
#include "app/ui/ClearButton.h"
#include "app/ui/ColumnFill.h"
#include "app/ui/Fitting.h"
#include "app/ui/MenuButtons.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "app/ui/WheelGuard.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/LiveWallPage.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeFiles.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"
#include "native/screens/NoticeStrip.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/SettingsDialog.h"
#include "native/screens/StatCard.h"
#include "native/screens/Tunables.h"
#include "native/screens/VigiloOverview.h"
#include "native/services/ConnectionGate.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

using namespace FleetRules;

namespace {

namespace tun = kvr::screens::tun;

QComboBox* combo(const QStringList& items, const QString& accessibleName)
{
    auto* c = new QComboBox;
    c->addItems(items);
    c->setAccessibleName(accessibleName);
    return c;
}

} // namespace

NativeWindow::NativeWindow(QWidget* parent) : NativeWindow(NativeContext::live(), parent) {}

NativeWindow::NativeWindow(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    build();
    rebuild();
    updateLiveEvents();
}

NativeWindow::~NativeWindow() = default;

void NativeWindow::build()
{
    setObjectName(QStringLiteral("NRoot"));
    setWindowTitle(QStringLiteral("Vigilo"));
    setStyleSheet(NativeStyle::stylesheet());
    NativeStyle::keepHintsReadable(this);
    ScreenFit::keepWithin(this, QSize(1280, 720));

    m_rebuildTimer = new QTimer(this);
    m_rebuildTimer->setSingleShot(true);
    // Never early: data rebuilds must start at least a second apart.
    m_rebuildTimer->setTimerType(Qt::PreciseTimer);
    m_rebuildTimer->setInterval(kFilterDelay);
    connect(m_rebuildTimer, &QTimer::timeout, this, &NativeWindow::rebuild);
    // One filter pass for all the filter changes of one turn of the event
    // loop (clearing the filters changes several at once).
    m_filterTimer = new QTimer(this);
    m_filterTimer->setSingleShot(true);
    m_filterTimer->setInterval(0);
    connect(m_filterTimer, &QTimer::timeout, this, &NativeWindow::showFilters);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildTopBar());
    m_pages = new QStackedWidget;
    m_pages->addWidget(buildFleetPage());
    m_wall = new LiveWallPage;
    m_pages->addWidget(m_wall);
    connect(m_wall, &LiveWallPage::openVigiloRequested, this, [this] { setPage(0); });
    root->addWidget(m_pages, 1);

    m_toast = new Toast(this);

    // The process-wide services may end before this window does (at quit):
    // from then on the window leaves them alone.
    if (m_context.store)
        connect(m_context.store, &QObject::destroyed, this, [this] {
            m_context.store = nullptr;
            m_rebuildTimer->stop();
        });
    if (m_context.controller)
        connect(m_context.controller, &QObject::destroyed, this, [this] { m_context.controller = nullptr; });
    if (m_context.events)
        connect(m_context.events, &QObject::destroyed, this, [this] { m_context.events = nullptr; });

    // Each notice marks what it changed for the next rebuild, which works
    // out only those devices again.
    if (m_context.store) {
        connect(m_context.store, &NativeStore::changed, this, [this] {
            m_cache.markLists();
            scheduleDataRebuild();
        });
        // The history read from its file changes every device's figures.
        connect(m_context.store, &NativeStore::uptimeLoaded, this, [this] {
            m_cache.markAll();
            scheduleDataRebuild();
        });
        connect(m_context.store, &NativeStore::deviceUpdated, this, [this](const QString& id) {
            m_cache.mark(id);
            scheduleDataRebuild();
        });
    }
    if (m_context.controller) {
        connect(m_context.controller, &NativeController::busyChanged, this, [this](const QString& id) {
            m_cache.mark(id);
            if (!m_holdBusy)
                refreshBusy();
            scheduleDataRebuild();
        });
    }
    if (m_context.events) {
        connect(m_context.events, &NativeEvents::linksChanged, this, [this] {
            m_cache.markLinks();
            updateLiveEvents();
            scheduleDataRebuild();
        });
        connect(m_context.events, &NativeEvents::eventReceived, this, [this](const NativeEvents::Event& e) {
            m_cache.mark(e.deviceId);
            scheduleDataRebuild();
        });
    }
    m_busyPace = new QTimer(this);
    m_busyPace->setSingleShot(true);
    m_busyPace->setInterval(tun::kBusyTextPace);
    connect(m_busyPace, &QTimer::timeout, this, &NativeWindow::refreshBusy);
    m_minuteTimer = new QTimer(this);
    m_minuteTimer->setInterval(tun::kMinuteTick);
    connect(m_minuteTimer, &QTimer::timeout, this, [this] {
        m_cache.markClock(); // relative times move on
        scheduleDataRebuild();
    });
    m_minuteTimer->start();
    watchFiles();
}

QWidget* NativeWindow::buildTopBar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("NTopBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setFixedHeight(64);
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(24, 0, 24, 0);
    h->setSpacing(10);

    auto* mark = new QLabel;
    mark->setPixmap(Theme::rounded(QPixmap(QStringLiteral(":/brand/mark.png")), 32, 8));
    mark->setAccessibleName(QStringLiteral("Vigilo"));
    h->addWidget(mark);
    auto* title = new QLabel(QStringLiteral("Vigilo"));
    title->setObjectName(QStringLiteral("NTitle"));
    h->addWidget(title);
    h->addSpacing(16);

    auto* nav = new QFrame;
    nav->setObjectName(QStringLiteral("NNav"));
    nav->setFixedHeight(40);
    auto* navRow = new QHBoxLayout(nav);
    navRow->setContentsMargins(3, 3, 3, 3);
    navRow->setSpacing(2);
    auto* group = new QButtonGroup(nav);
    group->setExclusive(true);
    m_navVigilo = new QPushButton(QStringLiteral("Vigilo"));
    m_navVms = new QPushButton(QStringLiteral("VMS"));
    for (QPushButton* b : {m_navVigilo, m_navVms}) {
        b->setObjectName(QStringLiteral("NNavBtn"));
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        group->addButton(b);
        navRow->addWidget(b);
    }
    m_navVigilo->setChecked(true);
    connect(m_navVigilo, &QPushButton::clicked, this, [this] { setPage(0); });
    connect(m_navVms, &QPushButton::clicked, this, [this] { setPage(1); });
    h->addWidget(nav);
    h->addSpacing(8);

    QLabel* chip = NativeStyle::chip(QStringLiteral("Native · offline"), NativeStyle::Chip::Info);
    chip->setToolTip(QStringLiteral("Works directly with devices on this network. Nothing is sent to a server."));
    h->addWidget(chip);
    h->addStretch();

    QPushButton* addSite = NativeUi::button(QStringLiteral("Add site"), "NSecondary");
    QPushButton* addDevice = NativeUi::button(QStringLiteral("Add device"), "NPrimary");
    QPushButton* import = NativeUi::button(QStringLiteral("Import CSV"), "NSecondary");
    m_importButton = import;
    QPushButton* reports = NativeUi::button(QStringLiteral("Reports"), "NSecondary");
    QPushButton* settings = NativeUi::button(QStringLiteral("Settings"), "NSecondary");
    QPushButton* leave = NativeUi::button(QStringLiteral("Use server sign-in"), "NText");
    auto* menu = new QMenu(import);
    menu->addAction(QStringLiteral("Import devices from CSV…"), this, [this] { later(&NativeWindow::importCsv); });
    menu->addAction(QStringLiteral("Save a sample CSV…"), this, [this] { later(&NativeWindow::saveSampleCsv); });
    MenuButtons::attach(import, menu);
    // Room at the right for the sheet's chevron, which says a menu opens.
    import->setProperty("menuButton", true);
    m_pageButtons = {addSite, addDevice, import, reports};
    for (QPushButton* b : {addSite, addDevice, import, reports, settings})
        h->addWidget(b);
    h->addSpacing(6);
    h->addWidget(leave);

    connect(addSite, &QPushButton::clicked, this, [this] { later(&NativeWindow::addSite); });
    connect(addDevice, &QPushButton::clicked, this, [this] { later(&NativeWindow::addDevice); });
    connect(reports, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, this, [this] { openReports(m_selectedId); }); });
    connect(settings, &QPushButton::clicked, this, [this] { later(&NativeWindow::openSettings); });
    connect(leave, &QPushButton::clicked, this, &NativeWindow::useServerSignIn);
    return bar;
}

QWidget* NativeWindow::buildFleetPage()
{
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAccessibleName(QStringLiteral("Fleet"));
    // Scrolled past, the filters keep what the person chose.
    WheelGuard::guard(scroll);
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(24, 20, 24, 20);
    v->setSpacing(16);

    // What became of the program's own files, when something did.
    m_notices = new NoticeStrip;
    v->addWidget(m_notices);

    // Cards.
    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    struct CardDef {
        const char* label;
        QColor accent;
        bool clickable;
    };
    const CardDef defs[kCardCount] = {
        {"Devices", NativeStyle::kPrimary, true},         {"Online", NativeStyle::kSuccess, true},
        {"Offline", NativeStyle::kDanger, true},          {"Cameras offline", NativeStyle::kDanger, false},
        {"Internet issues", NativeStyle::kWarning, true}, {"Disk faults", NativeStyle::kInfo, false},
    };
    for (int i = 0; i < kCardCount; ++i) {
        m_cards[size_t(i)] = new StatCard(QString::fromLatin1(defs[i].label), defs[i].accent, defs[i].clickable);
        cards->addWidget(m_cards[size_t(i)], 1);
    }
    connect(m_cards[CardDevices], &StatCard::clicked, this, &NativeWindow::clearFilters);
    connect(m_cards[CardOnline], &StatCard::clicked, this, [this] { setCardFilter(OnlineOnly, AllInternet); });
    connect(m_cards[CardOffline], &StatCard::clicked, this, [this] { setCardFilter(OfflineOnly, AllInternet); });
    connect(m_cards[CardInternetIssues], &StatCard::clicked, this,
            [this] { setCardFilter(AllStatuses, FleetRules::InternetIssues); });
    v->addLayout(cards);

    // Overview.
    m_overview = new VigiloOverview(m_context);
    m_overview->setVisible(Prefs::get(Prefs::kNativeOverview));
    connect(m_overview, &VigiloOverview::openDevice, this, &NativeWindow::openDetails);
    connect(m_overview, &VigiloOverview::siteClicked, this, &NativeWindow::onSiteClicked);
    v->addWidget(m_overview);

    // Filters.
    // The row wraps onto a second line on a narrow window; the search field
    // keeps room for its whole hint, and "Checking N" keeps its room while
    // nothing is being checked, so nothing beside it moves when it shows.
    auto* filters = new WrapRow(nullptr, 8, 8);
    m_search = new QLineEdit;
    m_search->setPlaceholderText(QStringLiteral("Search site, device or IP"));
    giveClearButton(m_search);
    m_search->setAccessibleName(QStringLiteral("Search"));
    fitPlaceholder(m_search);
    filters->addLeading(m_search);
    m_status = combo({QStringLiteral("All statuses"), QStringLiteral("Online"), QStringLiteral("Offline"),
                      QStringLiteral("Not checked"), QStringLiteral("Deactivated")},
                     QStringLiteral("Status filter"));
    m_brand = new QComboBox;
    m_brand->setAccessibleName(QStringLiteral("Brand filter"));
    m_brand->addItem(QStringLiteral("All brands"), QString());
    m_internet = combo(
        {QStringLiteral("All internet"), QStringLiteral("Online"), QStringLiteral("Offline"), QStringLiteral("Issues")},
        QStringLiteral("Internet filter"));
    m_network = combo({QStringLiteral("All networks"), QStringLiteral("Good"), QStringLiteral("Degraded"),
                       QStringLiteral("Poor"), QStringLiteral("Not checked")},
                      QStringLiteral("Network filter"));
    for (QComboBox* c : {m_status, m_brand, m_internet, m_network}) {
        filters->addLeading(c);
        connect(c, &QComboBox::currentIndexChanged, this, &NativeWindow::scheduleRebuild);
    }
    connect(m_search, &QLineEdit::textChanged, this, &NativeWindow::scheduleRebuild);
    m_clearFilters = NativeUi::button(QStringLiteral("Clear filters"), "NText");
    m_clearFilters->hide();
    connect(m_clearFilters, &QPushButton::clicked, this, &NativeWindow::clearFilters);
    filters->addLeading(m_clearFilters);
    m_liveEvents = new QLabel;
    m_liveEvents->setObjectName(QStringLiteral("NMuted"));
    filters->addTrailing(m_liveEvents);
    m_events = NativeUi::button(QStringLiteral("Events"), "NSecondary");
    connect(m_events, &QPushButton::clicked, this, [this] { later(&NativeWindow::openEvents); });
    filters->addTrailing(m_events);
    m_busy = new SteadyLabel(QStringLiteral("Checking 999"));
    m_busy->setObjectName(QStringLiteral("NMuted"));
    filters->addTrailing(m_busy);
    m_importing = new QLabel;
    m_importing->setObjectName(QStringLiteral("NMuted"));
    m_importing->hide();
    filters->addTrailing(m_importing);
    const bool overviewOn = !m_overview->isHidden();
    m_overviewToggle =
        NativeUi::button(overviewOn ? QStringLiteral("Hide overview") : QStringLiteral("Show overview"), "NText");
    connect(m_overviewToggle, &QPushButton::clicked, this, &NativeWindow::toggleOverview);
    filters->addTrailing(m_overviewToggle);
    m_refreshAll = NativeUi::button(QStringLiteral("Refresh all"), "NSecondary");
    connect(m_refreshAll, &QPushButton::clicked, this, [this] {
        if (m_context.controller)
            m_context.controller->refreshAll();
    });
    filters->addTrailing(m_refreshAll);
    v->addLayout(filters);

    // Table and empty state.
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("NPane"));
    pane->setAttribute(Qt::WA_StyledBackground);
    auto* paneLayout = new QVBoxLayout(pane);
    paneLayout->setContentsMargins(1, 1, 1, 1);
    m_tableStack = new QStackedWidget;
    m_table = new QTableView;
    m_model = new NativeTable::DeviceTableModel(this);
    m_table->setModel(m_model);
    NativeTable::configure(m_table);
    m_tableStack->addWidget(m_table);
    auto* empty = new QWidget;
    auto* ev = new QVBoxLayout(empty);
    ev->addStretch();
    m_emptyLabel = NativeUi::label(QString(), "NEmpty");
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    ev->addWidget(m_emptyLabel);
    ev->addSpacing(8);
    m_emptyAdd = NativeUi::button(QStringLiteral("Add device"), "NPrimary");
    ev->addWidget(m_emptyAdd, 0, Qt::AlignHCenter);
    ev->addStretch();
    connect(m_emptyAdd, &QPushButton::clicked, this, [this] { later(&NativeWindow::addDevice); });
    m_tableStack->addWidget(empty);
    paneLayout->addWidget(m_tableStack);
    v->addWidget(pane);
    v->addStretch(1);

    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (m_rebuilding || !current.isValid())
                    return;
                m_selectedId = m_model->index(current.row(), 0).data(NativeTable::DeviceIdRole).toString();
            });
    connect(m_table, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() != ColAction)
            return;
        const QString id = m_model->index(index.row(), 0).data(NativeTable::DeviceIdRole).toString();
        QTimer::singleShot(0, this, [this, id] { openDetails(id); });
    });
    connect(m_table, &QTableView::activated, this, [this](const QModelIndex& index) {
        if (!index.isValid() || index.column() == ColAction)
            return;
        const QString id = m_model->index(index.row(), 0).data(NativeTable::DeviceIdRole).toString();
        QTimer::singleShot(0, this, [this, id] { openDetails(id); });
    });

    // The keyboard opens a row as "View details" does.
    NativeTable::actOnRows(m_table, scroll,
                           [this](const QString& id) { QTimer::singleShot(0, this, [this, id] { openDetails(id); }); });

    scroll->setWidget(page);
    // Columns widened past the page scroll it sideways by a bar in sight, not
    // by the table's own under its last row.
    ColumnFill::barInSight(m_table, scroll);
    return scroll;
}

void NativeWindow::later(void (NativeWindow::*action)())
{
    QTimer::singleShot(0, this, action);
}

void NativeWindow::setWallPage(LiveWallPage* page)
{
    if (!page || page == m_wall)
        return;
    const bool current = m_pages->currentIndex() == 1;
    LiveWallPage* old = m_wall;
    if (old && old->isActive())
        old->deactivate();
    m_pages->insertWidget(1, page);
    m_wall = page;
    connect(page, &LiveWallPage::openVigiloRequested, this, [this] { setPage(0); });
    if (old) {
        m_pages->removeWidget(old);
        old->deleteLater();
    }
    if (current) {
        m_pages->setCurrentIndex(1);
        if (isVisible() && !isMinimized())
            page->activate();
    }
}

int NativeWindow::page() const
{
    return m_pages->currentIndex();
}

void NativeWindow::setPage(int page)
{
    (page == 1 ? m_navVms : m_navVigilo)->setChecked(true);
    m_pages->setCurrentIndex(page == 1 ? 1 : 0);
    for (QPushButton* b : m_pageButtons)
        b->setVisible(page != 1);
    if (page == 1)
        m_wall->activate();
    else
        m_wall->deactivate();
}

// ---- Toast ------------------------------------------------------------------------------

void NativeWindow::toast(const QString& text)
{
    m_toast->popUp(text);
}

// ---- Showing and hiding ---------------------------------------------------------------------

void NativeWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_context.controller)
        m_context.controller->startPolling();
    if (m_context.events)
        m_context.events->start();
    if (m_pages->currentIndex() == 1 && !m_wall->isActive())
        m_wall->activate();
}

void NativeWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        if (const auto& stop = NativeMedia::hooks().stopWall)
            stop();
        if (m_context.events)
            m_context.events->stop();
    }
    if (m_context.controller)
        m_context.controller->suspend();
    m_wall->deactivate();
    if (m_context.store)
        m_context.store->flush();
}

void NativeWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_pages->currentIndex() != 1)
        return;
    if (isMinimized())
        m_wall->deactivate();
    else if (!m_wall->isActive())
        m_wall->activate();
}

// ---- Coalesced rebuilds --------------------------------------------------------------------------

void NativeWindow::scheduleDataRebuild()
{
    const qint64 since = m_lastRebuild.isValid() ? m_lastRebuild.elapsed() : -1;
    const int delay = dataRebuildDelay(m_rebuildTimer->isActive(), since);
    if (delay >= 0)
        m_rebuildTimer->start(delay);
}

void NativeWindow::scheduleRebuild()
{
    const int delay = filterRebuildDelay(m_rebuildTimer->isActive(), m_rebuildTimer->remainingTime());
    if (delay >= 0)
        m_rebuildTimer->start(delay);
    // The table shows the new filters at once, from the rows the last
    // rebuild worked out; the rebuild follows as paced.
    m_filterTimer->start();
}

void NativeWindow::updateLiveEvents()
{
    const int eligible = m_context.events ? m_context.events->eligibleCount() : 0;
    const int connected = m_context.events ? m_context.events->connectedCount() : 0;
    // Recorders left without a stream by the open-file limit are said, with
    // why.
    const int waiting = m_context.events ? m_context.events->heldBackCount() : 0;
    m_liveEvents->setVisible(eligible >= 1);
    QString text = QStringLiteral("Live events %1/%2").arg(connected).arg(eligible);
    QString tip = QStringLiteral("Hikvision-family devices sending live events. Problems they report show "
                                 "here within seconds; other devices are checked every %1 min.")
                      .arg(NativeController::pollMinutes());
    if (waiting > 0) {
        text += QStringLiteral(" · %1 waiting").arg(waiting);
        tip += QStringLiteral("\n\n")
            + NativeEventText::heldBackText(waiting, ConnectionGate::openFileLimit(),
                                            ConnectionGate::instance().streamPlaces());
    }
    m_liveEvents->setText(text);
    m_liveEvents->setToolTip(tip);
}

void NativeWindow::refreshBusy()
{
    // Kept by the scheduler: a sweep changes the busy state of every device,
    // so a count over the fleet per change would cost the square of it.
    const int n = m_context.controller ? m_context.controller->busyCount() : 0;
    m_refreshAll->setEnabled(n == 0);
    const QString text = n > 0 ? QStringLiteral("Checking %1").arg(n) : QString();
    if (m_busyPace->isActive() || text == m_busy->text()) // further changes at the pace
        return;
    m_busy->setText(text);
    m_busyPace->start();
}

void NativeWindow::toggleOverview()
{
    const bool wasVisible = m_overview->isVisibleTo(m_overview->parentWidget());
    m_overview->setVisible(!wasVisible);
    m_overviewToggle->setText(wasVisible ? QStringLiteral("Show overview") : QStringLiteral("Hide overview"));
    if (!Prefs::set(Prefs::kNativeOverview, !wasVisible))
        m_notices->say(QStringLiteral("4-settings"), Prefs::notKeptText());
    if (!wasVisible)
        refreshOverview(m_context.store->devices());
}

void NativeWindow::useServerSignIn()
{
    Prefs::set(Prefs::kNativeMode, false);
    Q_EMIT leaveNative();
}

// ---- Actions ------------------------------------------------------------------------------------

QString NativeWindow::selectedSite() const
{
    if (m_selectedId.isEmpty())
        return {};
    const std::optional<Native::Device> d = m_context.store->device(m_selectedId);
    return d ? d->siteId : QString();
}

void NativeWindow::selectDevice(const QString& id)
{
    m_selectedId = id;
    clearFilters();
    rebuild();
    const int row = m_model->rowOf(id);
    if (row < 0)
        return;
    auto* scroll = qobject_cast<QScrollArea*>(m_pages->widget(0));
    if (!scroll || !scroll->widget())
        return;
    const int rowY = m_table->rowViewportPosition(row) + m_table->horizontalHeader()->height();
    const QPoint at = m_table->mapTo(scroll->widget(), QPoint(0, rowY + NativeTable::kRowHeight / 2));
    scroll->ensureVisible(at.x(), at.y(), 0, NativeTable::kRowHeight);
}

void NativeWindow::addSite()
{
    SiteDialog dialog(m_context, QString(), this);
    if (Modal::exec(dialog) == QDialog::Accepted)
        m_context.store->addSite(dialog.site());
}

void NativeWindow::openReports(const QString& deviceId)
{
    ReportDialog dialog(m_context, deviceId, this);
    if (Modal::exec(dialog) == QDialog::Accepted && !dialog.savedPath().isEmpty())
        toast(NativeReportText::exportedText(dialog.savedPath()));
}

void NativeWindow::openEvents()
{
    QString chosen;
    {
        EventsDialog dialog(m_context, this);
        connect(&dialog, &EventsDialog::openDevice, &dialog, [&dialog, &chosen](const QString& id) {
            chosen = id;
            dialog.accept();
        });
        Modal::exec(dialog);
    }
    if (!chosen.isEmpty())
        openDetails(chosen);
}

void NativeWindow::openSettings()
{
    NativeSettingsDialog dialog(this);
    Modal::exec(dialog);
}

void NativeWindow::openDetails(const QString& id)
{
    if (!m_context.store->hasDevice(id))
        return;
    DeviceDetailsDialog dialog(m_context, id, this);
    Modal::exec(dialog);
}

} // namespace kvr::screens
