#include "wall/LayoutPreview.h"

#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/SetupRules.h"

#include "app/ui/PaintedItems.h"
#include "app/ui/Theme.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

LayoutPreview::LayoutPreview(QWidget* parent) : QWidget(parent)
{
    // A screen reader finds the cells as the items of a list, named with
    // their cameras; the selected one is the keys' one.
    PaintedItems::describe(this,
                           {.count = [this] { return cellCount(); },
                            .name = [this](int cell) { return SetupRules::spokenCell(cell, cameraText(cell)); },
                            .rect = [this](int cell) { return cellRect(cell).toAlignedRect(); },
                            .selected = [this](int cell) { return cell == m_selectedCell; },
                            .pickable = {},
                            .pick = [this](int cell) { setSelectedCell(cell); },
                            .current = [this] { return m_selectedCell; }});
    setAcceptDrops(true);
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);
    setMinimumHeight(220);
    // Tab reaches the cells; a click on one takes the focus too, so that
    // the keys go on from the cell the pointer chose.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Layout of the selected display"));
    setAccessibleDescription(QStringLiteral("The arrow keys choose a cell, Delete empties it, the menu key moves its "
                                            "camera to another cell"));
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

int LayoutPreview::cellCount() const
{
    const ScreenConfig* s = screen();
    return s ? int(VideoWall::layout(s->layout).cells.size()) : 0;
}

QString LayoutPreview::cameraText(int cell) const
{
    const ScreenConfig* s = screen();
    const QString id = s ? s->cells.value(cell) : QString();
    if (id.isEmpty())
        return {};
    return m_titles && m_titles->contains(id) ? m_titles->value(id) : QStringLiteral("Camera not found");
}

void LayoutPreview::sayCell()
{
    QAccessibleEvent moved(this, QAccessible::Focus);
    moved.setChild(m_selectedCell);
    QAccessible::updateAccessibility(&moved);
}

void LayoutPreview::placeCameras(int cell, const QStringList& ids)
{
    ScreenConfig* s = screen();
    if (!s || cell < 0 || cell >= cellCount())
        return;
    SetupRules::dropCameras(s->cells, cell, ids);
    setSelectedCell(cell);
    Q_EMIT changed();
}

void LayoutPreview::moveCell(int from, int to)
{
    ScreenConfig* s = screen();
    if (!s || to < 0 || to >= cellCount())
        return;
    SetupRules::moveCell(s->cells, from, to);
    setSelectedCell(to);
    Q_EMIT changed();
}

void LayoutPreview::emptyCell(int cell)
{
    ScreenConfig* s = screen();
    if (!s || cell < 0 || cell >= s->cells.size() || s->cells.at(cell).isEmpty())
        return;
    s->cells[cell].clear();
    update();
    Q_EMIT changed();
}

void LayoutPreview::showCellMenu(int cell, const QPoint& at)
{
    if (cameraText(cell).isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(SetupRules::spokenCell(cell, cameraText(cell)));
    // Each edit runs once the menu has gone, and only on the display it was
    // chosen for.
    const QPointer<LayoutPreview> self(this);
    const QString key = m_key;
    const auto add = [self, key, menu](const QString& text, std::function<void()> edit) {
        QObject::connect(menu->addAction(text), &QAction::triggered, self, [self, key, edit] {
            QTimer::singleShot(0, self, [self, key, edit] {
                if (self && self->screenKey() == key)
                    edit();
            });
        });
    };
    add(SetupRules::emptyEntry(cell), [self, cell] { self->emptyCell(cell); });
    menu->addSeparator();
    for (int to = 0; to < cellCount(); ++to)
        if (to != cell)
            add(SetupRules::moveToEntry(to, cameraText(to)), [self, cell, to] { self->moveCell(cell, to); });
    menu->popup(at);
}

void LayoutPreview::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::ShiftModifier && event->key() == Qt::Key_F10) {
        menuOfSelected();
        return;
    }
    std::optional<SetupRules::CellKey> step;
    switch (mods == Qt::NoModifier ? event->key() : 0) {
    case Qt::Key_Left:
        step = SetupRules::CellKey::Back;
        break;
    case Qt::Key_Right:
        step = SetupRules::CellKey::On;
        break;
    case Qt::Key_Up:
        step = SetupRules::CellKey::Up;
        break;
    case Qt::Key_Down:
        step = SetupRules::CellKey::Down;
        break;
    case Qt::Key_Home:
        step = SetupRules::CellKey::First;
        break;
    case Qt::Key_End:
        step = SetupRules::CellKey::Last;
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        emptyCell(m_selectedCell);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    const ScreenConfig* s = screen();
    if (!s) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int to = SetupRules::cellAfterKey(VideoWall::layout(s->layout), m_selectedCell, *step);
    if (to >= 0 && to != m_selectedCell) {
        setSelectedCell(to);
        sayCell();
    }
}

void LayoutPreview::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        menuOfSelected();
        return;
    }
    const int cell = cellAt(event->pos());
    if (cell >= 0)
        showCellMenu(cell, event->globalPos());
}

void LayoutPreview::menuOfSelected()
{
    const QRectF r = cellRect(m_selectedCell);
    // Under the cell's start, where the eye is.
    showCellMenu(m_selectedCell, mapToGlobal(QPointF(r.left() + 8, r.bottom()).toPoint()));
}

void LayoutPreview::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void LayoutPreview::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
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
    if (!cameraText(i).isEmpty() && clearRect(i).contains(pos)) {
        emptyCell(i);
        return;
    }
    m_pressPos = pos.toPoint();
    m_pressCell = i;
    setSelectedCell(i);
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
    // The cell the keys stand on, ringed in the focus colour in the gap
    // around it.
    if (hasFocus() && m_selectedCell >= 0 && m_selectedCell < n) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Theme::colour(Colour::FocusRing), 2));
        p.drawRoundedRect(cellRect(m_selectedCell).adjusted(-2, -2, 2, 2), 8, 8);
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
    event->acceptProposedAction();
    if (data->hasFormat(SetupRules::kCellMime) && event->source() == this)
        moveCell(*SetupRules::cellFromPayload(data->data(SetupRules::kCellMime)), t);
    else
        placeCameras(t, SetupRules::camerasFromPayload(data->data(SetupRules::kCameraMime)));
}

} // namespace VideoWall

} // namespace kvr::wall
