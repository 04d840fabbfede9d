#pragma once

#include "server/api/ApiTypes.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QModelIndex;
class QPoint;
class QPushButton;
class QTimer;
class QTreeView;
class QVariantAnimation;

namespace kvr::shell {

class CatalogModel;
class CatalogSiteDelegate;
class CatalogTreeView;
class SiteButtons;

// The left-hand column of the server main window: a searchable, collapsible
// tree of sites, devices and channels, filled while the catalogue loads, with
// a selection mode for a custom camera wall. It holds its own copy of the
// catalogue and knows nothing of the server.
class CatalogPane : public QWidget {
    Q_OBJECT
public:
    explicit CatalogPane(QWidget* parent = nullptr);

    void setPaneWidth(int width);
    int paneWidth() const { return m_paneWidth; }
    void setCollapsed(bool collapsed, bool animate);
    bool isCollapsed() const { return m_collapsed; }
    void setSites(const QList<api::Site>& sites);
    void updateSite(int index, const api::Site& site);
    void setLoadingText(const QString& text);

    static QStringList channelsOfSite(const api::Site& site);
    QStringList selectedChannels() const;

    void setSelecting(bool on);
    // As the next user meets it: no search, selection mode left, nothing ticked.
    void startOver();
    void selectAll(bool on);
    void toggleSite(const QString& siteId);
    // Ticks or unticks a device row's channels (all of them, shown or not) or one channel.
    void toggleIndex(const QModelIndex& index);

    // Parts, for the window and for tests.
    QTreeView* tree() const;
    CatalogModel* model() const { return m_model; }
    QLineEdit* searchField() const { return m_search; }
    QLabel* loadingLabel() const { return m_loading; }
    QLabel* countLabel() const { return m_count; }
    QPushButton* selectAllButton() const { return m_selectAll; }
    QPushButton* playSelectedButton() const { return m_playSelected; }
    QPushButton* selectionToggle() const { return m_selectToggle; }
    QWidget* selectionBar() const { return m_selectionBar; }
    // The buttons over the site rows in view ("Play all", or the tick marks).
    QList<QPushButton*> siteButtons() const;
    // Completed sites wait to be shown (they are shown together, shortly).
    bool rebuildPending() const;

Q_SIGNALS:
    void deviceSelected(const QString& deviceId);
    void channelSelected(const QString& deviceId, const QString& channelId);
    void collapseToggled(bool collapsed);
    void siteLiveRequested(const QString& siteId);
    void playSelectedRequested(const QStringList& channelIds);

private:
    void showCompletedSites();
    void applySearch();
    void refreshChecks();
    void refreshSelectionBar();
    void applyCollapsedState();
    // A click on a row, and Enter or Space on the current row.
    void rowClicked(const QModelIndex& index);
    // The row's actions, as a menu at `at`.
    void showRowMenu(const QModelIndex& index, const QPoint& at);
    void tick(const QStringList& ids);

    QList<api::Site> m_sites; // the latest catalogue; the tree shows it once m_completed is empty
    QSet<int> m_completed;    // sites updated since the tree last showed them
    QSet<QString> m_selectedIds;
    int m_totalChannels = 0;
    bool m_collapsed = false;
    bool m_selecting = false;
    int m_paneWidth = 300;

    QLineEdit* m_search = nullptr;
    QPushButton* m_selectToggle = nullptr;
    QPushButton* m_collapseButton = nullptr;
    QLabel* m_loading = nullptr;
    CatalogTreeView* m_tree = nullptr;
    CatalogModel* m_model = nullptr;
    CatalogSiteDelegate* m_delegate = nullptr;
    SiteButtons* m_siteButtons = nullptr;
    QWidget* m_selectionBar = nullptr;
    QLabel* m_count = nullptr;
    QPushButton* m_selectAll = nullptr;
    QPushButton* m_playSelected = nullptr;
    QTimer* m_rebuildTimer = nullptr;
    QElapsedTimer m_pendingSince; // since the oldest update not yet shown
};

} // namespace kvr::shell
