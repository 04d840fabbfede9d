#pragma once

// The main window of native mode, titled "Vigilo": a top bar and two pages,
// the fleet page (summary cards, problem overview, filters and the device
// table) and the live wall. It starts the background checks and event
// streams while shown, keeps the fleet page current by coalescing rebuild
// requests, confirms actions in a toast and leads back to server mode.

#include "native/screens/FleetCache.h"
#include "native/screens/FleetRules.h"
#include "native/screens/NativeContext.h"
#include "native/screens/Toast.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableView;
class QTimer;

namespace kvr::services {
class CsvImportJob;
}

namespace kvr::screens {

class DeviceDetailsDialog;
class NoticeStrip;
class LiveWallPage;
class StatCard;
class VigiloOverview;
namespace NativeTable {
class DeviceTableModel;
}

class NativeWindow : public QWidget {
    Q_OBJECT
public:
    // Over the process-wide native services.
    explicit NativeWindow(QWidget* parent = nullptr);
    // Over the given services (tests and benchmarks).
    explicit NativeWindow(const NativeContext& context, QWidget* parent = nullptr);
    ~NativeWindow() override;

    // Puts the live wall into the second page (the window takes it over and
    // deletes the page it replaces). Until this is called the page is empty.
    void setWallPage(LiveWallPage* page);

    void setPage(int page);
    int page() const;
    void toast(const QString& text);
    void scheduleRebuild();
    void scheduleDataRebuild();
    void updateLiveEvents();
    void refreshBusy();
    void selectDevice(const QString& id);
    QString selectedSite() const;
    QString selectedId() const { return m_selectedId; }

    // ---- Fleet page ----
    void rebuild();
    void updateCards();
    void updateBrands();
    bool matches(const services::Native::Device& device) const;
    bool filtersActive() const;
    void clearFilters();
    FleetRules::Filters filters() const;

    // ---- Actions ----
    void addSite();
    void addDevice();
    void importCsv();
    void saveSampleCsv();
    void openReports(const QString& deviceId);
    void openEvents();
    void openSettings();
    void openDetails(const QString& id);
    // Stores "nativeMode" as false and emits leaveNative.
    void useServerSignIn();

    // Parts the tests read and drive.
    QTableView* table() const { return m_table; }
    NativeTable::DeviceTableModel* model() const { return m_model; }
    StatCard* card(int which) const { return m_cards[size_t(which)]; }
    VigiloOverview* overview() const { return m_overview; }
    QLineEdit* searchField() const { return m_search; }
    QComboBox* statusFilter() const { return m_status; }
    QComboBox* brandFilter() const { return m_brand; }
    QLabel* toastLabel() const { return m_toast; }
    QLabel* busyLabel() const { return m_busy; }
    // "Importing…" while a CSV import is under way, hidden otherwise.
    QLabel* importLabel() const { return m_importing; }
    bool importing() const { return !m_import.isNull(); }
    // What the window says of its files (a failed save, a file not read).
    NoticeStrip* notices() const { return m_notices; }
    QLabel* liveEventsLabel() const { return m_liveEvents; }
    QLabel* emptyLabel() const { return m_emptyLabel; }
    QStackedWidget* tableStack() const { return m_tableStack; }
    QTimer* rebuildTimer() const { return m_rebuildTimer; }
    // Moves the page's relative times on once a minute.
    QTimer* minuteTimer() const { return m_minuteTimer; }
    int rebuildCount() const { return m_rebuildCount; }
    // Whether page work is under way in slices (more turns to come).
    bool pageWorkPending() const { return m_fillStep != 0; }
    // Devices whose findings and row the last rebuild worked out again.
    int rowsWorkedOut() const { return m_cache.recomputed(); }
    // Devices whose findings and relative times alone it worked out again.
    int rowsClockOnly() const { return m_cache.clockOnly(); }
    // Devices the last rebuild looked at (a check's result: its device
    // alone).
    int devicesVisited() const { return m_cache.visited(); }
    // How often the table was listed whole, and how often rows were put in
    // place one by one (and how many the last time).
    int tableListings() const { return m_rowsListed; }
    int tablePlacings() const { return m_rowsPlaced; }
    int rowsPlacedLast() const { return m_rowsPlacedLast; }
    const NativeContext& context() const { return m_context; }

Q_SIGNALS:
    void leaveNative();
    // After every rebuild of the fleet page (benchmarks and tests wait on it).
    void rebuilt();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build();
    QWidget* buildTopBar();
    QWidget* buildFleetPage();
    void onSiteClicked(const QString& name);
    void toggleOverview();
    void setCardFilter(int statusIndex, int internetIndex);
    // Runs an action outside the handler of the widget that asked for it.
    void later(void (NativeWindow::*action)());
    // Runs `saved` once the inventory reached the disk with the changes up
    // to `generation`, or `notSaved` with the sentence of a save that failed
    // (and undid them); each in a turn of its own.
    void whenSaved(quint64 generation, std::function<void()> saved,
                   std::function<void(const QString& sentence)> notSaved);
    void refreshOverview(const QList<services::Native::Device>& devices);
    // The filters' effect alone, from what the last rebuild worked out: the
    // cards' highlights and the rows that pass, in order.
    void showFilters();
    // Lists the table again, every row from what the cache holds.
    void showRows(const QList<services::Native::Device>& devices);
    // Puts the rows of the devices the cache changed where they belong.
    void applyRows(const QList<services::Native::Device>& devices);
    // The empty state, the selection and the table's height, for the rows
    // the table now holds.
    void showTable(bool inventoryEmpty);
    void highlightCards(const FleetRules::Filters& filters);
    // Files: what the store and the event log say of theirs, and the import.
    void watchFiles();
    void takeUnreadNotices();
    void showImportProgress();
    void importDone(services::CsvImportJob* job);
    void diagnoseImported();

    NativeContext m_context;
    QTimer* m_rebuildTimer = nullptr;
    QTimer* m_filterTimer = nullptr; // shows a filter change at once
    QElapsedTimer m_lastRebuild;
    QTableView* m_table = nullptr;
    NativeTable::DeviceTableModel* m_model = nullptr;
    QStackedWidget* m_tableStack = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_emptyAdd = nullptr;
    QStackedWidget* m_pages = nullptr;
    LiveWallPage* m_wall = nullptr;
    QPushButton* m_navVigilo = nullptr;
    QPushButton* m_navVms = nullptr;
    QList<QPushButton*> m_pageButtons;
    QLineEdit* m_search = nullptr;
    QComboBox* m_status = nullptr;
    QComboBox* m_brand = nullptr;
    QComboBox* m_internet = nullptr;
    QComboBox* m_network = nullptr;
    QPushButton* m_clearFilters = nullptr;
    QPushButton* m_refreshAll = nullptr;
    QPushButton* m_events = nullptr;
    QLabel* m_busy = nullptr;
    QTimer* m_busyPace = nullptr; // the busy count's text follows at this pace
    QLabel* m_importing = nullptr;
    QPushButton* m_importButton = nullptr;
    QPointer<services::CsvImportJob> m_import;
    NoticeStrip* m_notices = nullptr;
    bool m_holdBusy = false;  // many devices turn busy at once: counted once after
    QStringList m_toDiagnose; // devices an import added, still to be diagnosed
    QLabel* m_liveEvents = nullptr;
    Toast* m_toast = nullptr;
    QTimer* m_minuteTimer = nullptr;
    std::array<StatCard*, FleetRules::kCardCount> m_cards{};
    VigiloOverview* m_overview = nullptr;
    QPushButton* m_overviewToggle = nullptr;
    FleetCache m_cache;
    QString m_selectedId;
    bool m_rebuilding = false;
    // What the cache's updates changed since the page last showed them.
    bool m_recordsPending = false;
    bool m_overviewPending = false;
    int m_fillStep = 0; // where a rebuild in turns stands (0: none under way)
    int m_rebuildCount = 0;
    FleetRules::Filters m_listedFor; // the filters the table was last listed for
    int m_rowsListed = 0;
    int m_rowsPlaced = 0;
    int m_rowsPlacedLast = 0;
};

} // namespace kvr::screens
