#pragma once

#include "wall/Config.h"

#include <QList>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <memory>

class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace kvr::wall {

namespace VideoWall {

class Source;

// The frameless full-screen black window of one display: the display's
// cameras in the cells of its layout (a tile where a camera is set, a dark
// placeholder elsewhere), one tile filling the display on request, a thin
// control bar while the pointer rests at the top edge or Tab is on one of its
// buttons. Esc, "Stop wall" and any close request stop the whole wall. Its
// tiles start through the controller's queue. Made and destroyed by the
// controller.
class DisplayWindow final : public QWidget {
    Q_OBJECT
public:
    DisplayWindow(std::shared_ptr<Source> source, const ScreenConfig& config, QScreen* screen, int number);
    ~DisplayWindow() override;

    // Queues a start of every tile with the controller.
    void startAll();
    // Stops every tile: all are asked first, then each is waited for.
    void stopAll();
    // Queues a start of a failed tile that tries again by itself (see
    // TileRetry), with the stream choice the display gives it now.
    void retryTile(QWidget* tile);
    void hurryOthers(QWidget* playing);
    // Hands every tile its load hint for a wall of `total` tiles.
    void tune(int total);
    // Fills the window with that cell's tile, or goes back to the layout.
    void toggleFocus(int cell);
    void showBar();
    // The bar's check for a pointer at a global position (run every 250 ms
    // with the real pointer).
    void checkPointer(const QPoint& globalPos);

    // Whether Auto quality picks the main stream for `count` tiles here.
    bool useMain(int count) const;

    int number() const { return m_number; }
    QScreen* displayScreen() const { return m_screen; }
    const ScreenConfig& screenConfig() const { return m_config; }
    int tileCount() const { return int(m_tiles.size()); }
    const QList<QWidget*>& tiles() const { return m_tiles; }
    // One widget per cell of the layout: its tile or its placeholder.
    const QList<QWidget*>& cells() const { return m_cells; }
    int focusedCell() const { return m_focused; }
    QWidget* bar() const { return m_bar; }
    QString barText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void placeCells();
    void requestWallStop();

    std::shared_ptr<Source> m_source;
    ScreenConfig m_config;
    QPointer<QScreen> m_screen;
    int m_number = 0;
    QGridLayout* m_grid = nullptr;
    QList<QWidget*> m_tiles;
    QList<QWidget*> m_cells;
    int m_focused = -1;
    QWidget* m_bar = nullptr;
    QLabel* m_barLabel = nullptr;
    QTimer* m_barTimer = nullptr;
    bool m_barByKeys = false; // Tab brought the bar out
    bool m_stopping = false;
};

} // namespace VideoWall

} // namespace kvr::wall
