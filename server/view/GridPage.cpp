#include "server/view/GridPage.h"

#include "app/context/AppContext.h"
#include "app/core/Clock.h"
#include "app/core/Settings.h"
#include "app/ui/Fitting.h"
#include "app/ui/FocusRing.h"
#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "server/view/CameraTile.h"
#include "server/view/Logging.h"
#include "server/view/PlayerStop.h"
#include "server/view/PulseDot.h"
#include "server/view/Tunables.h"
#include "video/FfmpegPlayer.h"
#include "video/SourceCheck.h"
#include "wall/TileRetry.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtDebug>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::view {

namespace {

constexpr int kIcon_px = 20;
const QString kAdvanceText = QStringLiteral("Auto-advance");

QPushButton* pageButton(const QString& tooltip, Theme::Icon icon, QWidget* parent)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QStringLiteral("IconBtn"));
    b->setIcon(Theme::icon(icon, Qt::white, kIcon_px));
    b->setIconSize(QSize(kIcon_px, kIcon_px));
    b->setToolTip(tooltip);
    b->setAccessibleName(tooltip);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QPushButton* secondaryButton(const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QStringLiteral("Secondary"));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

qint64 monotonicMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

} // namespace

GridPage::GridPage(QWidget* parent, LiveStreamService* streams)
    : QWidget(parent),
      m_streams(streams ? streams : &AppContext::instance().api)
{
    setObjectName(QStringLiteral("ContentPad"));
    setFocusPolicy(Qt::StrongFocus);
    // Tab walks through the tiles and their buttons, which show no focus of
    // their own on the dark picture.
    FocusRing::follow(this, Theme::colour(Theme::Colour::FocusRing), 14);
    // It takes the keyboard for its page keys, so a screen reader names it.
    setAccessibleName(QStringLiteral("Camera wall"));
    m_advanceTimer.setSingleShot(true);
    // A timer, not a queued call: queued calls all run in the pass that
    // delivers them, so the turns would follow one another without input,
    // timers or a repaint between them.
    m_revealTimer.setSingleShot(true);
    m_revealTimer.setInterval(0);
    connect(&m_revealTimer, &QTimer::timeout, this, &GridPage::revealTiles);
    m_scoutTimer.setInterval(tun::kWallScout);
    connect(&m_scoutTimer, &QTimer::timeout, this, &GridPage::scout);
    m_sources = new SourceCheck(this);
    connect(&m_advanceTimer, &QTimer::timeout, this, &GridPage::onAdvanceTimer);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 16, 20, 20);
    outer->setSpacing(12);

    // The header wraps onto a second line (and then a third) when the wall is
    // narrow: the title keeps the left, the controls the right, and a long
    // title is shortened with its whole text in a tool tip.
    auto* top = new WrapRow(nullptr, 10, 8);
    auto* lead = new QWidget(this);
    QHBoxLayout* leadRow = groupRow(lead, 10);
    m_dot = new PulseDot(lead);
    m_dot->setPulsing(true);
    m_badge = new QLabel(QStringLiteral("LIVE WALL"), lead);
    m_badge->setObjectName(QStringLiteral("ModeBadge"));
    m_badge->setProperty("mode", QStringLiteral("live"));
    m_titleLabel = new ElidedLabel(lead);
    m_titleLabel->setObjectName(QStringLiteral("StageTitle"));
    m_countLabel = new QLabel(lead);
    m_countLabel->setObjectName(QStringLiteral("Muted"));
    leadRow->addWidget(m_dot);
    leadRow->addWidget(m_badge, 0, Qt::AlignVCenter); // a pill, not the row's height
    leadRow->addWidget(m_titleLabel, 1);
    leadRow->addWidget(m_countLabel);
    top->addLeading(lead);

    auto* perPage = new QFrame(this);
    perPage->setObjectName(QStringLiteral("SegWrap"));
    auto* perPageRow = new QHBoxLayout(perPage);
    perPageRow->setContentsMargins(3, 3, 3, 3);
    perPageRow->setSpacing(2);
    m_perPageGroup = new QButtonGroup(this);
    m_perPageGroup->setExclusive(true);
    for (const CameraWallRules::PerPage& choice : CameraWallRules::perPageChoices()) {
        auto* b = new QPushButton(choice.label, perPage);
        b->setObjectName(QStringLiteral("Seg"));
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setToolTip(choice.side == 0 ? QStringLiteral("Fit the page automatically")
                                       : QStringLiteral("%1 cameras per page").arg(choice.label));
        b->setChecked(choice.side == 0);
        m_perPageGroup->addButton(b, choice.side);
        perPageRow->addWidget(b);
    }
    top->addTrailing(perPage);

    m_pager = new QWidget(this);
    auto* pager = new QHBoxLayout(m_pager);
    pager->setContentsMargins(0, 0, 0, 0);
    pager->setSpacing(2);
    m_firstButton = pageButton(QStringLiteral("First page"), Theme::Icon::SkipStart, m_pager);
    m_prevButton = pageButton(QStringLiteral("Previous page  (←)"), Theme::Icon::ChevronLeft, m_pager);
    m_pageLabel = new QLabel(m_pager);
    m_pageLabel->setObjectName(QStringLiteral("TimeText"));
    m_pageLabel->setMinimumWidth(56);
    m_pageLabel->setAlignment(Qt::AlignCenter);
    m_nextButton = pageButton(QStringLiteral("Next page  (→)"), Theme::Icon::ChevronRight, m_pager);
    m_lastButton = pageButton(QStringLiteral("Last page"), Theme::Icon::SkipEnd, m_pager);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_firstButton, m_prevButton, m_pageLabel, m_nextButton, m_lastButton})
        pager->addWidget(w);
    top->addTrailing(m_pager);

    m_advanceButton = secondaryButton(kAdvanceText, this);
    m_advanceButton->setCheckable(true);
    m_advanceButton->setToolTip(QStringLiteral("Step through the pages automatically"));
    m_savePresetButton = secondaryButton(QStringLiteral("Save as preset"), this);
    m_savePresetButton->setToolTip(QStringLiteral("Save these cameras as a preset"));
    m_savePresetButton->hide();
    m_fullscreenButton = pageButton(QStringLiteral("Full screen"), Theme::Icon::EnterFullscreen, this);
    m_stopAllButton = secondaryButton(QStringLiteral("Stop all"), this);
    top->addTrailing(m_advanceButton);
    top->addTrailing(m_savePresetButton);
    top->addTrailing(m_fullscreenButton);
    top->addTrailing(m_stopAllButton);
    outer->addLayout(top);

    m_gridHost = new QWidget(this);
    m_grid = new QGridLayout(m_gridHost);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(10);
    outer->addWidget(m_gridHost, 1);

    m_advanceSeconds = Prefs::get(Prefs::kWallAdvanceSeconds);

    connect(m_perPageGroup, &QButtonGroup::idClicked, this, &GridPage::choosePerPage);
    connect(m_firstButton, &QPushButton::clicked, this, &GridPage::firstPage);
    connect(m_prevButton, &QPushButton::clicked, this, &GridPage::previousPage);
    connect(m_nextButton, &QPushButton::clicked, this, &GridPage::nextPage);
    connect(m_lastButton, &QPushButton::clicked, this, &GridPage::lastPage);
    connect(m_advanceButton, &QPushButton::clicked, this, &GridPage::setAutoAdvance);
    connect(m_savePresetButton, &QPushButton::clicked, this, &GridPage::savePresetRequested);
    connect(m_fullscreenButton, &QPushButton::clicked, this, [this] { setFullscreen(!m_fullscreen); });
    connect(m_stopAllButton, &QPushButton::clicked, this, [this] {
        setFullscreen(false);
        stopAutoAdvance();
        stopAll();
        Q_EMIT closed();
    });
    m_pager->hide();
    m_advanceButton->hide();
}

GridPage::~GridPage()
{
    // The tiles' players end in the background rather than one by one in
    // the tiles' destructors.
    CameraTile::discardTiles(m_tiles);
}

// ---- Opening and stopping -------------------------------------------------------

void GridPage::openCameras(const QString& title, const QList<Camera>& cameras)
{
    stopAll();
    m_title = title;
    m_cameras = CameraWallRules::withoutRepeats(cameras);
    m_page = 0;
    m_overload.reset();
    m_titleLabel->setFullText(title);
    rebuild();
}

void GridPage::stopAll()
{
    m_pages.supersede();
    stopAutoAdvance();
    m_startQueue.clear();
    m_starting = 0;
    collapseExpanded(false);
    clearTiles();
    m_cameras.clear();
}

void GridPage::clearTiles()
{
    for (CameraTile* t : std::as_const(m_tiles)) {
        t->disconnect(this);
        m_grid->removeWidget(t);
    }
    m_revealTimer.stop();
    m_scoutTimer.stop();
    m_checking.clear();
    m_lastPlaylist.clear();
    // The players end in the background: a page change never waits for them.
    CameraTile::discardTiles(m_tiles);
    m_tiles.clear();
    m_expandedTile = nullptr;
}

void GridPage::suspendAll()
{
    QList<CameraTile*> playing;
    for (CameraTile* t : std::as_const(m_tiles)) {
        if (t->isStarted() && !t->isSuspended())
            playing << t;
    }
    // Stop the players together first; each suspend then has nothing to wait for.
    QList<FfmpegPlayer*> players;
    for (CameraTile* t : std::as_const(playing))
        players << t->player();
    stopPlayers(players);
    for (CameraTile* t : std::as_const(playing))
        t->suspend();
    // Nobody sees the wall: no tile tries ahead of its time.
    m_scoutTimer.stop();
}

void GridPage::resumeAll()
{
    for (CameraTile* t : std::as_const(m_tiles))
        t->resume();
    if (!m_tiles.isEmpty())
        m_scoutTimer.start();
}

QList<QString> GridPage::cameraIds() const
{
    QList<QString> ids;
    for (const Camera& c : m_cameras)
        ids << c.id;
    return ids;
}

void GridPage::setCanSavePreset(bool on)
{
    m_savePresetButton->setVisible(on);
}

void GridPage::setFullscreen(bool on)
{
    if (on == m_fullscreen)
        return;
    m_fullscreen = on;
    const QString tip = on ? QStringLiteral("Exit full screen") : QStringLiteral("Full screen");
    m_fullscreenButton->setIcon(
        Theme::icon(on ? Theme::Icon::LeaveFullscreen : Theme::Icon::EnterFullscreen, Qt::white, kIcon_px));
    m_fullscreenButton->setToolTip(tip);
    m_fullscreenButton->setAccessibleName(tip);
    Q_EMIT fullscreenToggled(on);
}

// ---- Pages -------------------------------------------------------------------------

int GridPage::pageCount() const
{
    return CameraWallRules::pageCount(int(m_cameras.size()), m_side);
}

int GridPage::columnsFor(int tiles) const
{
    return CameraWallRules::columnsFor(m_side, tiles);
}

void GridPage::firstPage()
{
    m_page = 0;
    rebuildLater();
}

void GridPage::previousPage()
{
    m_page = std::max(m_page, 1) - 1;
    rebuildLater();
}

void GridPage::nextPage()
{
    m_page = std::min(m_page + 1, pageCount() - 1);
    rebuildLater();
}

void GridPage::lastPage()
{
    m_page = pageCount() - 1;
    rebuildLater();
}

void GridPage::choosePerPage(int side)
{
    if (side == m_side)
        return;
    m_page = 0;
    m_side = side;
    rebuildLater();
}

void GridPage::rebuildLater()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QTimer::singleShot(0, this, [this] {
        m_rebuildPending = false;
        rebuild();
    });
}

void GridPage::rebuild()
{
    m_rebuildPending = false;
    collapseExpanded(false);
    m_pages.supersede();
    m_startQueue.clear();
    m_starting = 0;
    clearTiles();

    const int n = int(m_cameras.size());
    const CameraWallRules::PageSpan span = CameraWallRules::pageSpan(m_page, n, m_side);
    m_page = span.page;
    const int t = span.tiles();
    m_columns = CameraWallRules::columnsFor(m_side, t);
    m_rows = CameraWallRules::rowsFor(m_side, t, m_columns);
    m_grid->setColumnStretch(0, 1);
    for (int c = 1; c < tun::kGridStretchCells; ++c)
        m_grid->setColumnStretch(c, c < m_columns ? 1 : 0);
    for (int r = 0; r < tun::kGridStretchCells; ++r)
        m_grid->setRowStretch(r, r < m_rows ? 1 : 0);

    const double cap = fpsCapFor(t);
    const bool main = wallUsesMain(t);
    // Pages that repeat the names of other pages' cameras ("Camera 01" of
    // each recorder) name the recorder, as one page of them all would.
    QStringList wallTitles;
    if (span.pages >= 2)
        for (const Camera& camera : std::as_const(m_cameras))
            wallTitles << CameraWallRules::tileTitle(camera);
    for (int i = span.first; i < span.end; ++i) {
        const Camera& camera = m_cameras[i];
        const int k = i - span.first;
        auto* tile =
            new CameraTile(camera.id, CameraWallRules::tileTitle(camera), camera.offline, m_gridHost, m_streams);
        // Shown a few at a time (revealTiles); their cells are kept meanwhile.
        QSizePolicy policy = tile->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        tile->setSizePolicy(policy);
        holdBack(tile);
        if (!wallTitles.isEmpty())
            tile->setWallTitles(wallTitles);
        tile->setInitialQuality(main);
        tile->player()->controls().maxFps = cap;
        if (m_overload.step() >= 3)
            tile->player()->controls().keyframesOnly = true;
        m_grid->addWidget(tile, k / m_columns, k % m_columns);
        connect(tile, &CameraTile::overloaded, this, &GridPage::onOverloaded);
        connect(tile, &CameraTile::openRequested, this, &GridPage::cameraOpened);
        connect(tile, &CameraTile::expandRequested, this, &GridPage::toggleExpanded);
        connect(tile, &CameraTile::removeRequested, this, &GridPage::removeCamera);
        connect(tile, &CameraTile::listenToggled, this, &GridPage::onListenToggled);
        connect(tile, &CameraTile::clicked, this, &GridPage::select);
        connect(tile->retry(), &VideoWall::TileRetry::due, this, [this, tile] { queueStart(tile); });
        connect(tile, &CameraTile::showingPictures, this, [this, tile] { hurryOthers(tile); });
        m_tiles << tile;
        m_startQueue << tile;
    }

    m_countLabel->setText(CameraWallRules::countLabel(span, n, m_overload.step()));
    m_pageLabel->setText(CameraWallRules::pageLabel(span));
    const bool paged = span.pages >= 2;
    m_pager->setVisible(paged);
    m_advanceButton->setVisible(paged);
    m_firstButton->setEnabled(span.page >= 1);
    m_prevButton->setEnabled(span.page >= 1);
    m_nextButton->setEnabled(span.page + 1 < span.pages);
    m_lastButton->setEnabled(span.page + 1 < span.pages);
    if (!paged && m_advanceButton->isChecked())
        stopAutoAdvance();
    m_revealed = 0;
    m_revealTimer.start();
    if (!m_tiles.isEmpty())
        m_scoutTimer.start();
    pumpStartQueue();
}

void GridPage::revealTiles()
{
    // A tile filling the wall: its collapse shows them all.
    if (m_expandedTile)
        return;
    const int end = std::min(int(m_tiles.size()), m_revealed + tun::kTilesShownPerTurn);
    for (; m_revealed < end; ++m_revealed)
        m_tiles[m_revealed]->show();
    if (m_revealed < m_tiles.size())
        m_revealTimer.start();
}

// ---- Load control ------------------------------------------------------------------

bool GridPage::wallUsesMain(int tiles) const
{
    return CameraWallRules::usesMain(tiles, m_overload.step(), AppContext::instance().gridQuality());
}

double GridPage::fpsCapFor(int tiles) const
{
    return CameraWallRules::fpsCap(tiles, m_overload.step());
}

void GridPage::applyBudget()
{
    const double cap = fpsCapFor(int(m_tiles.size()));
    for (CameraTile* t : std::as_const(m_tiles))
        t->player()->controls().maxFps = cap;
}

QString GridPage::reductionNote() const
{
    return CameraWallRules::reductionNote(m_overload.step());
}

void GridPage::pumpStartQueue()
{
    if (m_starting >= tun::kStartsInFlight)
        return;
    const RequestTicket page = m_pages.ticket();
    while (!m_startQueue.isEmpty()) {
        const QPointer<CameraTile> tile = m_startQueue.takeFirst();
        if (!tile)
            continue;
        ++m_starting;
        tile->start([this, page] {
            // Starts of an earlier page change nothing here.
            if (!page.current())
                return;
            --m_starting;
            pumpStartQueue();
        });
        if (!page.current() || m_starting >= tun::kStartsInFlight)
            break;
    }
}

void GridPage::queueStart(CameraTile* tile)
{
    // A failed tile trying again waits its turn like any other start.
    if (!m_startQueue.contains(tile))
        m_startQueue << tile;
    pumpStartQueue();
}

void GridPage::hurryOthers(CameraTile* shown)
{
    for (CameraTile* t : std::as_const(m_tiles))
        if (t != shown)
            t->retry()->hurry();
}

void GridPage::scout()
{
    checkSources();
    QList<CameraWallRules::ScoutTile> seen;
    for (const CameraTile* t : std::as_const(m_tiles))
        seen.append({t->retry()->isArmed() && t->isVisible(), t->retry()->remainingMs(), t->awaitsPictures(),
                     t->showsPictures()});
    const int pick = CameraWallRules::scoutTile(seen, m_starting > 0 || !m_startQueue.isEmpty(),
                                                std::chrono::milliseconds(tun::kWallScout).count());
    if (pick < 0)
        return;
    qCInfo(lcView).noquote() << "[wall] no tile plays; trying" << m_tiles.at(pick)->cameraId() << "ahead of its time";
    m_tiles.at(pick)->retry()->fire();
}

void GridPage::checkSources()
{
    // A tile failed while the rest of the wall plays waits for its own
    // retry, further off the more often it failed: its camera could be back
    // for minutes unseen. Asking its source (the relay's path, a playlist)
    // costs the server nothing and no decoder; the questions are spread over
    // the period, so that many failed tiles do not ask at once.
    QList<CameraTile*> failed;
    for (CameraTile* t : std::as_const(m_tiles))
        if (t->retry()->isArmed() && t->isVisible() && !t->url().isEmpty() && !m_checking.contains(t))
            failed << t;
    const qint64 period = std::chrono::milliseconds(tun::kWallScout).count();
    for (qsizetype i = 0; i < failed.size(); ++i) {
        CameraTile* t = failed.at(i);
        m_checking.insert(t);
        QTimer::singleShot(int(qint64(i) * period / failed.size()), t, [this, t] { checkSource(t); });
    }
}

void GridPage::checkSource(CameraTile* tile)
{
    if (!tile->retry()->isArmed() || tile->url().isEmpty()) {
        m_checking.remove(tile);
        return;
    }
    const StreamAccess access = AppContext::instance().api.streamAccess();
    m_sources->ask(tile->url(), access.token, access.origin, tile, [this, tile](const SourceCheck::Answer& answer) {
        m_checking.remove(tile);
        // A playlist that answers as it did last time has not moved on: the
        // stream is still stopped there.
        const bool same = !answer.playlist.isEmpty() && m_lastPlaylist.value(tile) == answer.playlist;
        m_lastPlaylist.insert(tile, answer.playlist);
        if (!answer.answers || same || !tile->retry()->isArmed())
            return;
        qCInfo(lcView).noquote() << "[wall]" << tile->player()->options().label
                                 << "its source answers again; trying now";
        if (m_streams)
            m_streams->sourceAnswers(tile->url());
        tile->retry()->fire();
    });
}

void GridPage::onOverloaded()
{
    const std::optional<int> reached = m_overload.report(monotonicMs());
    if (!reached)
        return;
    int step = *reached;
    qCWarning(lcView).noquote() << QStringLiteral("[wall] this computer can't keep up; step %1 : %2")
                                       .arg(step)
                                       .arg(CameraWallRules::reductionNote(step));
    if (step == 2) {
        QList<CameraTile*> onMain;
        for (CameraTile* t : std::as_const(m_tiles)) {
            if (t->useMain())
                onMain << t;
        }
        if (onMain.isEmpty()) {
            step = 3;
            m_overload.skipTo(3);
        } else {
            // Every tile on Main goes to Sub; the started ones restart at once,
            // outside the start queue, their old players ended together.
            QList<CameraTile*> restart;
            for (CameraTile* t : std::as_const(onMain)) {
                if (t->isStarted() && !t->isOffline())
                    restart << t;
            }
            CameraTile::stopTiles(restart);
            for (CameraTile* t : std::as_const(onMain))
                t->setQuality(false);
            for (CameraTile* t : std::as_const(restart))
                t->start();
        }
    }
    if (step == 1)
        applyBudget();
    if (step == 3) {
        for (CameraTile* t : std::as_const(m_tiles))
            t->player()->controls().keyframesOnly = true;
    }
    m_countLabel->setText(CameraWallRules::withReductionNote(m_countLabel->text(), m_overload.step()));
}

// ---- Expansion, removal, listening, selection --------------------------------------------

void GridPage::toggleExpanded(CameraTile* tile)
{
    CameraTile* previous = m_expandedTile;
    collapseExpanded(true);
    if (previous == tile || !tile)
        return;
    m_expandedTile = tile;
    tile->setExpanded(true);
    for (CameraTile* t : std::as_const(m_tiles)) {
        if (t == tile)
            continue;
        t->hide();
        t->player()->controls().keyframesOnly = true;
    }
    tile->player()->controls().maxFps = 0;
    if (!tile->useMain() && m_overload.step() <= 1 && AppContext::instance().gridQuality() != 2) {
        tile->setMainForExpand(true);
        tile->setQuality(true);
    }
    m_grid->removeWidget(tile);
    m_grid->addWidget(tile, 0, 0, std::max(m_rows, 1), std::max(m_columns, 1));
    tile->updateButtons();
}

void GridPage::collapseExpanded(bool restoreQuality)
{
    CameraTile* tile = m_expandedTile;
    if (!tile)
        return;
    tile->setExpanded(false);
    if (tile->mainForExpand()) {
        tile->setMainForExpand(false);
        if (restoreQuality && tile->useMain())
            tile->setQuality(false);
    }
    m_expandedTile = nullptr;
    for (CameraTile* t : std::as_const(m_tiles)) {
        m_grid->removeWidget(t);
        t->show();
        t->player()->controls().keyframesOnly = m_overload.step() >= 3;
    }
    applyBudget();
    placeTiles();
}

void GridPage::placeTiles()
{
    for (int k = 0; k < m_tiles.size(); ++k) {
        m_grid->addWidget(m_tiles[k], k / m_columns, k % m_columns);
        m_tiles[k]->updateButtons();
    }
}

void GridPage::removeCamera(const QString& cameraId)
{
    if (m_cameras.isEmpty()) {
        stopAll();
        Q_EMIT closed();
        return;
    }
    for (qsizetype i = 0; i < m_cameras.size(); ++i) {
        if (m_cameras[i].id == cameraId) {
            m_cameras.removeAt(i);
            break;
        }
    }
    if (!m_cameras.isEmpty()) {
        rebuildLater();
        return;
    }
    stopAll();
    Q_EMIT closed();
}

void GridPage::onListenToggled(const QString& cameraId, bool on)
{
    if (!on)
        return;
    for (CameraTile* t : std::as_const(m_tiles)) {
        if (t->cameraId() != cameraId && t->isListening())
            t->setListening(false);
    }
}

void GridPage::select(const QString& cameraId)
{
    for (CameraTile* t : std::as_const(m_tiles))
        t->setSelected(t->cameraId() == cameraId);
    setFocus(Qt::OtherFocusReason);
}

// ---- Auto-advance ------------------------------------------------------------------

void GridPage::setAutoAdvance(bool on)
{
    if (!on) {
        stopAutoAdvance();
        return;
    }
    // The dialog runs outside the button's click handler: anything may be
    // rebuilt while it is open.
    QTimer::singleShot(0, this, &GridPage::promptAutoAdvance);
}

void GridPage::stopAutoAdvance()
{
    m_advancing = false;
    m_advanceTimer.stop();
    m_advanceButton->setChecked(false);
    m_advanceButton->setText(kAdvanceText);
}

void GridPage::promptAutoAdvance()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Auto-advance pages"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    auto* prompt = new QLabel(QStringLiteral("Show the next page every"), &dialog);
    layout->addWidget(prompt);
    auto* row = new QHBoxLayout;
    auto* value = new QSpinBox(&dialog);
    value->setRange(1, 999);
    value->setAccessibleName(QStringLiteral("Interval"));
    auto* unit = new QComboBox(&dialog);
    unit->addItems({QStringLiteral("seconds"), QStringLiteral("minutes"), QStringLiteral("hours")});
    unit->setAccessibleName(QStringLiteral("Unit"));
    prompt->setBuddy(value);
    row->addWidget(value);
    row->addWidget(unit, 1);
    layout->addLayout(row);
    const CameraWallRules::AdvancePrefill prefill = CameraWallRules::advancePrefill(m_advanceSeconds);
    value->setValue(prefill.value);
    unit->setCurrentIndex(prefill.unit);
    auto* error = new QLabel(&dialog);
    error->setObjectName(QStringLiteral("Muted"));
    error->setStyleSheet(Theme::expandTokens(QStringLiteral("color: @liveText;")));
    layout->addWidget(error);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(QStringLiteral("Secondary"));
    auto* start = new QPushButton(QStringLiteral("Start"), &dialog);
    start->setObjectName(QStringLiteral("Primary"));
    start->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(start);
    layout->addLayout(buttons);

    qint64 chosen = 0;
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    connect(start, &QPushButton::clicked, &dialog, [&] {
        const qint64 seconds = qint64(value->value()) * CameraWallRules::unitSeconds(unit->currentIndex());
        if (const QString refusal = CameraWallRules::advanceRefusal(seconds); !refusal.isEmpty()) {
            error->setText(refusal);
            return;
        }
        chosen = seconds;
        dialog.accept();
    });

    const QPointer<GridPage> alive(this);
    const int result = Modal::exec(dialog);
    if (!alive)
        return;
    if (result != QDialog::Accepted || chosen <= 0) {
        stopAutoAdvance();
        return;
    }
    m_advanceSeconds = chosen;
    Prefs::set(Prefs::kWallAdvanceSeconds, int(chosen));
    m_advancing = true;
    m_advanceButton->setChecked(true);
    m_advanceButton->setText(CameraWallRules::advanceButtonText(chosen));
    m_advanceDeadlineMs = monotonicMs() + chosen * 1000;
    armAdvance();
}

void GridPage::armAdvance()
{
    m_advanceTimer.start(CameraWallRules::nextTimerSliceMs(m_advanceDeadlineMs - monotonicMs()));
}

void GridPage::onAdvanceTimer()
{
    if (!m_advancing)
        return;
    const qint64 now = monotonicMs();
    if (now >= m_advanceDeadlineMs) {
        m_advanceDeadlineMs = now + m_advanceSeconds * 1000;
        pageTick();
    }
    armAdvance();
}

void GridPage::pageTick()
{
    const int pages = pageCount();
    if (pages < 2)
        return;
    m_page = (m_page + 1) % pages;
    rebuildLater();
}

} // namespace kvr::view
