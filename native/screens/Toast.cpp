#include "native/screens/Toast.h"

#include "app/ui/Theme.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/Tunables.h"

#include <QEvent>
#include <QTimer>

#include <algorithm>

using namespace kvr::ui;

namespace kvr::screens {

Toast::Toast(QWidget* host) : QLabel(host)
{
    setStyleSheet(Theme::expandTokens(
        QStringLiteral("background: @toast; color: @white; border-radius: 8px; padding: 9px 16px; font-size: 13px;"),
        NativeStyle::tokens()));
    setWordWrap(true);
    hide();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(tun::kToastShown);
    connect(m_timer, &QTimer::timeout, this, &QWidget::hide);
    host->installEventFilter(this);
}

void Toast::popUp(const QString& text)
{
    setText(text);
    place();
    show();
    raise();
    m_timer->start();
}

bool Toast::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        place();
    return QLabel::eventFilter(watched, event);
}

void Toast::place()
{
    const QWidget* host = parentWidget();
    // A long path wraps onto further lines, as tall as they need, within
    // the window's width.
    adjustSize();
    const int w = std::min(width(), std::max(host->width() - 2 * tun::kToastBottomGap_px, 0));
    resize(w, heightForWidth(w));
    move((host->width() - width()) / 2, host->height() - height() - tun::kToastBottomGap_px);
}

} // namespace kvr::screens
