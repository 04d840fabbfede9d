#pragma once

#include "native/screens/NativeContext.h"
#include "native/services/NativeRecords.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kvr::screens {

class UptimeHeatmap;

// The device panel's uptime tab: a heat map of the device, its internet
// link or one camera over a day, a week or a month, and its percentage.
class UptimeTab : public QWidget {
    Q_OBJECT
public:
    explicit UptimeTab(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const QString& id);
    void reloadCameras();
    void refresh();

    int days() const { return m_days; }
    services::Native::GraphType series() const { return m_series; }
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
    services::Native::GraphType m_series = services::Native::GraphType::Device;
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

} // namespace kvr::screens
