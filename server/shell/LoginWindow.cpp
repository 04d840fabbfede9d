#include "server/shell/LoginWindow.h"

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/ui/LayoutTools.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "server/shell/BrandVideo.h"
#include "server/shell/LoginRules.h"
#include "server/shell/ServerDialog.h"
#include "server/shell/ShellButton.h"
#include "server/shell/SignInProgress.h"
#include "server/shell/Tunables.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::shell {

using namespace LoginRules;

namespace {

QLabel* label(const QString& text, const char* objectName, QWidget* parent, bool wrap = false)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(objectName));
    l->setWordWrap(wrap);
    return l;
}

using ShellUi::button;

// Fades `widget` in from transparent; the effect goes when the animation ends.
void fadeIn(QWidget* widget, std::chrono::milliseconds duration, QEasingCurve curve = QEasingCurve::Linear)
{
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0.0);
    widget->setGraphicsEffect(effect);
    auto* animation = new QPropertyAnimation(effect, "opacity", effect);
    animation->setDuration(int(duration.count()));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setEasingCurve(curve);
    QObject::connect(animation, &QPropertyAnimation::finished, widget, [widget, effect] {
        if (widget->graphicsEffect() == effect)
            widget->setGraphicsEffect(nullptr); // deletes the effect and its animation
    });
    animation->start();
}

} // namespace

LoginWindow::LoginWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LoginRoot"));
    setWindowTitle(QStringLiteral("Kavira"));
    ScreenFit::keepWithin(this, QSize(1000, 640));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(Theme::loginStyle());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* left = new QWidget(this);
    left->setObjectName(QStringLiteral("LoginRight"));
    left->setAttribute(Qt::WA_StyledBackground);
    auto* col = new QVBoxLayout(left);
    col->setContentsMargins(40, 0, 40, 0);
    col->addStretch();
    auto* logo = new QLabel(left);
    QPixmap logoPixmap(QStringLiteral(":/brand/logo.png"));
    if (!logoPixmap.isNull()) {
        logoPixmap = logoPixmap.scaledToWidth(560, Qt::SmoothTransformation);
        logoPixmap.setDevicePixelRatio(2);
        logo->setPixmap(logoPixmap);
    }
    logo->setAccessibleName(QStringLiteral("Kavira"));
    logo->setAlignment(Qt::AlignCenter);
    logo->setFixedHeight(100);
    col->addWidget(logo, 0, Qt::AlignHCenter);
    col->addSpacing(28);

    m_formBox = new QWidget(left);
    m_formBox->setMinimumWidth(380);
    m_formBox->setMaximumWidth(440);
    auto* boxLayout = new QVBoxLayout(m_formBox);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(m_formBox);
    m_pages->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pages->addWidget(buildForm());
    m_pages->addWidget(buildCodePage());
    m_pages->addWidget(buildMobilePage());
    m_pages->addWidget(buildLockoutPage());
    boxLayout->addWidget(m_pages);
    col->addWidget(m_formBox, 0, Qt::AlignHCenter);

    m_restoringLabel = label(QStringLiteral("Signing you in…"), "LoginHeading", left);
    m_restoringLabel->setAlignment(Qt::AlignCenter);
    m_restoringLabel->hide();
    col->addWidget(m_restoringLabel, 0, Qt::AlignHCenter);
    col->addStretch();
    row->addWidget(left, 4);

    m_film = new BrandVideo(this);
    m_film->setObjectName(QStringLiteral("BrandPanel"));
    m_film->setMinimumWidth(480);
    row->addWidget(m_film, 5);

    m_otpTimer = new QTimer(this);
    m_otpTimer->setInterval(tun::kCountdownTick);
    connect(m_otpTimer, &QTimer::timeout, this, &LoginWindow::countdownTick);

    updateServerLabel();
    const QString remembered = Prefs::get(Prefs::kRememberUser);
    if (!remembered.isEmpty()) {
        m_user->setText(remembered);
        m_remember->setChecked(true);
    }
}

QWidget* LoginWindow::buildForm()
{
    auto* page = new QWidget(m_pages);
    auto* f = new QVBoxLayout(page);
    f->setContentsMargins(0, 0, 0, 0);
    f->setSpacing(10);
    f->addWidget(label(QStringLiteral("Welcome back"), "LoginHeading", page));
    f->addWidget(label(QStringLiteral("Sign in to your Kavira account."), "LoginHelper", page));
    f->addSpacing(18);
    auto* userLabel = label(QStringLiteral("Username"), "LoginLabel", page);
    f->addWidget(userLabel);
    m_user = new QLineEdit(page);
    m_user->setObjectName(QStringLiteral("LoginField"));
    userLabel->setBuddy(m_user);
    f->addWidget(m_user);
    auto* passwordLabel = label(QStringLiteral("Password"), "LoginLabel", page);
    f->addWidget(passwordLabel);
    auto* passwordRow = new QHBoxLayout();
    m_password = new QLineEdit(page);
    m_password->setObjectName(QStringLiteral("LoginField"));
    m_password->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_password);
    passwordRow->addWidget(m_password, 1);
    m_showPassword = button(QStringLiteral("Show"), "LoginText", page);
    m_showPassword->setAccessibleName(QStringLiteral("Show password"));
    passwordRow->addWidget(m_showPassword);
    f->addLayout(passwordRow);
    m_remember = new QCheckBox(QStringLiteral("Remember me for 7 days"), page);
    f->addWidget(m_remember);
    f->addSpacing(8);
    m_signIn = button(QStringLiteral("Sign in"), "LoginPrimary", page);
    m_signIn->setDefault(true);
    f->addWidget(m_signIn);
    m_progress = new SignInProgress(page);
    f->addWidget(m_progress);
    m_error = label(QString(), "LoginError", page, true);
    m_error->hide();
    f->addWidget(m_error);
    f->addStretch();
    m_serverButton = button(QString(), "LoginText", page);
    m_serverButton->setToolTip(QStringLiteral("Choose which server to sign in to"));
    f->addWidget(m_serverButton, 0, Qt::AlignLeft);

    connect(m_showPassword, &QPushButton::clicked, this, [this] {
        const bool hidden = m_password->echoMode() == QLineEdit::Password;
        m_password->setEchoMode(hidden ? QLineEdit::Normal : QLineEdit::Password);
        m_showPassword->setText(hidden ? QStringLiteral("Hide") : QStringLiteral("Show"));
        m_showPassword->setAccessibleName(hidden ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
    });
    connect(m_signIn, &QPushButton::clicked, this, &LoginWindow::submitLogin);
    connect(m_progress, &SignInProgress::cancelRequested, this, &LoginWindow::cancelLogin);
    connect(&AppContext::instance().api, &ApiClient::loginSent, m_progress, &SignInProgress::requestSent);
    connect(m_user, &QLineEdit::returnPressed, this, &LoginWindow::submitLogin);
    connect(m_password, &QLineEdit::returnPressed, this, &LoginWindow::submitLogin);
    // The dialog runs outside the click's handler.
    connect(m_serverButton, &QPushButton::clicked, this, &LoginWindow::runServerDialog, Qt::QueuedConnection);
    return page;
}

QWidget* LoginWindow::buildCodePage()
{
    auto* page = new QWidget(m_pages);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(label(QStringLiteral("Enter the code"), "LoginHeading", page));
    m_codeHint = label(QString(), "LoginHelper", page, true);
    v->addWidget(m_codeHint);
    m_boxRow = new QWidget(page);
    auto* boxes = new QHBoxLayout(m_boxRow);
    boxes->setContentsMargins(0, 8, 0, 8);
    boxes->setSpacing(8);
    v->addWidget(m_boxRow);
    m_otpField = new QLineEdit(page);
    m_otpField->setObjectName(QStringLiteral("OtpField"));
    m_otpField->setPlaceholderText(QStringLiteral("Enter the code"));
    m_otpField->setAccessibleName(QStringLiteral("Code"));
    m_otpField->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^\\d*$")), m_otpField));
    m_otpField->installEventFilter(this);
    v->addWidget(m_otpField);
    m_codeError = label(QString(), "LoginError", page, true);
    m_codeError->hide();
    v->addWidget(m_codeError);
    m_verify = button(QStringLiteral("Verify"), "LoginPrimary", page);
    v->addWidget(m_verify);
    m_resend = button(QStringLiteral("Resend code"), "LoginText", page);
    v->addWidget(m_resend);
    auto* back = button(QStringLiteral("Back to sign in"), "LoginText", page);
    v->addWidget(back);
    v->addStretch();

    connect(m_verify, &QPushButton::clicked, this, &LoginWindow::submitOtp);
    connect(m_otpField, &QLineEdit::returnPressed, this, &LoginWindow::submitOtp);
    connect(m_resend, &QPushButton::clicked, this, &LoginWindow::resendCode);
    connect(back, &QPushButton::clicked, this, &LoginWindow::backToSignIn);
    return page;
}

QWidget* LoginWindow::buildMobilePage()
{
    auto* page = new QWidget(m_pages);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(label(QStringLiteral("Verify your mobile number"), "LoginHeading", page));
    m_mobileLabel = label(QStringLiteral("Open the link from the server to continue."), "LoginHelper", page, true);
    v->addWidget(m_mobileLabel);
    auto* open = button(QStringLiteral("Open verification"), "LoginPrimary", page);
    v->addWidget(open);
    auto* back = button(QStringLiteral("Back to sign in"), "LoginText", page);
    v->addWidget(back);
    v->addStretch();
    connect(open, &QPushButton::clicked, this, [this] {
        if (m_verificationLink.isValid())
            QDesktopServices::openUrl(m_verificationLink);
    });
    connect(back, &QPushButton::clicked, this, &LoginWindow::backToSignIn);
    return page;
}

QWidget* LoginWindow::buildLockoutPage()
{
    auto* page = new QWidget(m_pages);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    m_lockoutLabel = label(QString(), "LoginError", page, true);
    v->addWidget(m_lockoutLabel);
    auto* back = button(QStringLiteral("Back to sign in"), "LoginPrimary", page);
    v->addWidget(back);
    v->addStretch();
    connect(back, &QPushButton::clicked, this, &LoginWindow::backToSignIn);
    return page;
}

LoginWindow::Page LoginWindow::currentPage() const
{
    return Page(m_pages->currentIndex());
}

bool LoginWindow::restoring() const
{
    return m_restoringLabel->isVisibleTo(const_cast<LoginWindow*>(this));
}

void LoginWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_introPlayed)
        return;
    m_introPlayed = true;
    fadeIn(m_pages, tun::kIntroFade, QEasingCurve::OutCubic);
}

void LoginWindow::updateServerLabel()
{
    m_serverButton->setText(serverLabel(AppContext::instance().api.baseUrl()));
}

void LoginWindow::setRestoring(bool on)
{
    m_formBox->setVisible(!on);
    m_restoringLabel->setVisible(on);
}

void LoginWindow::showError(const QString& text)
{
    m_error->setText(text);
    m_error->setVisible(!text.isEmpty());
    if (!text.isEmpty())
        fadeIn(m_error, tun::kErrorFade);
}

void LoginWindow::runServerDialog()
{
    QPointer<LoginWindow> self(this);
    ServerDialog dialog(this);
    const int result = Modal::exec(dialog);
    if (!self || result != QDialog::Accepted)
        return;
    if (dialog.nativeChosen()) {
        Q_EMIT openNativeRequested();
        return;
    }
    showError(QString());
    updateServerLabel();
}

void LoginWindow::submitLogin()
{
    if (!m_signIn->isEnabled())
        return;
    // Nothing is sent without both: a failed sign-in empties the password
    // field, and Return pressed there again would send it empty.
    if (const QString missing = missingEntry(m_user->text(), m_password->text()); !missing.isEmpty()) {
        showError(missing);
        (m_user->text().trimmed().isEmpty() ? m_user : m_password)->setFocus(Qt::OtherFocusReason);
        return;
    }
    showError(QString());
    m_signIn->setEnabled(false);
    m_signIn->setText(QStringLiteral("Signing in"));
    ApiClient& api = AppContext::instance().api;
    m_progress->start(ApiRules::endpointText(QUrl(api.baseUrl(), QUrl::TolerantMode)));
    const RequestTicket ticket = m_signIns.issue();
    api.login(
        m_user->text().trimmed(), m_password->text(), m_remember->isChecked(),
        [this, ticket](const LoginStart& answer) {
            // In a later turn of the event loop, unless cancelled by then.
            QMetaObject::invokeMethod(
                this,
                [this, ticket, answer] {
                    if (ticket.current())
                        handleLogin(answer);
                },
                Qt::QueuedConnection);
        },
        this);
}

void LoginWindow::cancelLogin()
{
    m_signIns.supersede();
    AppContext::instance().api.cancelLogin();
    m_progress->stop();
    m_signIn->setEnabled(true);
    m_signIn->setText(QStringLiteral("Sign in"));
    m_password->setFocus();
}

void LoginWindow::handleLogin(const LoginStart& answer)
{
    m_progress->stop();
    m_signIn->setEnabled(true);
    m_signIn->setText(QStringLiteral("Sign in"));
    m_password->clear();
    switch (routeOf(answer)) {
    case LoginRoute::Lockout:
        enterLockout(answer.message);
        return;
    case LoginRoute::Error:
        showError(answer.error.isEmpty() ? QStringLiteral("Username or password is incorrect.") : answer.error);
        return;
    case LoginRoute::Mobile:
        enterMobile(answer.verificationLink);
        return;
    case LoginRoute::Code:
        enterOtp(answer);
        return;
    case LoginRoute::Session:
        applySession(answer);
        return;
    }
}

void LoginWindow::enterMobile(const QUrl& link)
{
    m_verificationLink = link;
    m_mobileLabel->setText(link.isValid() ? link.toString()
                                          : QStringLiteral("Open the link from the server to continue."));
    m_pages->setCurrentIndex(MobilePage);
}

void LoginWindow::enterLockout(const QString& message)
{
    m_lockoutLabel->setText(message);
    m_pages->setCurrentIndex(LockoutPage);
}

void LoginWindow::applySession(const LoginStart& answer)
{
    if (answer.step != LoginStart::SignedIn || answer.accessToken.isEmpty()) {
        const QString text =
            answer.error.isEmpty() ? QStringLiteral("Sign-in did not return a session.") : answer.error;
        if (m_pages->currentIndex() == CodePage)
            showCodeError(text);
        else
            showError(text);
        return;
    }
    AppContext& ctx = AppContext::instance();
    ctx.api.setAccessToken(answer.accessToken);
    ctx.api.setRefreshToken(answer.refreshToken);
    ctx.api.startSessionKeepAlive(answer.expiresIn);
    const QString user = m_user->text().trimmed();
    QString notKept; // why "Remember me" (or its absence) could not be kept
    if (m_remember->isChecked()) {
        const bool nameKept = Prefs::set(Prefs::kRememberUser, user);
        if (!SessionStore::save({user, answer.refreshToken, QDateTime::currentDateTimeUtc()}))
            notKept = notRememberedText(SessionStore::filePath(), SessionStore::lastWriteProblem());
        else if (!nameKept)
            notKept = Prefs::notKeptText();
    } else {
        if (!Prefs::remove(Prefs::kRememberUser.name))
            notKept = Prefs::notKeptText();
        SessionStore::clear();
    }
    if (!answer.user.username.isEmpty() || !answer.user.organisationName.isEmpty())
        ctx.user = answer.user;
    const RequestTicket ticket = RequestTicket::heldBy(this);
    ctx.api.fetchMe([this, ticket, notKept](const UserProfile& profile, const QString&) {
        if (!ticket.current())
            return;
        AppContext& c = AppContext::instance();
        if (!profile.organisationName.isEmpty() || (!profile.username.isEmpty() && c.user.organisationName.isEmpty()))
            c.user = profile;
        // When the window shows again after a sign-out, it shows the form,
        // not the code step that has been used up.
        backToSignIn();
        if (notKept.isEmpty()) {
            Q_EMIT signedIn();
            return;
        }
        // Said here, where the choice was made, before the main window
        // takes over; outside the answer's handler, as the notice waits.
        QTimer::singleShot(0, this, [this, notKept] {
            Modal::inform(this, QStringLiteral("Can’t remember the sign-in"), notKept, QMessageBox::Warning);
            Q_EMIT signedIn();
        });
    });
}

void LoginWindow::backToSignIn()
{
    m_steps.supersede();
    m_otpTimer->stop();
    m_otpSecondsLeft = 0;
    m_otpUserId.clear();
    m_otpRemember = false;
    m_otpBusy = false;
    m_verify->setEnabled(true);
    m_resend->setEnabled(true);
    m_resend->setText(QStringLiteral("Resend code"));
    m_otpField->clear();
    for (QLineEdit* box : std::as_const(m_otpBoxes))
        box->clear();
    m_codeError->hide();
    m_pages->setCurrentIndex(FormPage);
}

void LoginWindow::restoreSavedSession()
{
    ++m_restoreAttempts;
    const std::optional<SavedSession> saved = SessionStore::load();
    if (!saved)
        return;
    m_user->setText(saved->username);
    m_remember->setChecked(true);
    setRestoring(true);
    ApiClient& api = AppContext::instance().api;
    api.setRefreshToken(saved->refreshToken);
    const RequestTicket ticket = RequestTicket::heldBy(this);
    api.refresh([this, ticket](const LoginStart& answer) {
        if (!ticket.current())
            return;
        ApiClient& client = AppContext::instance().api;
        if (answer.step != LoginStart::SignedIn) {
            if (restoreFailure(answer) == RestoreFailure::ForgetRemembered)
                SessionStore::clear();
            client.setRefreshToken(QString());
            setRestoring(false);
            return;
        }
        client.startSessionKeepAlive(answer.expiresIn);
        client.fetchMe([this, ticket](const UserProfile& profile, const QString&) {
            if (!ticket.current())
                return;
            if (profile.username.isEmpty() && profile.organisationName.isEmpty()) {
                // No usable profile: the remembered sign-in stays for a later try.
                AppContext::instance().api.setAccessToken(QString());
                setRestoring(false);
                return;
            }
            AppContext::instance().user = profile;
            setRestoring(false);
            backToSignIn();
            Q_EMIT signedIn();
        });
    });
}

// ---- One-time code ------------------------------------------------------

void LoginWindow::enterOtp(const LoginStart& answer)
{
    m_steps.supersede();
    m_otpBusy = false;
    m_verify->setEnabled(true);
    m_otpUserId = answer.userId;
    m_otpRemember = answer.rememberMe || m_remember->isChecked();
    m_otpLength = answer.otpLength < 1 ? tun::kDefaultOtpLength : answer.otpLength;
    m_codeHint->setText(codeHint(m_otpLength, answer.contact));
    m_otpField->setMaxLength(m_otpLength);
    m_otpField->clear();
    m_codeError->hide();
    layoutOtpBoxes(m_otpLength);
    m_pages->setCurrentIndex(CodePage);
    if (!m_otpBoxes.isEmpty())
        m_otpBoxes.first()->setFocus(Qt::OtherFocusReason);
    else
        m_otpField->setFocus(Qt::OtherFocusReason);
    startOtpCountdown(answer.otpTime < 1 ? int(tun::kDefaultOtpValidity.count()) : answer.otpTime);
}

void LoginWindow::layoutOtpBoxes(int length)
{
    QLayout* row = m_boxRow->layout();
    emptyLayout(row, OldWidgets::Deleted);
    m_otpBoxes.clear();
    m_boxTexts.clear();
    const bool boxes = length == tun::kDigitBoxCount;
    m_boxRow->setVisible(boxes);
    m_otpField->setVisible(!boxes);
    if (!boxes)
        return;
    auto* h = static_cast<QHBoxLayout*>(row);
    h->addStretch();
    for (int i = 0; i < tun::kDigitBoxCount; ++i) {
        auto* box = new QLineEdit(m_boxRow);
        box->setObjectName(QStringLiteral("OtpDigit"));
        // A whole pasted code fits into one box; the typing rule then spreads it.
        box->setMaxLength(tun::kDigitBoxMaxChars);
        box->setAlignment(Qt::AlignCenter);
        box->setFixedSize(48, 56);
        box->setAccessibleName(QStringLiteral("Digit %1 of the code").arg(i + 1));
        box->installEventFilter(this);
        h->addWidget(box);
        m_otpBoxes.append(box);
        m_boxTexts.append(QString());
        connect(box, &QLineEdit::textChanged, this, [this, i](const QString& t) { digitChanged(i, t); });
        connect(box, &QLineEdit::returnPressed, this, &LoginWindow::submitOtp);
    }
    h->addStretch();
}

void LoginWindow::digitChanged(int index, const QString& text)
{
    if (m_spreading || index >= m_otpBoxes.size())
        return;
    const QString before = std::exchange(m_boxTexts[index], text);
    const DigitEdit edit = digitBoxChanged(index, before, text, int(m_otpBoxes.size()));
    switch (edit.action) {
    case DigitEdit::Nothing:
        return;
    case DigitEdit::Typed:
    case DigitEdit::Reject:
        if (text != edit.kept)
            setDigitBox(index, edit.kept);
        if (edit.focus >= 0)
            m_otpBoxes.at(edit.focus)->setFocus(Qt::OtherFocusReason);
        return;
    case DigitEdit::Spread:
        spreadOverBoxes(edit);
        return;
    }
}

void LoginWindow::setDigitBox(int index, const QString& text)
{
    m_spreading = true;
    m_otpBoxes.at(index)->setText(text);
    m_boxTexts[index] = text;
    m_spreading = false;
}

void LoginWindow::spreadOverBoxes(const DigitEdit& edit)
{
    for (int k = 0; k < m_otpBoxes.size(); ++k)
        setDigitBox(k, edit.boxes.value(k));
    if (edit.focus >= 0)
        m_otpBoxes.at(edit.focus)->setFocus(Qt::OtherFocusReason);
}

bool LoginWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A box the focus lands on, by a click, Tab or the typing rule, has its
    // digit selected: what is typed next takes its place.
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonRelease) {
        if (auto* box = qobject_cast<QLineEdit*>(watched); box && m_otpBoxes.contains(box))
            QTimer::singleShot(0, box, &QLineEdit::selectAll);
    }
    const auto* key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
    if (key && key->matches(QKeySequence::Paste))
        return pasteCode(watched, QGuiApplication::clipboard()->text());
    // A middle click pastes the text selected elsewhere (where the window
    // system keeps one): the same paste, not a paste into the box's digit.
    const auto* mouse = event->type() == QEvent::MouseButtonRelease ? static_cast<QMouseEvent*>(event) : nullptr;
    if (mouse && mouse->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()
        && pasteCode(watched, QGuiApplication::clipboard()->text(QClipboard::Selection)))
        return true;
    // The field's own menu pastes as the keyboard does: its Paste would put
    // the text into the one box, the digit already there beside it.
    if (event->type() == QEvent::ContextMenu) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && (edit == m_otpField || m_otpBoxes.contains(edit))) {
            showCodeMenu(edit, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    if (key && key->key() == Qt::Key_Backspace) {
        const int i = int(m_otpBoxes.indexOf(qobject_cast<QLineEdit*>(watched)));
        if (i > 0 && m_otpBoxes.at(i)->text().isEmpty()) {
            QLineEdit* previous = m_otpBoxes.at(i - 1);
            previous->setFocus(Qt::OtherFocusReason);
            previous->clear();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LoginWindow::showCodeMenu(QLineEdit* edit, const QPoint& at)
{
    QMenu* menu = edit->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu's Paste is known by the words the field gives it.
    const auto actions = menu->actions();
    const auto found = std::find_if(actions.cbegin(), actions.cend(), [](const QAction* a) {
        return a->text().section(QLatin1Char('\t'), 0, 0) == QLineEdit::tr("&Paste");
    });
    if (found != actions.cend()) {
        QAction* paste = *found;
        disconnect(paste, &QAction::triggered, edit, nullptr);
        connect(paste, &QAction::triggered, edit, [this, edit] {
            if (!pasteCode(edit, QGuiApplication::clipboard()->text()))
                edit->paste();
        });
    }
    menu->popup(at);
}

bool LoginWindow::pasteCode(QObject* target, const QString& pasted)
{
    // A code as mail and messages show it ("123 456"): its digits alone,
    // whatever the box or the field held and however long it is.
    if (target == m_otpField) {
        m_otpField->insert(digitsOf(pasted));
        return true;
    }
    const DigitEdit edit = codePasted(pasted, int(m_otpBoxes.size()));
    if (m_otpBoxes.contains(qobject_cast<QLineEdit*>(target)) && edit.action == DigitEdit::Spread) {
        spreadOverBoxes(edit);
        return true;
    }
    return false;
}

QString LoginWindow::otpCode() const
{
    if (!m_otpBoxes.isEmpty() && m_boxRow->isVisibleTo(m_pages)) {
        QString code;
        for (const QLineEdit* box : m_otpBoxes)
            code += box->text();
        return code.trimmed();
    }
    return m_otpField->text().trimmed();
}

void LoginWindow::showCodeError(const QString& text)
{
    m_codeError->setText(text);
    m_codeError->show();
}

void LoginWindow::submitOtp()
{
    if (m_otpBusy || !m_verify->isEnabled())
        return;
    m_codeError->hide();
    const QString code = otpCode();
    if (code.size() != m_otpLength) {
        showCodeError(QStringLiteral("Enter the %1-digit code.").arg(m_otpLength));
        return;
    }
    if (m_otpUserId.isEmpty()) {
        showCodeError(QStringLiteral("Sign in again, then enter the new code."));
        return;
    }
    m_otpBusy = true;
    m_verify->setEnabled(false);
    const RequestTicket step = m_steps.ticket();
    AppContext::instance().api.verifyOtp(m_otpUserId, code, m_otpRemember, [this, step](const LoginStart& answer) {
        if (step.current())
            otpAnswered(answer);
    });
}

void LoginWindow::otpAnswered(const LoginStart& answer)
{
    if (answer.step != LoginStart::SignedIn) {
        m_otpBusy = false;
        m_verify->setEnabled(true);
    }
    if (answer.userNotFound) {
        backToSignIn();
        showError(answer.error);
        return;
    }
    if (!answer.message.isEmpty()) {
        enterLockout(answer.message);
        return;
    }
    if (answer.step == LoginStart::SignedIn) {
        applySession(answer);
        return;
    }
    showCodeError(codeErrorText(answer.error));
    // The page says to resend: a countdown still running must not stand in the way.
    if (codeExpired(answer.error))
        offerResend();
}

void LoginWindow::offerResend()
{
    m_otpTimer->stop();
    m_otpSecondsLeft = 0;
    m_resend->setEnabled(true);
    m_resend->setText(QStringLiteral("Resend code"));
}

void LoginWindow::resendCode()
{
    if (m_otpUserId.isEmpty() || !m_resend->isEnabled())
        return;
    m_resend->setEnabled(false);
    m_codeError->hide();
    const RequestTicket step = m_steps.ticket();
    AppContext::instance().api.resendOtp(m_otpUserId, [this, step](const LoginStart& answer) {
        if (step.current())
            resendAnswered(answer);
    });
}

void LoginWindow::resendAnswered(const LoginStart& answer)
{
    if (!answer.message.isEmpty()) {
        enterLockout(answer.message);
        return;
    }
    if (!answer.error.isEmpty() && !answer.otpAlreadySent && !answer.otpResent) {
        showCodeError(answer.error);
        m_resend->setEnabled(resendUsable(m_otpSecondsLeft));
        return;
    }
    if (answer.otpTime >= 1)
        startOtpCountdown(answer.otpTime);
    // Without a new validity no countdown will give the button back: it is
    // usable again as soon as no countdown runs, never left disabled for good.
    if (answer.otpResent) {
        m_resend->setText(QStringLiteral("Code sent"));
        QTimer::singleShot(tun::kCodeSentShown, this, [this] {
            if (resendUsable(m_otpSecondsLeft))
                offerResend();
        });
        return;
    }
    // Refused without sending one (a code already exists, or no reason
    // given): the page says why no new code came.
    showCodeError(resendRefusal(answer.error));
    if (resendUsable(m_otpSecondsLeft))
        offerResend();
}

void LoginWindow::startOtpCountdown(int seconds)
{
    m_otpSecondsLeft = seconds;
    m_otpTimer->start();
    m_resend->setEnabled(false);
    m_resend->setText(resendCountdownText(seconds));
}

void LoginWindow::countdownTick()
{
    if (resendUsable(m_otpSecondsLeft)) {
        offerResend();
        return;
    }
    m_resend->setEnabled(false);
    m_resend->setText(resendCountdownText(m_otpSecondsLeft));
    --m_otpSecondsLeft;
}

} // namespace kvr::shell
