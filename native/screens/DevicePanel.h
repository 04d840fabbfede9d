#pragma once

// The page that shows one device: a header with its name, address and
// status, a row of actions, and three tabs: the details of its last check
// (or the device form while editing), its uptime heat map, and its cameras.
// The panel keeps no device data: it reads the store whenever it draws and
// changes the device only through the store.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeStyle.h"
#include "native/services/NativeRecords.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class DeviceForm;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedLayout;
class QTabWidget;
class QTimer;
class QVBoxLayout;
class QLineEdit;
class QSpinBox;
class UptimeHeatmap;

// The text rules of the panel and its tabs.
namespace NativePanel {

// "NVR", "DVR", "PANEL", "IP camera".
QString typeLabel(const QString& type);
// "" for an invalid time, "HH:mm" today, else "d MMM HH:mm".
QString shortTime(const QDateTime& moment, const QDateTime& now);

struct HeaderStatus {
    NativeStyle::Disc dot = NativeStyle::Disc::Unknown;
    QString text;
    QString note;
};
HeaderStatus headerStatus(const Native::Device& device, bool busy, const QDateTime& now);

struct ChipText {
    QString text;
    NativeStyle::Chip kind = NativeStyle::Chip::Unknown;
    QString tip;
};
ChipText checkChip(int state, const QString& pass, const QString& fail, const QString& unknown, bool busy);
ChipText networkChip(const Native::Health& health, bool busy);
ChipText diskChip(const QString& hdd);
// The "Recording kept" chip; an empty text means "Not available for this brand".
ChipText recordingChip(const Native::Device& device);
// The text of an empty details field: "Not fetched yet" or an em dash.
QString emptyField(const Native::Health& health);
// The first channel not ignored, or 1.
int testLiveChannel(const Native::Device& device);
// The uptime percentage chip.
ChipText percentChip(double percent);
// A camera's name as the cameras tab shows it ("3_Lobby" on channel 3 shows "Lobby").
QString cameraDisplayName(const Native::Camera& camera);

} // namespace NativePanel

class UptimeTab : public QWidget {
    Q_OBJECT
public:
    explicit UptimeTab(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const QString& id);
    void reloadCameras();
    void refresh();

    int days() const { return m_days; }
    Native::GraphType series() const { return m_series; }
    void setRange(int segment);
    void setSeries(int segment);
    QComboBox* cameraChoice() const { return m_camera; }
    QLabel* percentChip() const { return m_chip; }
    QLabel* emptyLabel() const { return m_empty; }
    QWidget* chartBox() const { return m_chart; }
    UptimeHeatmap* heatmap() const { return m_heatmap; }
    QList<QPushButton*> rangeButtons() const { return m_rangeButtons; }
    QList<QPushButton*> seriesButtons() const { return m_seriesButtons; }
    int refreshCount() const { return m_refreshes; }

private:
    NativeContext m_context;
    QString m_id;
    int m_days = 7;
    Native::GraphType m_series = Native::GraphType::Device;
    QComboBox* m_camera = nullptr;
    QLabel* m_chip = nullptr;
    UptimeHeatmap* m_heatmap = nullptr;
    QWidget* m_chart = nullptr;
    QLabel* m_empty = nullptr;
    QTimer* m_timer = nullptr;
    QList<QPushButton*> m_rangeButtons;
    QList<QPushButton*> m_seriesButtons;
    int m_refreshes = 0;
};

class CamerasTab : public QWidget {
    Q_OBJECT
public:
    explicit CamerasTab(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const QString& id);
    QString signature() const;
    void refresh();
    void rebuild();
    void refreshRows(bool fresh);
    void save();
    // Forgets the rows' signature so the next refresh builds them anew.
    void clearSignature() { m_signature.clear(); }

    struct CameraRow {
        int channel = 0;
        NativeStyle::DiscDot* dot = nullptr;
        QLineEdit* name = nullptr;
        QSpinBox* blur = nullptr;
        QLabel* sub = nullptr;
        QString lastName;
        QPushButton* snapshot = nullptr;
        QPushButton* live = nullptr;
    };
    const QList<CameraRow>& rows() const { return m_rows; }
    QLabel* statusLine() const { return m_status; }
    QPushButton* saveButton() const { return m_save; }

private:
    NativeContext m_context;
    QString m_id;
    QString m_signature;
    QVBoxLayout* m_rowsLayout = nullptr;
    QWidget* m_rowsWidget = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_snapshots = nullptr;
    QList<CameraRow> m_rows;
};

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
    std::optional<Native::Device> device() const;
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

// One device panel in a modal dialog with a footer.
class DeviceDetailsDialog : public QDialog {
    Q_OBJECT
public:
    DeviceDetailsDialog(const NativeContext& context, const QString& deviceId, QWidget* parent = nullptr);

    DevicePanel* panel() const { return m_panel; }

Q_SIGNALS:
    void toast(const QString& text);

private:
    NativeContext m_context;
    DevicePanel* m_panel = nullptr;
};
