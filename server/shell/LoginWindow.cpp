#include "server/shell/LoginWindow.h"

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/ui/Theme.h"
#include "server/api/ApiPolicy.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

LoginWindow::LoginWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LoginRoot"));
    setWindowTitle(QStringLiteral("Kavira"));
    setMinimumSize(1000, 640);
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
    logo->setAlignment(Qt::AlignCenter);
    logo->setFixedHeight(100);
    col->addWidget(logo, 0, Qt::AlignHCenter);
    col->addSpacing(28);

    auto* form = new QWidget(left);
    form->setMinimumWidth(380);
    form->setMaximumWidth(440);
    auto* f = new QVBoxLayout(form);
    f->setContentsMargins(0, 0, 0, 0);
    f->setSpacing(10);
    auto* heading = new QLabel(QStringLiteral("Welcome back"), form);
    heading->setObjectName(QStringLiteral("LoginHeading"));
    f->addWidget(heading);
    auto* helper = new QLabel(QStringLiteral("Sign in to your Kavira account."), form);
    helper->setObjectName(QStringLiteral("LoginHelper"));
    f->addWidget(helper);
    f->addSpacing(18);
    auto* userLabel = new QLabel(QStringLiteral("Username"), form);
    userLabel->setObjectName(QStringLiteral("LoginLabel"));
    f->addWidget(userLabel);
    m_user = new QLineEdit(form);
    m_user->setObjectName(QStringLiteral("LoginField"));
    f->addWidget(m_user);
    auto* passLabel = new QLabel(QStringLiteral("Password"), form);
    passLabel->setObjectName(QStringLiteral("LoginLabel"));
    f->addWidget(passLabel);
    m_password = new QLineEdit(form);
    m_password->setObjectName(QStringLiteral("LoginField"));
    m_password->setEchoMode(QLineEdit::Password);
    f->addWidget(m_password);
    m_remember = new QCheckBox(QStringLiteral("Remember me for 7 days"), form);
    f->addWidget(m_remember);
    f->addSpacing(8);
    auto* signIn = new QPushButton(QStringLiteral("Sign in"), form);
    signIn->setObjectName(QStringLiteral("LoginPrimary"));
    signIn->setDefault(true);
    f->addWidget(signIn);
    m_error = new QLabel(form);
    m_error->setObjectName(QStringLiteral("LoginError"));
    m_error->setWordWrap(true);
    m_error->hide();
    f->addWidget(m_error);
    auto* native = new QPushButton(QStringLiteral("Open native mode"), form);
    native->setObjectName(QStringLiteral("LoginText"));
    native->setCursor(Qt::PointingHandCursor);
    f->addWidget(native, 0, Qt::AlignLeft);
    connect(native, &QPushButton::clicked, this, &LoginWindow::openNativeRequested);

    col->addWidget(form, 0, Qt::AlignHCenter);
    m_form = form;
    m_restoring = new QLabel(QStringLiteral("Signing you in…"), left);
    m_restoring->setObjectName(QStringLiteral("LoginHeading"));
    m_restoring->setAlignment(Qt::AlignCenter);
    m_restoring->hide();
    col->addWidget(m_restoring, 0, Qt::AlignHCenter);
    col->addStretch();
    row->addWidget(left, 4);

    auto* brand = new QWidget(this);
    brand->setObjectName(QStringLiteral("BrandPanel"));
    brand->setMinimumWidth(480);
    brand->setAttribute(Qt::WA_StyledBackground);
    brand->setStyleSheet(QStringLiteral("QWidget#BrandPanel { background: #0e141c; }"));
    row->addWidget(brand, 5);
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
    QPointer<LoginWindow> self(this);
    api.refresh([self](const LoginStart& answer) {
        if (!self)
            return;
        ApiClient& client = AppContext::instance().api;
        if (answer.step != LoginStart::SignedIn) {
            // An outage must not cost the user their remembered sign-in; a
            // refusal by the server does.
            if (!ApiPolicy::isOutage(answer.failure))
                SessionStore::clear();
            client.setRefreshToken(QString());
            self->setRestoring(false);
            return;
        }
        client.startSessionKeepAlive(answer.expiresIn);
        client.fetchMe([self](const UserProfile& profile, const QString&) {
            if (!self)
                return;
            if (!profile.username.isEmpty() || !profile.organisationName.isEmpty()) {
                AppContext::instance().user = profile;
                self->setRestoring(false);
                Q_EMIT self->signedIn();
                return;
            }
            AppContext::instance().api.setAccessToken(QString());
            self->setRestoring(false);
        });
    });
}

void LoginWindow::setRestoring(bool restoring)
{
    m_form->setVisible(!restoring);
    m_restoring->setVisible(restoring);
}
