#pragma once

#include "app/core/RequestTicket.h"
#include "app/ui/Fitting.h"
#include "server/view/CameraWallRules.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class QButtonGroup;
class QGridLayout;
class QLabel;
class QPushButton;
namespace kvr::api {
class LiveStreamService;
} // namespace kvr::api
namespace kvr::video {
class SourceCheck;
} // namespace kvr::video

namespace kvr::view {

class CameraTile;
class PulseDot;

// The camera wall of server mode: a list of cameras as pages of live tiles,
// with a per-page choice, paging and automatic page turning, one tile that
// can fill the wall, one tile that can be listened to, and load control
// (frame-rate caps, overload steps, at most four starts at a time). Only the
// tiles of the shown page exist.
class GridPage : public QWidget {
    Q_OBJECT
public:
    using Camera = WallCamera;

    explicit GridPage(QWidget* parent = nullptr, api::LiveStreamService* streams = nullptr);
    ~GridPage() override;

    // Stops the wall and shows the cameras from the first page. A camera
    // listed more than once is shown once, where it first appears.
    void openCameras(const QString& title, const QList<Camera>& cameras);
    // Stops and removes every tile, their server streams given back.
    void stopAll();
    void suspendAll();
    void resumeAll();
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    int pageCount() const;
    int currentPage() const { return m_page; }
    int columnsFor(int tiles) const;
    void setFullscreen(bool on);
    bool isFullscreen() const { return m_fullscreen; }
    QList<QString> cameraIds() const;
    void setCanSavePreset(bool on);

    // Rules applied to the shown page.
    bool wallUsesMain(int tiles) const;
    double fpsCapFor(int tiles) const;
    void applyBudget();
    QString reductionNote() const;
    int overloadStep() const { return m_overload.step(); }

    QList<CameraTile*> tiles() const { return m_tiles; }
    CameraTile* expandedTile() const { return m_expandedTile; }
    int startsInFlight() const { return m_starting; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }

Q_SIGNALS:
    void savePresetRequested();
    void closed();
    void cameraOpened(const QString& cameraId);
    void fullscreenToggled(bool on);

private:
    friend struct GridPageTestAccess;

    void rebuildLater();
    void rebuild();
    void clearTiles();
    void pumpStartQueue();
    void queueStart(CameraTile* tile);
    // A tile shows pictures again: the others' tries are brought forward.
    void hurryOthers(CameraTile* shown);
    // While every tile waits, one tries (CameraWallRules::scoutTile); and
    // the sources of the failed tiles are asked whether they answer again.
    void scout();
    // Asks each failed tile's source, spread over the scout's period; a tile
    // whose source answers tries again at once, through the start queue.
    void checkSources();
    void checkSource(CameraTile* tile);
    void onOverloaded();
    void toggleExpanded(CameraTile* tile);
    void collapseExpanded(bool restoreQuality);
    void removeCamera(const QString& cameraId);
    void onListenToggled(const QString& cameraId, bool on);
    void select(const QString& cameraId);
    void setAutoAdvance(bool on);
    void promptAutoAdvance();
    void stopAutoAdvance();
    void armAdvance();
    void onAdvanceTimer();
    void pageTick();
    void choosePerPage(int side);
    void placeTiles();
    void revealTiles();

    CameraWallRules::OverloadSteps m_overload;
    QString m_title;
    QList<Camera> m_cameras;
    QList<CameraTile*> m_tiles;
    QList<QPointer<CameraTile>> m_startQueue;
    int m_starting = 0;
    int m_page = 0;
    int m_side = 0;
    bool m_fullscreen = false;
    core::TicketDesk m_pages;
    CameraTile* m_expandedTile = nullptr;
    int m_revealed = 0; // tiles of the page shown so far
    int m_columns = 1;
    int m_rows = 1;
    // Page turning: the timer is armed in slices towards a monotonic deadline,
    // since an interval may be longer than a 32-bit millisecond timer holds.
    QTimer m_advanceTimer;
    QTimer m_revealTimer; // the next few tiles of the page are shown
    QTimer m_scoutTimer;
    video::SourceCheck* m_sources = nullptr;
    // Tiles whose source is being asked, and what each playlist said last.
    QSet<CameraTile*> m_checking;
    QHash<CameraTile*, QByteArray> m_lastPlaylist;
    qint64 m_advanceDeadlineMs = 0;
    bool m_advancing = false;
    bool m_rebuildPending = false;
    qint64 m_advanceSeconds = 30;
    QPointer<api::LiveStreamService> m_streams;

    PulseDot* m_dot = nullptr;
    QLabel* m_badge = nullptr;
    ui::ElidedLabel* m_titleLabel = nullptr;
    QLabel* m_countLabel = nullptr;
    QWidget* m_gridHost = nullptr;
    QGridLayout* m_grid = nullptr;
    QWidget* m_pager = nullptr;
    QPushButton* m_firstButton = nullptr;
    QPushButton* m_prevButton = nullptr;
    QLabel* m_pageLabel = nullptr;
    QPushButton* m_nextButton = nullptr;
    QPushButton* m_lastButton = nullptr;
    QPushButton* m_advanceButton = nullptr;
    QPushButton* m_savePresetButton = nullptr;
    QPushButton* m_fullscreenButton = nullptr;
    QPushButton* m_stopAllButton = nullptr;
    QButtonGroup* m_perPageGroup = nullptr;
};

} // namespace kvr::view
