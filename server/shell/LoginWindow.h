#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QCheckBox;

// The first window of server mode: sign-in, one-time codes, remembered
// sign-in and the way into native mode.
class LoginWindow : public QWidget {
    Q_OBJECT
public:
    explicit LoginWindow(QWidget* parent = nullptr);

    // Tries the remembered sign-in, if there is one.
    void restoreSavedSession();
    // How many times a remembered sign-in was tried in this run.
    int restoreAttempts() const { return m_restoreAttempts; }

Q_SIGNALS:
    void signedIn();
    void openNativeRequested();

private:
    // Hides the form behind "Signing you in…" while a remembered sign-in is tried.
    void setRestoring(bool restoring);

    QWidget* m_form = nullptr;
    QLabel* m_restoring = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_remember = nullptr;
    QLabel* m_error = nullptr;
    int m_restoreAttempts = 0;
};
