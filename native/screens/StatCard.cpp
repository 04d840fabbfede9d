#include "native/screens/StatCard.h"

#include "native/screens/NativeStyle.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace kvr::screens {

StatCard::StatCard(const QString& label, const QColor& accent, bool clickable, QWidget* parent)
    : QFrame(parent),
      m_clickable(clickable)
{
    setObjectName(QStringLiteral("NCard"));
    setProperty("active", false);
    setMinimumWidth(150);
    setAccessibleName(label);
    if (clickable) {
        setCursor(Qt::PointingHandCursor);
        // Reachable from the keyboard and by assistive tools like a button.
        setFocusPolicy(Qt::StrongFocus);
    } else {
        // A count to read, not to click: Tab still stops on it, so that a
        // screen reader reads it with its neighbours.
        setFocusPolicy(Qt::TabFocus);
    }
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(14, 12, 14, 12);
    h->setSpacing(12);
    auto* bar = new QFrame;
    bar->setObjectName(QStringLiteral("NAccent"));
    bar->setStyleSheet(QStringLiteral("background: %1;").arg(accent.name(QColor::HexRgb)));
    bar->setFixedHeight(48);
    h->addWidget(bar);
    auto* v = new QVBoxLayout;
    v->setSpacing(0);
    auto* caption = new QLabel(label);
    caption->setObjectName(QStringLiteral("NCardLabel"));
    v->addWidget(caption);
    m_value = new QLabel(QStringLiteral("0"));
    m_value->setObjectName(QStringLiteral("NCardValue"));
    v->addWidget(m_value);
    m_detail = new QLabel;
    m_detail->setObjectName(QStringLiteral("NCardDetail"));
    m_detail->setWordWrap(true);
    m_detail->hide();
    v->addWidget(m_detail);
    // Held at the top, so that the values of a row of cards line up whether
    // or not a card has a detail line.
    v->addStretch(1);
    h->addLayout(v, 1);
}

void StatCard::setValue(const QString& value)
{
    m_value->setText(value);
    setAccessibleDescription(value);
}

void StatCard::setDetail(const QString& detail)
{
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

void StatCard::setActive(bool active)
{
    if (property("active").toBool() == active)
        return;
    setProperty("active", active);
    NativeStyle::repolish(this);
}

QString StatCard::value() const
{
    return m_value->text();
}

QString StatCard::detail() const
{
    return m_detail->text();
}

bool StatCard::isDetailShown() const
{
    return !m_detail->isHidden();
}

void StatCard::mousePressEvent(QMouseEvent* event)
{
    if (m_clickable && event->button() == Qt::LeftButton)
        Q_EMIT clicked();
    QFrame::mousePressEvent(event);
}

void StatCard::keyPressEvent(QKeyEvent* event)
{
    if (m_clickable && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return)) {
        Q_EMIT clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace kvr::screens
