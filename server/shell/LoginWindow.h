#pragma once

#include "app/core/RequestTicket.h"
#include "server/api/ApiTypes.h"

#include <QList>
#include <QUrl>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace kvr::shell {

class BrandVideo;
class SignInProgress;
namespace LoginRules {
struct DigitEdit;
}

// The first window of server mode: sign-in with user name and password, the
// one-time code and mobile verification steps, lockout, the remembered
// sign-in, and the server dialog (the way into native mode).
class LoginWindow : public QWidget {
    Q_OBJECT
public:
    enum Page { FormPage = 0, CodePage = 1, MobilePage = 2, LockoutPage = 3 };

    explicit LoginWindow(QWidget* parent = nullptr);

    // Tries the remembered sign-in, if there is one.
    void restoreSavedSession();
    void setRestoring(bool on);
    // The message under "Sign in"; hidden when empty.
    void showError(const QString& text);
    void updateServerLabel();

    // What shows, for tests and the accessibility tree alike.
    Page currentPage() const;
    bool restoring() const;
    // How many times a remembered sign-in was tried in this run.
    int restoreAttempts() const { return m_restoreAttempts; }
    QList<QLineEdit*> otpBoxes() const { return m_otpBoxes; }
    SignInProgress* signInProgress() const { return m_progress; }
    QString otpCode() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void signedIn();
    void openNativeRequested();

private:
    QWidget* buildForm();
    QWidget* buildCodePage();
    QWidget* buildMobilePage();
    QWidget* buildLockoutPage();

    void runServerDialog();
    void submitLogin();
    // Gives up the sign-in under way; the form is as it was before.
    void cancelLogin();
    void handleLogin(const api::LoginStart& answer);
    void enterMobile(const QUrl& link);
    void enterLockout(const QString& message);
    void applySession(const api::LoginStart& answer);
    void backToSignIn();

    void enterOtp(const api::LoginStart& answer);
    void layoutOtpBoxes(int length);
    void digitChanged(int index, const QString& text);
    void spreadOverBoxes(const LoginRules::DigitEdit& edit);
    // `pasted` into the code field or a digit box; false when a box takes
    // it as typed (fewer than two digits) or `target` is neither.
    bool pasteCode(QObject* target, const QString& pasted);
    // The field's own right-click menu, its Paste going through pasteCode.
    void showCodeMenu(QLineEdit* edit, const QPoint& at);
    // Writes a box without its typing rule reacting.
    void setDigitBox(int index, const QString& text);
    // Resend at once, the countdown over (the page says to resend).
    void offerResend();
    void submitOtp();
    void otpAnswered(const api::LoginStart& answer);
    void resendCode();
    void resendAnswered(const api::LoginStart& answer);
    void startOtpCountdown(int seconds);
    void countdownTick();
    void showCodeError(const QString& text);

    // Widgets.
    QWidget* m_formBox = nullptr;
    QLabel* m_restoringLabel = nullptr;
    QStackedWidget* m_pages = nullptr;
    BrandVideo* m_film = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_showPassword = nullptr;
    QCheckBox* m_remember = nullptr;
    QPushButton* m_signIn = nullptr;
    SignInProgress* m_progress = nullptr;
    QLabel* m_error = nullptr;
    QPushButton* m_serverButton = nullptr;
    QLabel* m_codeHint = nullptr;
    QWidget* m_boxRow = nullptr;
    QLineEdit* m_otpField = nullptr;
    QLabel* m_codeError = nullptr;
    QPushButton* m_verify = nullptr;
    QPushButton* m_resend = nullptr;
    QLabel* m_mobileLabel = nullptr;
    QLabel* m_lockoutLabel = nullptr;

    // The code step.
    QString m_otpUserId;
    bool m_otpRemember = false;
    int m_otpLength = 6;
    bool m_otpBusy = false;
    int m_otpSecondsLeft = 0;
    QTimer* m_otpTimer = nullptr;
    QList<QLineEdit*> m_otpBoxes;
    QStringList m_boxTexts;   // what each box held before its latest change
    bool m_spreading = false; // the boxes are being written by the rules

    QUrl m_verificationLink;
    bool m_introPlayed = false;
    int m_restoreAttempts = 0;
    // Moves on whenever a step is left, so that late answers of an earlier
    // step are dropped.
    core::TicketDesk m_steps;
    // The sign-in under way: a cancelled one's answer is dropped.
    core::TicketDesk m_signIns;
};

} // namespace kvr::shell
