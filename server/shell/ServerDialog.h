#pragma once

#include "app/core/RequestTicket.h"
#include "server/shell/ServerRules.h"

#include <QDialog>
#include <QList>
#include <QNetworkReply>
#include <QString>

#include <utility>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kvr::shell {

// Where the app signs in and loads its cameras, the optional video relay,
// a connection test, and the way into native mode.
class ServerDialog : public QDialog {
    Q_OBJECT
public:
    explicit ServerDialog(QWidget* parent = nullptr);

    static QString normalizeUrl(const QString& text) { return ServerRules::normalizeUrl(text); }

    // Closed through "Open native".
    bool nativeChosen() const { return m_nativeChosen; }
    QSize sizeHint() const override;

    void runTest();
    void save();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void useDefault();
    void openNative();
    // Says so when the settings file could not keep what was just saved.
    void tellIfNotKept();
    void showResult(ServerRules::TestVerdict verdict, const QString& text);
    // Says so and returns true when the server or the relay address holds a
    // user name or password.
    bool refusesLogins(const QString& base);

    QCheckBox* m_alwaysNative = nullptr;
    QLineEdit* m_server = nullptr;
    // The address the server field opened with when it came from
    // KVR_API_BASE: saved as it stands, it is not the person's to store.
    QString m_environmentBase;
    QLineEdit* m_relay = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_test = nullptr;
    bool m_nativeChosen = false;
    bool m_sizedOnce = false;
    core::TicketDesk m_checks;
};

} // namespace kvr::shell
