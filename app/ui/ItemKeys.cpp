#include "app/ui/ItemKeys.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>

namespace kvr::ui {

namespace ItemKeys {

namespace {

class Keys : public QObject {
public:
    Keys(QAbstractItemView* view, Open open, Menu menu)
        : QObject(view),
          m_view(view),
          m_open(std::move(open)),
          m_menu(std::move(menu))
    {
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && watched == m_view)
            return keyPressed(static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::ContextMenu && m_menu) {
            auto* asked = static_cast<QContextMenuEvent*>(event);
            if (asked->reason() == QContextMenuEvent::Keyboard)
                return menuOfCurrent();
            if (watched == m_view->viewport()) {
                const QModelIndex item = m_view->indexAt(asked->pos());
                if (item.isValid())
                    m_menu(item, asked->globalPos());
                return true;
            }
        }
        return false;
    }

private:
    bool keyPressed(const QKeyEvent* key)
    {
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier && m_menu)
            return menuOfCurrent();
        return opens(key->key(), key->modifiers()) && openCurrent();
    }

    bool openCurrent()
    {
        // Without an item to open, Enter goes on to the window (a dialog's
        // default button).
        const QModelIndex item = m_view->currentIndex();
        if (!item.isValid())
            return false;
        m_open(item);
        return true;
    }

    bool menuOfCurrent()
    {
        const QModelIndex item = m_view->currentIndex();
        if (!item.isValid())
            return true;
        m_view->scrollTo(item);
        const QRect rect = m_view->visualRect(item);
        // Under the item's start, where the eye is.
        const QPoint at = m_view->viewport()->mapToGlobal(QPoint(rect.left() + 8, rect.bottom()));
        m_menu(item, at);
        return true;
    }

    QAbstractItemView* m_view;
    Open m_open;
    Menu m_menu;
};

} // namespace

void install(QAbstractItemView* view, Open open, Menu menu)
{
    new Keys(view, std::move(open), std::move(menu));
}

bool opens(int key, Qt::KeyboardModifiers modifiers)
{
    if ((modifiers & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

QString keyHint(const QString& action)
{
    if (action.isEmpty())
        return {};
    return QStringLiteral("Enter: ") + action.front().toLower() + action.mid(1);
}

} // namespace ItemKeys

} // namespace kvr::ui
