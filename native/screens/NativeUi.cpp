#include "native/screens/NativeUi.h"

#include "app/ui/ContentScroll.h"
#include "app/ui/DiscardGuard.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace kvr::ui;

namespace kvr::screens {

namespace NativeUi {

QLabel* label(const QString& text, const char* objectName)
{
    auto* l = new QLabel(text);
    if (objectName)
        l->setObjectName(QLatin1String(objectName));
    l->setWordWrap(true);
    return l;
}

QPushButton* button(const QString& text, const char* objectName)
{
    auto* b = new QPushButton(text);
    if (objectName)
        b->setObjectName(QLatin1String(objectName));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QHBoxLayout* frame(QDialog* dialog, const QString& title, QWidget* content)
{
    auto* v = new QVBoxLayout(dialog);
    v->setContentsMargins(24, 22, 24, 20);
    v->setSpacing(14);
    v->addWidget(label(title, "NScreenTitle"));
    if (content)
        v->addWidget(new ContentScroll(content), 1);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch();
    v->addLayout(row);
    return row;
}

void info(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Close, parent);
    Modal::exec(box);
}

bool confirmDestructive(QWidget* parent, const QString& title, const QString& text, const QString& act,
                        const QString& keep)
{
    return Modal::confirmDestructive(parent, title, text, act, keep, "NDanger");
}

bool mayDiscard(QWidget* parent)
{
    return DiscardGuard::ask(parent, "NDanger");
}

QWidget* captioned(const QString& caption, QWidget* field)
{
    auto* w = new QWidget;
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    QLabel* cap = label(caption, "NMuted");
    cap->setBuddy(field);
    v->addWidget(cap);
    v->addWidget(field);
    if (field->accessibleName().isEmpty())
        field->setAccessibleName(caption);
    return w;
}

} // namespace NativeUi

NativeDialogBase::NativeDialogBase(QWidget* parent) : QDialog(parent)
{
    ScreenFit::keepWithin(this, QSize());
    // Its reject() asks before typed changes go.
    DiscardGuard::asksItself(this);
}

bool NativeDialogBase::hasChanges() const
{
    return DiscardGuard::typed(this);
}

void NativeDialogBase::reject()
{
    if (!hasChanges() || NativeUi::mayDiscard(this))
        QDialog::reject();
}

QSize NativeDialogBase::sizeHint() const
{
    QLayout* l = layout();
    if (!l)
        return QDialog::sizeHint();
    // As wide as asked, and never narrower than what the content needs
    // whole (a drop-down of long names).
    const int w = std::max({minimumWidth(), 320, l->totalMinimumSize().width()});
    const int h = l->hasHeightForWidth() ? l->totalHeightForWidth(w) : l->totalSizeHint().height();
    return {w, h};
}

void NativeDialogBase::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_sized)
        return;
    m_sized = true;
    // Never taller or wider than the screen leaves room for.
    resize(ScreenFit::bounded(this, sizeHint()));
    keepContentWhole();
}

bool NativeDialogBase::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // Content that grows (an error under a field) or a width that changes
    // how texts wrap asks for another least height.
    if (m_sized && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
        keepContentWhole();
    return handled;
}

void NativeDialogBase::keepContentWhole()
{
    // A top-level window's least size leaves out the height its wrapped
    // texts need; a window manager answering an earlier, smaller request
    // then squeezed the fields to slivers.
    QLayout* l = layout();
    if (!l || !l->hasHeightForWidth())
        return;
    const int need = ScreenFit::bounded(this, QSize(width(), l->totalHeightForWidth(width()))).height();
    if (need != minimumHeight())
        setMinimumHeight(need);
}

} // namespace kvr::screens
