#include "wall/DisplayMap.h"

#include "wall/Config.h"
#include "wall/Screens.h"

#include "app/ui/Theme.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

DisplayMap::DisplayMap(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(150);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Displays"));
    setAccessibleDescription(QStringLiteral("The arrow keys choose the display to edit"));
}

QString DisplayMap::stepKey(const QStringList& keys, const QString& current, int step)
{
    if (keys.isEmpty())
        return {};
    const qsizetype at = keys.indexOf(current);
    if (at < 0)
        return keys.first();
    return keys.at(std::clamp<qsizetype>(at + step, 0, keys.size() - 1));
}

void DisplayMap::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        step = -1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        step = 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    QStringList keys;
    for (const Box& b : boxes())
        keys << b.key;
    const QString key = stepKey(keys, m_selectedKey, step);
    if (!key.isEmpty() && key != m_selectedKey)
        Q_EMIT selected(key);
}

QSize DisplayMap::sizeHint() const
{
    return {560, 190};
}

QSize DisplayMap::minimumSizeHint() const
{
    return {320, 150};
}

QList<DisplayMap::Box> DisplayMap::boxes() const
{
    QList<SetupRules::MapScreen> connected;
    for (QScreen* s : QGuiApplication::screens())
        connected.append({screenKey(s), screenTitle(s), s->geometry()});
    return SetupRules::mapBoxes(connected, m_config, size());
}

void DisplayMap::mousePressEvent(QMouseEvent* event)
{
    for (const Box& b : boxes()) {
        if (b.rect.contains(event->position())) {
            Q_EMIT selected(b.key);
            return;
        }
    }
}

void DisplayMap::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QString ownKey = window() ? screenKey(window()->screen()) : QString();
    for (const Box& b : boxes()) {
        const ScreenConfig* cfg = nullptr;
        if (m_config)
            for (const ScreenConfig& s : m_config->screens)
                if (s.key == b.key)
                    cfg = &s;
        const bool sel = b.key == m_selectedKey;
        const bool active = cfg && cfg->enabled && cfg->assignedCount() >= 1;
        QPen pen(sel ? Theme::colour(Theme::Colour::Accent) : Theme::colour(Theme::Colour::BorderStrong),
                 sel ? 2.5 : 1.0);
        pen.setStyle(b.number <= 0 ? Qt::DashLine : Qt::SolidLine);
        p.setPen(pen);
        p.setBrush(active ? Theme::colour(Theme::Colour::Tint) : Theme::colour(Theme::Colour::Field));
        p.drawRoundedRect(b.rect, 8, 8);
        if (sel && hasFocus()) {
            // Where the keyboard is: a ring around the chosen display.
            p.save();
            p.setPen(QPen(Theme::colour(Theme::Colour::Accent, 0.6), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(b.rect.adjusted(-3, -3, 3, 3), 10, 10);
            p.restore();
        }

        const QRectF text = b.rect.adjusted(10, 6, -10, -6);
        if (b.number >= 1) {
            QFont big = font();
            big.setPixelSize(qBound(14, int(b.rect.height() * 0.32), 40));
            big.setWeight(QFont::Bold);
            p.setFont(big);
            p.setPen(sel ? Theme::colour(Theme::Colour::Accent) : Theme::colour(Theme::Colour::Text));
            p.drawText(text, Qt::AlignLeft | Qt::AlignTop, QString::number(b.number));
        }
        QFont small = font();
        small.setPixelSize(11);
        small.setWeight(QFont::DemiBold);
        p.setFont(small);
        p.setPen(Theme::colour(Theme::Colour::Text));
        const QString title = p.fontMetrics().elidedText(b.title, Qt::ElideMiddle, int(text.width()));
        const QString state = SetupRules::mapStateText(b, cfg, b.number >= 1 && b.key == ownKey);
        p.drawText(text, Qt::AlignLeft | Qt::AlignBottom, title + QLatin1Char('\n') + state);
    }
}

} // namespace VideoWall

} // namespace kvr::wall
