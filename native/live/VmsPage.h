#pragma once

// The live wall page of the native main window: a tree of sites, devices and
// cameras with tick boxes on the left; the ticked cameras, in the order they
// were ticked, cut into pages and shown as a grid of camera tiles; a toolbar
// for cameras per page, stream quality, page, live or playback mode and the
// multi-display video wall. In playback mode every tile of the page plays the
// recording from one common time, steered by a transport bar with a day, a
// time and a 24-hour timeline showing the footage of that day.

#include "app/core/RequestTicket.h"
#include "app/ui/Fitting.h"
#include "native/screens/LiveWallPage.h"

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>

class QButtonGroup;
class QDateEdit;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimeEdit;
class QTimer;
class QSplitter;
class QTreeWidget;
namespace kvr::ui {
class TimelineBar;
} // namespace kvr::ui

namespace kvr::live {

class VmsTile;

class VmsPage : public screens::LiveWallPage {
    Q_OBJECT
public:
    explicit VmsPage(QWidget* parent = nullptr);
    ~VmsPage() override;

    void activate() override;
    void deactivate() override;

    // ---- Wall ----
    void load();
    void save();
    void refreshTree();
    void applyFilter();
    void syncWallFromTree();
    void addAllOnline();
    void clearWall();
    void setWall(const QStringList& keys);
    void rebuildWallLater();
    void rebuildWall();
    int perPage() const;
    bool tileUsesMain(int n) const;
    bool tileUsesMainPlayback() const;
    void focusOn(VmsTile* tile);
    void leaveFocus();
    void updateToolbar();
    void stopAllTiles();
    void setLayoutChoice(int layout);
    void setQualityChoice(int quality);
    void nextPage();
    void previousPage();

    // ---- Playback ----
    void setMode(bool playback);
    void startPlaybackAt(const QDateTime& at);
    void pausePlayback();
    void resumePlayback();
    void onTilePosition(VmsTile* tile, double seconds);
    void loadCoverage();
    void updateTransport();

    // ---- What tests and benchmarks read ----
    QStringList wall() const { return m_wall; }
    QList<VmsTile*> tiles() const { return m_tiles; }
    int layoutChoice() const { return m_layout; }
    int qualityChoice() const { return m_quality; }
    int page() const { return m_page; }
    bool isPlayback() const { return m_playback; }
    bool isStarted() const { return m_started; }
    bool isPaused() const { return m_paused; }
    QDateTime position() const { return m_position; }
    QDateTime playStart() const { return m_playStart; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    QTreeWidget* tree() const { return m_tree; }
    QSplitter* splitter() const { return m_split; }
    QLineEdit* searchField() const { return m_search; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* noticeLabel() const { return m_noticeLabel; }
    QPushButton* emptyButton() const { return m_emptyButton; }
    QStackedWidget* stack() const { return m_stack; }
    QPushButton* nextButton() const { return m_nextButton; }
    QPushButton* backButton() const { return m_backButton; }
    QFrame* layoutControl() const { return m_layoutControl; }
    QFrame* modeControl() const { return m_modeControl; }
    QDateEdit* dayEdit() const { return m_dayEdit; }
    QTimeEdit* timeEdit() const { return m_timeEdit; }
    QPushButton* playButton() const { return m_playButton; }
    QPushButton* pauseButton() const { return m_pauseButton; }
    QPushButton* back30Button() const { return m_back30Button; }
    QPushButton* forward30Button() const { return m_forward30Button; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QLabel* coverageNote() const { return m_coverageNote; }
    ui::TimelineBar* timeline() const { return m_timeline; }
    uint32_t coverageGeneration() const { return uint32_t(m_coverage.round()); }

Q_SIGNALS:
    // After every rebuild of the tiles (tests and benchmarks wait on it).
    void rebuilt();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildSide();
    QWidget* buildToolbar();
    QWidget* buildTransport();
    QFrame* segmentedControl(const QStringList& labels, QButtonGroup** group, void (VmsPage::*choose)(int));
    void onInventoryChanged();
    void onWallRunning();
    void openVideoWall();
    void removeKey(const QString& key);
    void chooseMode(int id);
    void setupPlaybackTile(VmsTile* tile);
    void restartFromPosition(int stepSeconds);
    void onSeek(double second);
    void onDayChanged();

    // Widgets.
    QTreeWidget* m_tree = nullptr;
    QSplitter* m_split = nullptr;
    bool m_treeSized = false; // the tree has had its kept width
    QLineEdit* m_search = nullptr;
    QLabel* m_wallHint = nullptr;
    QStackedWidget* m_stack = nullptr;
    QWidget* m_gridHost = nullptr;
    QGridLayout* m_grid = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_emptyButton = nullptr;
    QPushButton* m_prevButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QLabel* m_pageLabel = nullptr;
    QPushButton* m_backButton = nullptr;
    ui::ElidedLabel* m_titleLabel = nullptr;
    QLabel* m_noticeLabel = nullptr;
    QFrame* m_layoutControl = nullptr;
    QFrame* m_qualityControl = nullptr;
    QButtonGroup* m_layoutGroup = nullptr;
    QButtonGroup* m_qualityGroup = nullptr;
    QPushButton* m_wallButton = nullptr;
    QTimer* m_syncTimer = nullptr;

    // The wall.
    QStringList m_wall;
    QList<VmsTile*> m_tiles;
    int m_layout = 0;
    int m_quality = 0;
    int m_page = 0;
    QString m_focusKey;
    bool m_filling = false;
    bool m_loaded = false;
    bool m_rebuildPending = false;
    int m_columns = 1;
    int m_rows = 1;

    // Playback.
    bool m_playback = false;
    QFrame* m_modeControl = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QWidget* m_transportBar = nullptr;
    QDateEdit* m_dayEdit = nullptr;
    QTimeEdit* m_timeEdit = nullptr;
    QPushButton* m_playButton = nullptr;
    QPushButton* m_pauseButton = nullptr;
    QPushButton* m_back30Button = nullptr;
    QPushButton* m_forward30Button = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_coverageNote = nullptr;
    ui::TimelineBar* m_timeline = nullptr;
    QDateTime m_playStart;
    QDateTime m_position;
    double m_clockBase = -1.0;
    QPointer<VmsTile> m_clockTile;
    bool m_started = false;
    bool m_paused = false;
    core::TicketDesk m_coverage;
};

} // namespace kvr::live
