#include "wall/LayoutPreview.h"

#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/SetupRules.h"

#include "app/ui/Theme.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>

#include <algorithm>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

LayoutPreview::LayoutPreview(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);
    setMinimumHeight(220);
    setAccessibleName(QStringLiteral("Layout of the selected display"));
}

QSize LayoutPreview::minimumSizeHint() const
{
    return {360, 220};
}

void LayoutPreview::setScreen(Config* config, const QString& key, const QHash<QString, QString>* titles, double aspect)
{
    m_config = config;
    m_key = key;
    m_titles = titles;
    m_aspect = aspect <= 0.1 ? 16.0 / 9.0 : aspect;
    m_selectedCell = 0;
    update();
}

ScreenConfig* LayoutPreview::screen() const
{
    return m_config && !m_key.isEmpty() ? m_config->find(m_key) : nullptr;
}

void LayoutPreview::setSelectedCell(int cell)
{
    m_selectedCell = cell;
    update();
}

QRectF LayoutPreview::area() const
{
    return SetupRules::previewArea(QSizeF(size()), m_aspect);
}

QRectF LayoutPreview::cellRect(int cell) const
{
    const ScreenConfig* s = screen();
    if (!s)
        return QRectF(0, 0, 0, 0);
    return SetupRules::previewCellRect(area(), VideoWall::layout(s->layout), cell);
}

QRectF LayoutPreview::clearRect(int cell) const
{
    return SetupRules::previewClearRect(cellRect(cell));
}

int LayoutPreview::cellAt(const QPointF& pos) const
{
    const ScreenConfig* s = screen();
    if (!s)
        return -1;
    const auto n = VideoWall::layout(s->layout).cells.size();
    for (int i = 0; i < n; ++i)
        if (cellRect(i).contains(pos))
            return i;
    return -1;
}

void LayoutPreview::mousePressEvent(QMouseEvent* event)
{
    const QPointF pos = event->position();
    const int i = cellAt(pos);
    if (i < 0) {
        m_pressCell = -1;
        return;
    }
    ScreenConfig* s = screen();
    if (i < s->cells.size() && !s->cells.at(i).isEmpty() && clearRect(i).contains(pos)) {
        s->cells[i].clear();
        update();
        Q_EMIT changed();
        return;
    }
    m_selectedCell = i;
    m_pressPos = pos.toPoint();
    m_pressCell = i;
    update();
}

void LayoutPreview::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF pos = event->position();
    const int h = cellAt(pos);
    if (h != m_hover) {
        m_hover = h;
        update();
    }
    const ScreenConfig* s = screen();
    if (!(event->buttons() & Qt::LeftButton) || !s || m_pressCell < 0 || m_pressCell >= s->cells.size()
        || s->cells.at(m_pressCell).isEmpty()
        || (pos.toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    auto* data = new QMimeData;
    data->setData(SetupRules::kCellMime, SetupRules::cellPayload(m_pressCell));
    QPointer<QDrag> drag = new QDrag(this);
    drag->setMimeData(data);
    m_pressCell = -1;
    drag->exec(Qt::MoveAction);
}

void LayoutPreview::leaveEvent(QEvent*)
{
    m_hover = -1;
    update();
}

bool LayoutPreview::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const ScreenConfig* s = screen();
    const int cell = s ? cellAt(help->pos()) : -1;
    const QString id = cell >= 0 ? s->cells.value(cell) : QString();
    if (id.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const QString text = m_titles && m_titles->contains(id) ? m_titles->value(id) : QStringLiteral("Camera not found");
    QToolTip::showText(help->globalPos(), QStringLiteral("%1. %2").arg(cell + 1).arg(text), this);
    return true;
}

void LayoutPreview::paintEvent(QPaintEvent*)
{
    using Theme::Colour;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF a = area();
    p.setPen(QPen(Theme::colour(Colour::BorderStrong), 1));
    p.setBrush(Theme::colour(Colour::Well));
    p.drawRoundedRect(a.adjusted(-4, -4, 4, 4), 10, 10);
    const ScreenConfig* s = screen();
    if (!s)
        return;

    QFont small = font();
    small.setPixelSize(11);
    QFont big = font();
    big.setPixelSize(13);
    big.setWeight(QFont::DemiBold);

    const auto n = int(VideoWall::layout(s->layout).cells.size());
    // Each cell's text is told apart from the others'.
    QStringList shown;
    for (int i = 0; i < n; ++i)
        if (const QString id = s->cells.value(i); !id.isEmpty() && m_titles && m_titles->contains(id))
            shown << m_titles->value(id);
    for (int i = 0; i < n; ++i) {
        const QRectF r = cellRect(i);
        const QString id = s->cells.value(i);
        QPen border(Theme::colour(Colour::BorderStrong), 1);
        if (i == m_dropTarget)
            border = QPen(Theme::colour(Colour::OnlineText), 2);
        else if (i == m_selectedCell)
            border = QPen(Theme::colour(Colour::Accent), 2);
        p.setPen(border);
        p.setBrush(id.isEmpty() ? Theme::colour(Colour::Field) : Theme::colour(Colour::Tint));
        p.drawRoundedRect(r, 6, 6);

        p.setFont(small);
        p.setPen(Theme::colour(Colour::Muted));
        const QString number = QString::number(i + 1);
        const QRectF numberRect = r.adjusted(8, 6, -8, -6);
        p.drawText(numberRect, Qt::AlignLeft | Qt::AlignTop, number);
        if (id.isEmpty()) {
            p.drawText(r, Qt::AlignCenter, r.width() > 90 ? QStringLiteral("Drop a camera") : QStringLiteral("+"));
            continue;
        }
        QString text;
        if (m_titles && m_titles->contains(id)) {
            text = m_titles->value(id);
            p.setPen(Theme::colour(Colour::Text));
        } else {
            text = QStringLiteral("Camera not found");
            p.setPen(Theme::colour(Colour::LiveText));
        }
        // The title's lines go under the cell's number, in the big font or,
        // where that leaves no line, the small one; a cell too low for even
        // that has its title beside the number.
        const QFontMetrics smallMetrics(small);
        const QRectF below(r.x() + 8, r.y() + 6 + smallMetrics.height() + 2, r.width() - 16,
                           r.height() - 12 - smallMetrics.height() - 2);
        const bool roomy = below.height() >= QFontMetrics(big).height();
        const QFont& face = roomy ? big : small;
        const QFontMetrics metrics(face);
        const int lineHeight = metrics.height();
        p.setFont(face);
        if (below.height() < lineHeight) {
            const qreal after = smallMetrics.horizontalAdvance(number) + 6;
            const QRectF beside(numberRect.x() + after, numberRect.y(), numberRect.width() - after, lineHeight);
            const QStringList one = SetupRules::previewCellLines(text, metrics, int(beside.width()), 1, shown);
            if (!one.isEmpty())
                p.drawText(beside, Qt::AlignLeft | Qt::AlignTop, one.first());
        } else {
            const int fit = std::min(2, int(below.height()) / lineHeight);
            const QStringList lines = SetupRules::previewCellLines(text, metrics, int(below.width()), fit, shown);
            qreal y = below.y() + (below.height() - lines.size() * lineHeight) / 2;
            for (const QString& line : lines) {
                p.drawText(QRectF(below.x(), y, below.width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
                y += lineHeight;
            }
        }

        if (i == m_hover) {
            const QRectF c = clearRect(i);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::colour(Colour::Black, 160.0 / 255.0));
            p.drawEllipse(c);
            p.setPen(QPen(Theme::colour(Colour::White), 1.6));
            const QPointF m = c.center();
            p.drawLine(m + QPointF(-4, -4), m + QPointF(4, 4));
            p.drawLine(m + QPointF(4, -4), m + QPointF(-4, 4));
        }
    }
}

bool LayoutPreview::takes(const QDropEvent* event) const
{
    const QMimeData* data = event->mimeData();
    if (!data)
        return false;
    // A cell index means something only to the preview it came from; cell
    // data from another window or process names someone else's cells.
    if (data->hasFormat(SetupRules::kCellMime) && event->source() == this)
        return SetupRules::cellFromPayload(data->data(SetupRules::kCellMime)).has_value();
    return data->hasFormat(SetupRules::kCameraMime);
}

void LayoutPreview::dragEnterEvent(QDragEnterEvent* event)
{
    if (takes(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void LayoutPreview::dragMoveEvent(QDragMoveEvent* event)
{
    const int t = cellAt(event->position());
    if (t != m_dropTarget) {
        m_dropTarget = t;
        update();
    }
    if (t >= 0 && takes(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void LayoutPreview::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropTarget = -1;
    update();
}

void LayoutPreview::dropEvent(QDropEvent* event)
{
    const int t = cellAt(event->position());
    m_dropTarget = -1;
    ScreenConfig* s = screen();
    if (t < 0 || !s || !takes(event)) {
        update();
        event->ignore();
        return;
    }
    const QMimeData* data = event->mimeData();
    if (data->hasFormat(SetupRules::kCellMime) && event->source() == this)
        SetupRules::moveCell(s->cells, *SetupRules::cellFromPayload(data->data(SetupRules::kCellMime)), t);
    else
        SetupRules::dropCameras(s->cells, t, SetupRules::camerasFromPayload(data->data(SetupRules::kCameraMime)));
    m_selectedCell = t;
    event->acceptProposedAction();
    update();
    Q_EMIT changed();
}

} // namespace VideoWall

} // namespace kvr::wall
