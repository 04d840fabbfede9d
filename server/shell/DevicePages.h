#pragma once

#include "app/ui/Fitting.h"
#include "server/api/ApiTypes.h"
#include "server/shell/BrandRegistry.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QVBoxLayout;

namespace kvr::shell {

// Page 0 of the main window's stack: the home message, or one catalogue
// device with its site, online state, channels and the actions on the
// current channel.
class DevicePage : public QWidget {
    Q_OBJECT
public:
    explicit DevicePage(QWidget* parent = nullptr);

    void showHome(const QString& title, bool noDevices, const QString& message);
    void showDevice(const api::Device& device, const api::Site& site, const QString& channelId);
    void setActionsEnabled(bool hasChannel);

    // The text of the home state for a message (empty: the default one).
    static QString homeText(bool noDevices, const QString& message);
    // The channel the page acts on for a requested one.
    static QString currentChannelFor(const api::Device& device, const QString& channelId);

    QLabel* title() const { return m_title; }
    QLabel* chip() const { return m_chip; }
    QPushButton* playbackButton() const { return m_playback; }
    QScrollArea* channelList() const { return m_scroll; }
    QPushButton* cloudButton() const { return m_cloud; }

Q_SIGNALS:
    void checkHealth();
    void openLive();
    void openDevicePlayback();
    void openCloudPlayback();
    void openGrid();
    void channelPicked(const QString& channelId);

private:
    void clearList();

    ui::ElidedLabel* m_title = nullptr;
    ui::ElidedLabel* m_subtitle = nullptr;
    QLabel* m_chip = nullptr;
    QLabel* m_meta = nullptr;
    QPushButton* m_grid = nullptr;
    QPushButton* m_health = nullptr;
    QPushButton* m_live = nullptr;
    QPushButton* m_playback = nullptr;
    QPushButton* m_cloud = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_listLayout = nullptr;
    QString m_currentChannel;
};

// Page 1: the result of a device health check.
class HealthPage : public QWidget {
    Q_OBJECT
public:
    explicit HealthPage(QWidget* parent = nullptr);

    void setTitle(const QString& name);
    void setRows(const QList<HealthRow>& rows);

    static QString resultText(int state);
    QTableWidget* table() const { return m_table; }
    QLabel* title() const { return m_title; }

Q_SIGNALS:
    void refreshRequested();
    void backRequested();

private:
    ui::ElidedLabel* m_title = nullptr;
    QTableWidget* m_table = nullptr;
};

} // namespace kvr::shell
