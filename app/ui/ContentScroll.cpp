#include "app/ui/ContentScroll.h"

#include "app/ui/Tunables.h"
#include "app/ui/WheelGuard.h"

#include <QScrollBar>

#include <algorithm>

namespace kvr::ui {

ContentScroll::ContentScroll(QWidget* content, bool across, QWidget* parent) : QScrollArea(parent), m_across(across)
{
    setObjectName(QStringLiteral("ContentScroll"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(across ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    // Tab goes through the fields, not the page that holds them (and the
    // page brings the field the focus comes to into view).
    setFocusPolicy(Qt::NoFocus);
    setWidget(content);
    // The window's own ground shows through, whatever a style sheet gives
    // scrolling pages elsewhere.
    setStyleSheet(QStringLiteral("#ContentScroll, #ContentScroll > #qt_scrollarea_viewport, "
                                 "#ContentScroll > #qt_scrollarea_viewport > QWidget { background: transparent; }"));
    viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    // What passes under the pointer as the page scrolls keeps its value.
    WheelGuard::guard(this);
}

int ContentScroll::barWidth() const
{
    return verticalScrollBar()->sizeHint().width();
}

QSize ContentScroll::sizeHint() const
{
    const QSize content = widget()->sizeHint().expandedTo(widget()->minimumSizeHint());
    return {content.width() + barWidth(), content.height()};
}

QSize ContentScroll::minimumSizeHint() const
{
    // As low as a few lines of the content; as narrow as the content lets
    // it be beside the scroll bar, unless it scrolls from side to side too.
    const QSize content = widget()->minimumSizeHint();
    const int width = content.width() + barWidth();
    return {m_across ? std::min(width, tun::kScrolledContentLeast_px) : width,
            std::min(sizeHint().height(), tun::kScrolledContentLeast_px)};
}

bool ContentScroll::hasHeightForWidth() const
{
    return widget()->hasHeightForWidth();
}

int ContentScroll::heightForWidth(int width) const
{
    return widget()->heightForWidth(width);
}

} // namespace kvr::ui
