#include "server/shell/ServerDialog.h"

#include "app/context/AppContext.h"
#include "app/core/Env.h"
#include "app/core/NetAddress.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "server/shell/Logging.h"
#include "server/shell/ShellButton.h"
#include "server/shell/Tunables.h"

#include <QCheckBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::shell {

using namespace ServerRules;

namespace {

QLabel* muted(const QString& text, QWidget* parent, bool wrap = false)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("Muted"));
    l->setWordWrap(wrap);
    return l;
}

using ShellUi::button;

// One connection test: both checks report here; the last one shows the result.
struct TestRun {
    QString serverText;
    QString videoText;
    bool serverOk = false;
    bool videoOk = false;
    int pending = 2;
    RequestTicket ticket; // a later test drops this one's result
};

} // namespace

ServerDialog::ServerDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Server"));
    setStyleSheet(Theme::appStyle());
    setMinimumWidth(500);
    ApiClient& api = AppContext::instance().api;

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(24, 22, 24, 20);
    v->setSpacing(8);

    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("Card"));
    auto* cv = new QVBoxLayout(card);
    cv->setContentsMargins(16, 14, 16, 14);
    cv->setSpacing(6);
    auto* nativeRow = new QHBoxLayout();
    auto* nativeTitle = new QLabel(QStringLiteral("Native mode"), card);
    nativeTitle->setObjectName(QStringLiteral("StageTitle"));
    nativeRow->addWidget(nativeTitle);
    nativeRow->addStretch();
    auto* openNativeButton = button(QStringLiteral("Open native"), "Primary", card);
    nativeRow->addWidget(openNativeButton);
    cv->addLayout(nativeRow);
    cv->addWidget(muted(QStringLiteral("No sign-in. Works with devices on this network only."), card, true));
    m_alwaysNative = new QCheckBox(QStringLiteral("Open in native mode every time the app starts"), card);
    m_alwaysNative->setChecked(Prefs::get(Prefs::kNativeMode));
    cv->addWidget(m_alwaysNative);
    v->addWidget(card);

    v->addSpacing(10);
    auto* serverTitle = new QLabel(QStringLiteral("Server"), this);
    serverTitle->setObjectName(QStringLiteral("CardTitle"));
    v->addWidget(serverTitle);
    v->addWidget(muted(QStringLiteral("Where the app signs in and loads your cameras. Leave it as it is unless your "
                                      "administrator gave you another address."),
                       this, true));
    v->addSpacing(6);
    auto* serverLabel = muted(QStringLiteral("Server address"), this);
    v->addWidget(serverLabel);
    if (const QString given = normalizeUrl(envOr("KVR_API_BASE")); !given.isEmpty() && given == api.baseUrl())
        m_environmentBase = given;
    m_server = new QLineEdit(api.baseUrl(), this);
    m_server->setObjectName(QStringLiteral("Field"));
    m_server->setPlaceholderText(ApiClient::defaultBaseUrl());
    serverLabel->setBuddy(m_server);
    v->addWidget(m_server);
    v->addSpacing(4);
    auto* relayLabel = muted(QStringLiteral("Video relay address (optional)"), this);
    v->addWidget(relayLabel);
    m_relay = new QLineEdit(AppContext::instance().relayAddress(), this);
    m_relay->setObjectName(QStringLiteral("Field"));
    m_relay->setPlaceholderText(QStringLiteral("Same host as the server, port 8565"));
    relayLabel->setBuddy(m_relay);
    v->addWidget(m_relay);
    v->addWidget(
        muted(QStringLiteral("Live and device playback stream from this address (host or host:port)."), this, true));
    v->addSpacing(4);
    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    m_result->setTextFormat(Qt::PlainText);
    m_result->setMinimumHeight(68);
    m_result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    v->addWidget(m_result);
    v->addSpacing(8);

    auto* buttons = new QHBoxLayout();
    m_test = button(QStringLiteral("Test connection"), "Secondary", this);
    auto* useDefaultButton = button(QStringLiteral("Use default"), "Secondary", this);
    auto* cancel = button(QStringLiteral("Cancel"), "Secondary", this);
    auto* saveButton = button(QStringLiteral("Save"), "Primary", this);
    saveButton->setDefault(true);
    buttons->addWidget(m_test);
    buttons->addWidget(useDefaultButton);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(saveButton);
    v->addLayout(buttons);

    connect(m_test, &QPushButton::clicked, this, &ServerDialog::runTest);
    connect(useDefaultButton, &QPushButton::clicked, this, &ServerDialog::useDefault);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &ServerDialog::save);
    connect(openNativeButton, &QPushButton::clicked, this, &ServerDialog::openNative);
}

QSize ServerDialog::sizeHint() const
{
    const int w = minimumWidth();
    return {w, layout() ? layout()->heightForWidth(w) : QDialog::sizeHint().height()};
}

void ServerDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_sizedOnce) {
        m_sizedOnce = true;
        resize(sizeHint());
    }
}

void ServerDialog::showResult(TestVerdict verdict, const QString& text)
{
    m_result->setStyleSheet(styleOf(verdict));
    m_result->setText(text);
    // A result longer than the room the dialog opened with makes it taller,
    // rather than losing its last lines.
    if (isVisible() && layout()) {
        const int needed = layout()->heightForWidth(width());
        if (needed > height())
            resize(width(), needed);
        layout()->activate();
    }
}

bool ServerDialog::refusesLogins(const QString& base)
{
    // A password in either address would be kept in the settings file as typed.
    if (ServerRules::holdsLogin(base))
        showResult(TestVerdict::BadAddress, ServerRules::loginInAddressText());
    else if (ServerRules::relayHoldsLogin(m_relay->text()))
        showResult(TestVerdict::BadAddress, ServerRules::loginInRelayText());
    else
        return false;
    return true;
}

void ServerDialog::runTest()
{
    const QString base = normalizeUrl(m_server->text());
    if (base.isEmpty()) {
        showResult(TestVerdict::BadAddress, badAddressText(ApiClient::defaultBaseUrl()));
        return;
    }
    if (refusesLogins(base))
        return;
    m_test->setEnabled(false);
    showResult(TestVerdict::Testing, QStringLiteral("Testing…"));
    auto run = std::make_shared<TestRun>();
    run->ticket = m_checks.issue();
    const QString host = QUrl(base).host(QUrl::FullyDecoded);

    auto reported = [this, run] {
        if (!run->ticket.current())
            return;
        if (--run->pending > 0)
            return;
        m_test->setEnabled(true);
        const TestVerdict verdict = !run->serverOk ? TestVerdict::ServerUnreachable
            : run->videoOk                         ? TestVerdict::AllReachable
                                                   : TestVerdict::VideoUnreachable;
        showResult(verdict, run->serverText + QLatin1Char('\n') + run->videoText);
    };

    // Server check: any HTTP answer, an unauthorised one included, means the
    // server is there.
    auto* net = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(base + QStringLiteral("/v2/auth/me/")));
    request.setTransferTimeout(int(tun::kServerCheckTimeout.count()));
    QNetworkReply* reply = net->get(request);
    connect(reply, &QNetworkReply::sslErrors, reply, [reply](const QList<QSslError>&) {
        // A server on the organisation's own network often has a certificate
        // of its own making; on a public host that is an error.
        if (isPrivateHost(reply->url().host(QUrl::FullyDecoded)))
            reply->ignoreSslErrors();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, net, run, host, reported] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 1) {
            run->serverOk = true;
            run->serverText = serverReachableText(host);
        } else {
            // The library's own words go to the log; the dialog says it plainly.
            qCInfo(lcShell).noquote() << "[session] server check of" << host << "failed:" << reply->errorString();
            run->serverText = serverUnreachableText(host, reachFailure(reply->error(), reply->errorString()));
        }
        reply->deleteLater();
        net->deleteLater();
        reported();
    });

    const QList<Endpoint> candidates = relayCandidates(m_relay->text(), host, ApiClient::builtInRelayHost());
    AppContext::instance().api.probeRelays(this, candidates, [run, candidates, reported](const QList<bool>& flags) {
        run->videoText = videoText(candidates, flags, &run->videoOk);
        reported();
    });
}

void ServerDialog::useDefault()
{
    m_server->setText(ApiClient::defaultBaseUrl());
    m_relay->clear();
    m_result->clear();
}

void ServerDialog::save()
{
    const QString base = normalizeUrl(m_server->text());
    if (base.isEmpty()) {
        showResult(TestVerdict::BadAddress, badAddressText(ApiClient::defaultBaseUrl()));
        return;
    }
    if (refusesLogins(base))
        return;
    AppContext& ctx = AppContext::instance();
    // A remembered sign-in belongs to the server it was made with.
    if (base != ctx.api.baseUrl())
        SessionStore::clear();
    // Only what the person typed is stored: an address the environment
    // gave this run would otherwise become the one of every later start.
    if (!m_environmentBase.isEmpty() && base == m_environmentBase)
        ctx.setRelayAddress(m_relay->text());
    else
        ctx.setServer(base, m_relay->text());
    Prefs::set(Prefs::kNativeMode, m_alwaysNative->isChecked());
    tellIfNotKept();
    accept();
}

void ServerDialog::tellIfNotKept()
{
    if (!Prefs::lastKept())
        kvr::ui::Modal::inform(this, QStringLiteral("Can’t save"), Prefs::notKeptText(), QMessageBox::Warning);
}

void ServerDialog::openNative()
{
    Prefs::set(Prefs::kNativeMode, m_alwaysNative->isChecked());
    tellIfNotKept();
    m_nativeChosen = true;
    accept();
}

} // namespace kvr::shell
