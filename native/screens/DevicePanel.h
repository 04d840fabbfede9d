#pragma once

// The page that shows one device: a header with its name, address and
// status, a row of actions, and three tabs: the details of its last check
// (or the device form while editing), its uptime heat map, and its cameras.
// The panel keeps no device data: it reads the store whenever it draws and
// changes the device only through the store.

#include "native/screens/CamerasTab.h"
#include "native/screens/DevicePanelRules.h"
#include "native/screens/NativeContext.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/Toast.h"
#include "native/screens/UptimeTab.h"
#include "native/services/NativeRecords.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QStackedLayout;
class QTabWidget;
class QVBoxLayout;

namespace kvr::screens {

class DeviceForm;

class DevicePanel : public QWidget {
    Q_OBJECT
public:
    explicit DevicePanel(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const QString& id);
    QString deviceId() const { return m_id; }
    void refresh();
    void refreshHeader();
    void rebuildDetails();
    void run(bool fetch);
    void toggleEnabled();
    void removeDevice();
    void rebuildLater();
    void startEdit();
    void finishEdit(bool save);

    bool isEditing() const { return m_editing; }
    bool isPasswordShown() const { return m_passwordShown; }
    int currentPage() const;
    QLabel* titleLabel() const { return m_title; }
    QLabel* subtitleLabel() const { return m_subtitle; }
    QLabel* statusText() const { return m_statusText; }
    QPushButton* action(int i) const { return m_actions.value(i); }
    QTabWidget* tabs() const { return m_tabs; }
    QWidget* detailsWidget() const { return m_details; }
    UptimeTab* uptimeTab() const { return m_uptime; }
    CamerasTab* camerasTab() const { return m_cameras; }
    DeviceForm* form() const { return m_form; }

    enum Action : int { RunDiagnostic = 0, FetchInfo, Snapshots, Calendar, TestLive, Reports, Enable };

Q_SIGNALS:
    void reportRequested(const QString& id);
    void editSiteRequested(const QString& siteId);
    void deviceGone();

private:
    std::optional<services::Native::Device> device() const;
    // Runs a media hook outside the clicked button's handler.
    void openMedia(int action);

    NativeContext m_context;
    QString m_id;
    bool m_editing = false;
    bool m_passwordShown = false;
    QStackedLayout* m_stack = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    NativeStyle::DiscDot* m_dot = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_note = nullptr;
    QList<QPushButton*> m_actions;
    QTabWidget* m_tabs = nullptr;
    QWidget* m_details = nullptr;
    QVBoxLayout* m_detailsLayout = nullptr;
    UptimeTab* m_uptime = nullptr;
    CamerasTab* m_cameras = nullptr;
    QPointer<DeviceForm> m_form;
};

// One device panel in a modal dialog with a footer. What it confirms (a
// report written) shows in a toast over the dialog, where the person works.
// Closing it while the device form holds typed changes asks first.
class DeviceDetailsDialog : public QDialog {
    Q_OBJECT
public:
    DeviceDetailsDialog(const NativeContext& context, const QString& deviceId, QWidget* parent = nullptr);

    DevicePanel* panel() const { return m_panel; }
    QLabel* toastLabel() const { return m_toast; }

    // Escape and the window's close control: asks before typed changes of
    // the device form are thrown away.
    void reject() override;

private:
    // Whether the dialog may close now: no typed changes, or the person chose
    // to discard them.
    bool mayClose();

    NativeContext m_context;
    DevicePanel* m_panel = nullptr;
    Toast* m_toast = nullptr;
};

} // namespace kvr::screens
