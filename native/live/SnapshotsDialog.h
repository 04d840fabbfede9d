#pragma once

// Still pictures of a native device's cameras (every camera, or one), in a
// grid of cards, fetched over the device's own HTTP interface at most four at
// a time and kept for the whole process, so that reopening shows the last
// pictures at once. A double-click on a card, or Enter or Space on the card
// Tab reached, opens that camera live.

#include "app/core/RequestTicket.h"
#include "native/live/SnapshotCache.h"

#include <QDialog>
#include <QFrame>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace kvr::live {

class SnapshotsDialog : public QDialog {
    Q_OBJECT
public:
    // One card of the camera `channel`; a double-click, and Enter or Space
    // while it holds the focus, call its handler.
    class Tile : public QFrame {
    public:
        explicit Tile(int channel, QWidget* parent = nullptr);
        const int channel;
        std::function<void()> onDoubleClick;

    protected:
        void mouseDoubleClickEvent(QMouseEvent* event) override;
        void keyPressEvent(QKeyEvent* event) override;
    };

    SnapshotsDialog(const QString& deviceId, int channel, QWidget* parent = nullptr);
    ~SnapshotsDialog() override;

    void rebuild();
    void fetchAll();
    void pump();
    void done(int result) override;

    // For tests.
    QList<Tile*> cards() const;
    QLabel* statusLabel() const { return m_status; }
    QPushButton* fetchButton() const { return m_fetchButton; }
    QGridLayout* grid() const { return m_grid; }
    int inFlight() const { return m_inFlight; }
    int maxInFlightSeen() const { return m_maxInFlight; }
    int generation() const { return int(m_fetches.round()); }
    int queued() const { return int(m_queue.size()); }

private:
    void onReply(int channel, const services::NativeHttp::Response& reply);
    void dropMark(int channel);
    QMap<int, SnapshotRecord>& records() const;

    const QString m_deviceId;
    const int m_channel;
    QWidget* m_host = nullptr;
    QGridLayout* m_grid = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_fetchButton = nullptr;
    QTimer* m_refresh = nullptr;
    QList<int> m_queue;
    QSet<int> m_pending; // sent and not answered, of this round
    int m_inFlight = 0;
    int m_total = 0;
    core::TicketDesk m_fetches;
    int m_maxInFlight = 0;
};

} // namespace kvr::live
