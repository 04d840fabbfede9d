#include "app/ui/ColumnFill.h"

#include <QEvent>
#include <QHeaderView>
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

} // namespace

int width(int kept, int room, int count, int least)
{
    return std::max({kept, count > 0 ? room / count : room, least});
}

void keep(QTableView* view, const QList<Filling>& filling, std::function<void()> fitted)
{
    new Keeper(view, filling, std::move(fitted));
}

int kept(const QTableView* view, int column)
{
    const auto* keeper = static_cast<const Keeper*>(
        view->horizontalHeader()->findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
    return keeper ? keeper->keptOf(column) : 0;
}

} // namespace ColumnFill

} // namespace kvr::ui
