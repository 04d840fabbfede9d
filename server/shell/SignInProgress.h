#pragma once

// The line under "Sign in" while a sign-in is under way: where it stands
// (connecting to the server, or connected and waiting for its answer, with
// the seconds waited so far) beside a Cancel button. A server that takes the
// connection and never answers keeps a person waiting until the request
// times out; this shows them what is happening and lets them stop.

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace kvr::shell {

class SignInProgress : public QWidget {
    Q_OBJECT
public:
    explicit SignInProgress(QWidget* parent = nullptr);

    // A sign-in to `endpoint` ("host:port") has started: shown, connecting.
    void start(const QString& endpoint);
    // Its request reached the server; the answer is awaited.
    void requestSent();
    // It ended (answered or cancelled): hidden.
    void stop();
    bool running() const { return m_running; }

    QLabel* textLabel() const { return m_text; }
    QPushButton* cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void cancelRequested();

private:
    void showStage();

    QLabel* m_text = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer* m_tick = nullptr;
    QString m_endpoint;
    bool m_running = false;
    bool m_sent = false;
    qint64 m_startedMs = 0; // monotonic
};

} // namespace kvr::shell
