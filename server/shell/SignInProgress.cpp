#include "server/shell/SignInProgress.h"

#include "app/core/Clock.h"
#include "server/shell/LoginRules.h"
#include "server/shell/ShellButton.h"
#include "server/shell/Tunables.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace kvr::core;

namespace kvr::shell {

SignInProgress::SignInProgress(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("LoginHelper"));
    m_text->setWordWrap(true);
    row->addWidget(m_text, 1);
    m_cancel = ShellUi::button(QStringLiteral("Cancel"), "LoginText", this);
    m_cancel->setAccessibleName(QStringLiteral("Cancel sign-in"));
    row->addWidget(m_cancel, 0, Qt::AlignTop);
    m_tick = new QTimer(this);
    m_tick->setInterval(tun::kCountdownTick);
    connect(m_tick, &QTimer::timeout, this, &SignInProgress::showStage);
    connect(m_cancel, &QPushButton::clicked, this, &SignInProgress::cancelRequested);
    hide();
}

void SignInProgress::start(const QString& endpoint)
{
    m_endpoint = endpoint;
    m_running = true;
    m_sent = false;
    m_startedMs = Clock::instance().monotonicMs();
    showStage();
    show();
    m_tick->start();
}

void SignInProgress::requestSent()
{
    if (!m_running)
        return;
    m_sent = true;
    showStage();
}

void SignInProgress::stop()
{
    m_running = false;
    m_tick->stop();
    hide();
}

void SignInProgress::showStage()
{
    const qint64 seconds = (Clock::instance().monotonicMs() - m_startedMs) / 1000;
    m_text->setText(LoginRules::signInProgressText(m_sent, m_endpoint, seconds));
}

} // namespace kvr::shell
