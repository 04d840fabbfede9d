#pragma once

// The live events the devices pushed, newest first, with a filter and a
// line saying how many devices stream events. Refills itself while open,
// at most twice a second; a double-click opens the event's device.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeUi.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

namespace kvr::screens {

namespace NativeEventText {
enum Group : int { Problems, Detections, Others };
Group groupOf(int kind);
enum Filter : int { AllEvents = 0, ProblemsOnly = 1, Detections_ = 2 };
// Whether an event of the kind shows under the filter index.
bool passes(int filterIndex, int kind);
// The CAMERA column.
QString cameraText(const services::Native::Device* device, int channel);
QString summary(int connected, int eligible);
} // namespace NativeEventText

class EventsDialog : public NativeDialogBase {
    Q_OBJECT
public:
    explicit EventsDialog(const NativeContext& context, QWidget* parent = nullptr);

    void refill();

    QComboBox* filterField() const { return m_filter; }
    QLabel* summaryLabel() const { return m_summary; }
    QTableWidget* table() const { return m_table; }
    QTimer* refillTimer() const { return m_timer; }
    int refillCount() const { return m_refills; }

Q_SIGNALS:
    void openDevice(const QString& id);

private:
    NativeContext m_context;
    QComboBox* m_filter = nullptr;
    QLabel* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
    QTimer* m_timer = nullptr;
    int m_refills = 0;
};

} // namespace kvr::screens
