#pragma once

// The live events the devices pushed, newest first, with a filter and a
// line saying how many devices stream events. Refills itself while open,
// at most twice a second, keeping the current event; a double-click, or
// Enter or Space, opens the event's device.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeEvents.h"

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
// What tells an event from every other: the same key for the same event in
// every list of the recent events.
QString eventKey(const services::NativeEvents::Event& event);
// Why `waiting` recorders have no event stream: the open-file limit the
// system gives the program leaves room for `streamPlaces` streams.
QString heldBackText(int waiting, qint64 fileLimit, int streamPlaces);
// The summary with that said, when recorders wait.
QString summary(int connected, int eligible, int waiting, qint64 fileLimit, int streamPlaces);
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
