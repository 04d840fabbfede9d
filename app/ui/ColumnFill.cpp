#include "app/ui/ColumnFill.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>

namespace kvr::ui {

namespace ColumnFill {

namespace {

const char kName[] = "kvrColumnFill";

// Fits the filling columns of one table whenever its width or a column's
// changes.
class Keeper : public QObject {
public:
    Keeper(QTableView* view, const QList<Filling>& filling, std::function<void()> fitted)
        : QObject(view->horizontalHeader()),
          m_view(view),
          m_filling(filling),
          m_fitted(std::move(fitted))
    {
        setObjectName(QLatin1String(kName));
        QHeaderView* header = view->horizontalHeader();
        header->setStretchLastSection(false);
        for (int c = 0; c < header->count(); ++c)
            header->setSectionResizeMode(c, QHeaderView::Interactive);
        view->viewport()->installEventFilter(this);
        connect(header, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
            if (m_fitting)
                return;
            // A person's drag: every filling column stays as it stands now.
            for (Filling& f : m_filling)
                f.kept = f.column == section ? size : m_view->horizontalHeader()->sectionSize(f.column);
            fit();
        });
        fit();
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            fit();
        return false;
    }

    int keptOf(int column) const
    {
        for (const Filling& f : m_filling)
            if (f.column == column)
                return f.kept;
        return 0;
    }

private:
    void fit()
    {
        QHeaderView* header = m_view->horizontalHeader();
        int others = 0;
        int count = 0;
        for (int c = 0; c < header->count(); ++c) {
            if (header->isSectionHidden(c))
                continue;
            const bool fills =
                std::any_of(m_filling.cbegin(), m_filling.cend(), [c](const Filling& f) { return f.column == c; });
            if (fills)
                ++count;
            else
                others += header->sectionSize(c);
        }
        m_fitting = true;
        for (const Filling& f : std::as_const(m_filling)) {
            if (header->isSectionHidden(f.column))
                continue;
            const int w = width(f.kept, m_view->viewport()->width() - others, count, header->minimumSectionSize());
            if (header->sectionSize(f.column) != w)
                header->resizeSection(f.column, w);
        }
        m_fitting = false;
        if (m_fitted)
            m_fitted();
    }

    QTableView* m_view;
    QList<Filling> m_filling;
    std::function<void()> m_fitted;
    bool m_fitting = false;
};

// The bar in sight of one table: follows the table's own bar both ways, and
// stands at the foot of the page's view while the table's own is out of it.
class InSight : public QObject {
public:
    InSight(QTableView* view, QAbstractScrollArea* page)
        : QObject(view),
          m_view(view),
          m_page(page),
          m_bar(new QScrollBar(Qt::Horizontal, page->viewport()))
    {
        m_bar->setObjectName(QStringLiteral("kvrBarInSight"));
        m_bar->setAccessibleName(view->accessibleName());
        m_bar->setFocusPolicy(Qt::NoFocus);
        m_bar->hide();
        QScrollBar* own = view->horizontalScrollBar();
        connect(own, &QScrollBar::rangeChanged, this, &InSight::place);
        connect(own, &QScrollBar::valueChanged, m_bar, &QScrollBar::setValue);
        connect(m_bar, &QScrollBar::valueChanged, own, &QScrollBar::setValue);
        connect(page->verticalScrollBar(), &QScrollBar::valueChanged, this, &InSight::place);
        // Whatever moves the table within the page, or the page's view.
        for (QWidget* w = view; w && w != page->viewport(); w = w->parentWidget())
            w->installEventFilter(this);
        page->viewport()->installEventFilter(this);
        place();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            if (watched != m_bar)
                place();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void place()
    {
        const QScrollBar* own = m_view->horizontalScrollBar();
        QWidget* port = m_page->viewport();
        if (!port->isAncestorOf(m_view)) {
            m_bar->hide();
            return;
        }
        const QRect table(m_view->mapTo(port, QPoint(0, 0)), m_view->size());
        const int height = m_bar->sizeHint().height();
        const QRect foot(0, port->height() - height, port->width(), height);
        // While the table reaches past the foot of the view: its own bar,
        // along its end, is out of sight.
        const bool show =
            m_view->isVisible() && own->maximum() > 0 && table.top() < foot.top() && table.bottom() >= foot.top();
        if (!show) {
            m_bar->hide();
            return;
        }
        m_bar->setRange(own->minimum(), own->maximum());
        m_bar->setPageStep(own->pageStep());
        m_bar->setSingleStep(own->singleStep());
        m_bar->setValue(own->value());
        const int left = std::max(table.left(), 0);
        const int right = std::min(table.right(), port->width() - 1);
        m_bar->setGeometry(left, foot.top(), right - left + 1, height);
        m_bar->raise();
        m_bar->show();
    }

    QTableView* m_view;
    QAbstractScrollArea* m_page;
    QScrollBar* m_bar;
};

} // namespace

int width(int kept, int room, int count, int least)
{
    return std::max({kept, count > 0 ? room / count : room, least});
}

void keep(QTableView* view, const QList<Filling>& filling, std::function<void()> fitted)
{
    new Keeper(view, filling, std::move(fitted));
}

void barInSight(QTableView* view, QAbstractScrollArea* page)
{
    new InSight(view, page);
}

int kept(const QTableView* view, int column)
{
    const auto* keeper = static_cast<const Keeper*>(
        view->horizontalHeader()->findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
    return keeper ? keeper->keptOf(column) : 0;
}

} // namespace ColumnFill

} // namespace kvr::ui
