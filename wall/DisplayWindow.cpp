#include "wall/DisplayWindow.h"

#include "app/ui/FocusRing.h"
#include "app/ui/LayoutTools.h"
#include "wall/Controller.h"
#include "wall/Layouts.h"
#include "wall/Source.h"
#include "wall/TileRetry.h"
#include "wall/Tunables.h"
#include "wall/VideoWallRules.h"

#include "app/ui/Theme.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

DisplayWindow::DisplayWindow(std::shared_ptr<Source> source, const ScreenConfig& config, QScreen* screen, int number)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      m_source(std::move(source)),
      m_config(config),
      m_screen(screen),
      m_number(number)
{
    setObjectName(QStringLiteral("WallDisplay"));
    setWindowTitle(QStringLiteral("Video wall \u00B7 Display %1").arg(number));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(m_source->tileStyle() + QLatin1Char('\n') + Theme::wallDisplayStyle());
    FocusRing::follow(this, Theme::colour(Theme::Colour::FocusRing), 14);
    setAttribute(Qt::WA_MouseTracking);
    if (screen) {
        setScreen(screen);
        setGeometry(screen->geometry());
    }

    build();

    m_bar = new QWidget(this);
    m_bar->setObjectName(QStringLiteral("WallBar"));
    m_bar->setAttribute(Qt::WA_StyledBackground);
    m_bar->setStyleSheet(Theme::wallBarStyle());
    auto* row = new QHBoxLayout(m_bar);
    row->setContentsMargins(18, 6, 18, 6);
    row->setSpacing(10);
    m_barLabel = new QLabel(m_bar);
    row->addWidget(m_barLabel);
    row->addStretch(1);
    auto* identifyButton = new QPushButton(QStringLiteral("Identify displays"), m_bar);
    auto* stopButton = new QPushButton(QStringLiteral("Stop wall"), m_bar);
    for (QPushButton* b : {identifyButton, stopButton}) {
        b->setCursor(Qt::PointingHandCursor);
        row->addWidget(b);
    }
    m_bar->hide();
    // Where Tab brought the bar, it goes once the focus leaves it.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* before, QWidget* now) {
        if (m_barByKeys && m_bar->isAncestorOf(before) && !m_bar->isAncestorOf(now)) {
            m_barByKeys = false;
            m_bar->hide();
        }
    });
    connect(identifyButton, &QPushButton::clicked, this, [] { Controller::instance()->identify(); });
    connect(stopButton, &QPushButton::clicked, this, [this] { requestWallStop(); });
    m_barLabel->setText(barText());

    m_barTimer = new QTimer(this);
    m_barTimer->setInterval(tun::kBarCheckInterval);
    connect(m_barTimer, &QTimer::timeout, this, [this] { checkPointer(QCursor::pos()); });
    m_barTimer->start();
}

DisplayWindow::~DisplayWindow()
{
    stopAll();
}

QString DisplayWindow::barText() const
{
    return VideoWall::VideoWallRules::barText(m_number, m_config.label, tileCount());
}

bool DisplayWindow::useMain(int count) const
{
    return VideoWall::VideoWallRules::useMain(m_config.quality, count);
}

void DisplayWindow::build()
{
    const Layout& l = VideoWall::layout(m_config.layout);
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(tun::kGridMarginPx, tun::kGridMarginPx, tun::kGridMarginPx, tun::kGridMarginPx);
    m_grid->setSpacing(tun::kGridSpacingPx);
    for (int i = 0; i < l.cells.size(); ++i) {
        const QString id = i < m_config.cells.size() ? m_config.cells.at(i) : QString();
        QWidget* cell = nullptr;
        if (!id.isEmpty()) {
            QPointer<DisplayWindow> self(this);
            // Queued: the tile asks from inside its own event handler, and
            // focusing stops and restarts that very tile.
            cell = m_source->makeTile(id, this, [self, i] {
                QMetaObject::invokeMethod(
                    self,
                    [self, i] {
                        if (self)
                            self->toggleFocus(i);
                    },
                    Qt::QueuedConnection);
            });
        }
        if (cell) {
            if (TileRetry* retry = m_source->tileRetry(cell)) {
                connect(retry, &TileRetry::due, this, [this, cell] { retryTile(cell); });
                connect(retry, &TileRetry::playingAgain, this, [this, cell] { hurryOthers(cell); });
            }
            m_tiles.append(cell);
        } else {
            auto* placeholder = new QLabel(this);
            placeholder->setObjectName(QStringLiteral("WallEmpty"));
            cell = placeholder;
        }
        m_cells.append(cell);
    }
    placeCells();
}

void DisplayWindow::placeCells()
{
    emptyLayout(m_grid, OldWidgets::Kept);
    const Layout& l = VideoWall::layout(m_config.layout);
    for (int r = 0; r < m_grid->rowCount(); ++r)
        m_grid->setRowStretch(r, 0);
    for (int c = 0; c < m_grid->columnCount(); ++c)
        m_grid->setColumnStretch(c, 0);
    if (m_focused < 0) {
        for (int r = 0; r < l.rows; ++r)
            m_grid->setRowStretch(r, 1);
        for (int c = 0; c < l.columns; ++c)
            m_grid->setColumnStretch(c, 1);
        for (int i = 0; i < m_cells.size() && i < l.cells.size(); ++i) {
            const QRect& r = l.cells.at(i);
            m_cells.at(i)->setVisible(true);
            m_grid->addWidget(m_cells.at(i), r.top(), r.left(), r.height(), r.width());
        }
        return;
    }
    for (int i = 0; i < m_cells.size(); ++i)
        m_cells.at(i)->setVisible(i == m_focused);
    m_grid->addWidget(m_cells.at(m_focused), 0, 0);
    m_grid->setRowStretch(0, 1);
    m_grid->setColumnStretch(0, 1);
}

void DisplayWindow::startAll()
{
    Controller* c = Controller::instance();
    const bool main = useMain(tileCount());
    for (QWidget* tile : std::as_const(m_tiles))
        c->enqueueStart(tile, main);
}

void DisplayWindow::retryTile(QWidget* tile)
{
    // Only a tile on show: a stopping wall, or a tile behind a focused one, waits.
    if (m_stopping || (m_focused >= 0 && m_cells.value(m_focused) != tile))
        return;
    Controller* c = Controller::instance();
    c->forgetTile(tile);
    c->enqueueStart(tile, m_focused >= 0 ? m_config.quality != kQualitySub : useMain(tileCount()));
}

void DisplayWindow::hurryOthers(QWidget* playing)
{
    // Whatever carries this display's streams (a relay, a recorder) answers
    // again: tiles that wait out long waits grown over earlier failures try
    // within a few seconds instead, each at its own moment.
    for (QWidget* tile : std::as_const(m_tiles))
        if (tile != playing)
            if (TileRetry* retry = m_source->tileRetry(tile))
                retry->hurry();
}

void DisplayWindow::stopAll()
{
    if (m_stopping)
        return;
    m_stopping = true;
    Controller* c = Controller::instance();
    for (QWidget* tile : std::as_const(m_tiles)) {
        c->forgetTile(tile);
        m_source->requestStop(tile);
    }
    for (QWidget* tile : std::as_const(m_tiles))
        m_source->stop(tile);
    m_stopping = false;
}

void DisplayWindow::tune(int total)
{
    const int shown = m_focused < 0 ? tileCount() : 1;
    for (QWidget* tile : std::as_const(m_tiles))
        m_source->tune(tile, shown, total);
}

void DisplayWindow::toggleFocus(int cell)
{
    if (cell < 0 || cell >= m_cells.size() || !m_cells.at(cell) || !m_tiles.contains(m_cells.at(cell)))
        return;
    Controller* c = Controller::instance();
    if (cell != m_focused) {
        m_focused = cell;
        QWidget* focused = m_cells.at(cell);
        for (QWidget* tile : std::as_const(m_tiles)) {
            if (tile == focused)
                continue;
            c->forgetTile(tile);
            m_source->requestStop(tile);
        }
        for (QWidget* tile : std::as_const(m_tiles))
            if (tile != focused)
                m_source->stop(tile);
        placeCells();
        // A start of this tile may still wait in the queue: drop it before
        // queueing the new one, or the tile would start twice.
        c->forgetTile(focused);
        m_source->requestStop(focused);
        m_source->stop(focused);
        m_source->tune(focused, 1, 1);
        c->enqueueStart(focused, m_config.quality != kQualitySub);
        return;
    }
    m_focused = -1;
    placeCells();
    for (QWidget* tile : std::as_const(m_tiles)) {
        c->forgetTile(tile);
        m_source->requestStop(tile);
    }
    for (QWidget* tile : std::as_const(m_tiles))
        m_source->stop(tile);
    c->retune();
    const bool main = useMain(tileCount());
    for (QWidget* tile : std::as_const(m_tiles))
        c->enqueueStart(tile, main);
}

void DisplayWindow::showBar()
{
    m_bar->setGeometry(0, 0, width(), tun::kBarHeightPx);
    m_bar->show();
    m_bar->raise();
}

void DisplayWindow::checkPointer(const QPoint& globalPos)
{
    switch (VideoWallRules::barChange(size(), mapFromGlobal(globalPos), m_bar->isVisible(), m_bar->geometry())) {
    case VideoWallRules::BarChange::Show:
        showBar();
        break;
    case VideoWallRules::BarChange::Hide:
        // Not from under the keyboard's focus.
        if (!m_bar->isAncestorOf(QApplication::focusWidget()))
            m_bar->hide();
        break;
    case VideoWallRules::BarChange::Keep:
        break;
    }
}

void DisplayWindow::requestWallStop()
{
    // Later: stopping the wall destroys this window, whose handler is running.
    QTimer::singleShot(0, Controller::instance(), [] { Controller::instance()->stop(); });
}

void DisplayWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        requestWallStop();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool DisplayWindow::focusNextPrevChild(bool next)
{
    // The bar's buttons are Tab stops only while it shows, and it shows for
    // a pointer at the top edge: Tab takes it out for the step, and where the
    // focus lands in it, it stays.
    if (m_bar->isVisible())
        return QWidget::focusNextPrevChild(next);
    showBar();
    const bool moved = QWidget::focusNextPrevChild(next);
    if (m_bar->isAncestorOf(QApplication::focusWidget()))
        m_barByKeys = true;
    else
        m_bar->hide();
    return moved;
}

void DisplayWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_bar && m_bar->isVisible())
        m_bar->setGeometry(0, 0, width(), tun::kBarHeightPx);
}

void DisplayWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    requestWallStop();
}

} // namespace VideoWall

} // namespace kvr::wall
