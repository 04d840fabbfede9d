#include "server/shell/CatalogPane.h"

#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/Theme.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/Tunables.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHash>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <functional>

using namespace kvr::ui;
using namespace kvr::api;

namespace kvr::shell {

using Kind = CatalogModel::Kind;

// Paints a site row's name in capitals, leaving room for its "Play all" (or
// its tick mark in selection mode), and turns clicks that reach the row on
// those places into the pane's actions. A delegate rather than a widget per
// row keeps a catalogue of hundreds of sites quick to filter at every
// keystroke; the rows on screen get real buttons over it (SiteButtons).
class CatalogSiteDelegate : public ApartDelegate {
    Q_OBJECT
public:
    // Cameras and recorders named alike keep what tells them apart (ApartDelegate).
    using ApartDelegate::ApartDelegate;

    bool selecting = false;

    static QFont smallFont()
    {
        QFont f(QStringLiteral("Inter"));
        f.setPixelSize(11);
        f.setWeight(QFont::DemiBold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
        return f;
    }
    static QRect tickRect(const QRect& row) { return {row.left() + 2, row.center().y() - 12, 24, 24}; }
    static QRect playAllRect(const QRect& row)
    {
        QFont f = smallFont();
        f.setLetterSpacing(QFont::AbsoluteSpacing, 0);
        const int w = 10 + 12 + 6 + QFontMetrics(f).horizontalAdvance(QStringLiteral("Play all")) + 10;
        return {row.right() - 4 - w + 1, row.center().y() - 11, w, 22};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (CatalogModel::kindAt(index) != Kind::Site) {
            // The selected row's tint is painted here, on the row alone: the
            // style would also tint the indentation in front of it.
            if (option.state & QStyle::State_Selected) {
                p->save();
                p->setRenderHint(QPainter::Antialiasing);
                p->setPen(Qt::NoPen);
                p->setBrush(Theme::colour(Theme::Colour::Accent, 0.16));
                p->drawRoundedRect(QRectF(option.rect.adjusted(0, 1, 0, -1)), 8, 8);
                p->restore();
            }
            const QVariant foreground = index.data(Qt::ForegroundRole);
            if (!foreground.isValid()) {
                QStyledItemDelegate::paint(p, option, index);
                return;
            }
            // The style sheet's row colour would win over the model's: rows
            // with a colour of their own (offline, loading) draw their text here.
            QStyleOptionViewItem opt(option);
            initStyleOption(&opt, index);
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : QApplication::style();
            // The same inset as the style gives the text of the other rows.
            const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
            const QRect textRect =
                style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
            const QString text = opt.text;
            opt.text.clear();
            style->drawControl(QStyle::CE_ItemViewItem, &opt, p, widget);
            p->save();
            p->setFont(opt.font);
            p->setPen(foreground.value<QColor>());
            p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                        opt.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
            p->restore();
            return;
        }
        // "Play all" and the tick mark are buttons of their own laid over
        // the row (SiteButtons); the row keeps their place free.
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const QRect row = option.rect;
        const int left = selecting ? tickRect(row).right() + 7 : row.left() + 2;
        const int right = selecting ? row.right() - 4 : playAllRect(row).left() - 6;
        p->setFont(smallFont());
        p->setPen(Theme::colour(Theme::Colour::Muted));
        const QRect text(left, row.top(), std::max(0, right - left), row.height());
        const QString name = index.data(Qt::DisplayRole).toString().toUpper();
        p->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                    QFontMetrics(smallFont()).elidedText(name, Qt::ElideRight, text.width()));
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), tun::kCatalogRowHeight_px));
        return size;
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (event->type() == QEvent::MouseButtonRelease && CatalogModel::kindAt(index) == Kind::Site) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() != Qt::LeftButton)
                return false;
            const QString id = index.data(CatalogModel::IdRole).toString();
            if (selecting && tickRect(option.rect).contains(me->position().toPoint())) {
                Q_EMIT tickClicked(id);
                return true;
            }
            if (!selecting && playAllRect(option.rect).contains(me->position().toPoint())
                && index.data(CatalogModel::HasChannelsRole).toBool()) {
                Q_EMIT playAllClicked(id);
                return true;
            }
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() == QEvent::ToolTip && CatalogModel::kindAt(index) == Kind::Site) {
            const QString name = index.data(Qt::DisplayRole).toString();
            if (selecting && tickRect(option.rect).contains(event->pos())) {
                QToolTip::showText(event->globalPos(), QStringLiteral("Select every camera at %1").arg(name), view);
                return true;
            }
            if (!selecting && playAllRect(option.rect).contains(event->pos())) {
                QToolTip::showText(event->globalPos(), QStringLiteral("Watch every camera at %1 together").arg(name),
                                   view);
                return true;
            }
        }
        return ApartDelegate::helpEvent(event, view, option, index);
    }

Q_SIGNALS:
    void tickClicked(const QString& siteId);
    void playAllClicked(const QString& siteId);
};

// The tree view, with the means to put off laying out its rows while a
// batch of completed sites goes in: the rows are laid out once, after the
// batch, when the whole tree is opened.
class CatalogTreeView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;
    using QTreeView::scheduleDelayedItemsLayout;
};

// Real buttons over the site rows on screen: "Play all", or the tick mark in
// selection mode, so that the keyboard reaches them by Tab and a screen
// reader finds them as buttons. Only the rows in view have one, kept with
// their site while it stays in view, so that a catalogue of hundreds of sites
// costs no more than a screenful of buttons. They follow the rows as the
// tree scrolls, folds, filters and fills, and come right after the tree in
// the Tab order.
//
// They stand on a layer beside the tree rather than in it: a tree's
// accessible children are its cells, so buttons inside it would never reach
// the accessibility tree. The layer covers the tree's viewport, which clips
// the buttons as the viewport would, and takes the pointer only where a
// button is; a wheel turned over a button still scrolls the tree.
class SiteButtons : public QObject {
    Q_OBJECT
public:
    SiteButtons(QTreeView* tree, std::function<void(const QString&)> play, std::function<void(const QString&)> tick)
        : QObject(tree),
          m_tree(tree),
          m_layer(new QWidget(tree->parentWidget())),
          m_play(std::move(play)),
          m_tick(std::move(tick))
    {
        m_layer->setObjectName(QStringLiteral("SiteButtons"));
        m_layer->hide();
        tree->installEventFilter(this);
        m_timer.setSingleShot(true);
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, &SiteButtons::place);
        QAbstractItemModel* model = tree->model();
        connect(model, &QAbstractItemModel::modelReset, this, &SiteButtons::schedule);
        connect(model, &QAbstractItemModel::layoutChanged, this, &SiteButtons::schedule);
        connect(model, &QAbstractItemModel::rowsInserted, this, &SiteButtons::schedule);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &SiteButtons::schedule);
        connect(model, &QAbstractItemModel::dataChanged, this, &SiteButtons::schedule);
        connect(tree, &QTreeView::expanded, this, &SiteButtons::schedule);
        connect(tree, &QTreeView::collapsed, this, &SiteButtons::schedule);
        connect(tree->verticalScrollBar(), &QScrollBar::valueChanged, this, &SiteButtons::place);
        tree->viewport()->installEventFilter(this);
    }

    void setSelecting(bool on)
    {
        if (on == m_selecting)
            return;
        m_selecting = on;
        // Each mode has buttons of its own look; the old ones go.
        for (QPushButton* b : std::as_const(m_shown))
            b->deleteLater();
        for (QPushButton* b : std::as_const(m_spare))
            b->deleteLater();
        m_shown.clear();
        m_spare.clear();
        schedule();
    }

    QList<QPushButton*> buttons() const { return m_shown.values(); }

    void schedule() { m_timer.start(); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::Show:
        case QEvent::Hide:
            if (watched == m_tree || watched == m_tree->viewport())
                schedule();
            break;
        case QEvent::Wheel:
            if (qobject_cast<QPushButton*>(watched)) {
                QCoreApplication::sendEvent(m_tree->verticalScrollBar(), event);
                return true;
            }
            break;
        default:
            break;
        }
        return false;
    }

    void place()
    {
        m_timer.stop();
        QHash<QString, QPushButton*> kept;
        QList<std::pair<QModelIndex, QRect>> rows;
        QWidget* viewport = m_tree->viewport();
        if (m_tree->isVisible()) {
            for (QModelIndex i = m_tree->indexAt(QPoint(0, 0)); i.isValid(); i = m_tree->indexBelow(i)) {
                const QRect r = m_tree->visualRect(i);
                if (r.top() >= viewport->height())
                    break;
                if (CatalogModel::kindAt(i) == Kind::Site)
                    rows.append({i, QRect(0, r.top(), viewport->width(), r.height())});
            }
        }
        // Buttons of sites still in view stay theirs.
        for (const auto& [index, rect] : std::as_const(rows)) {
            const QString id = index.data(CatalogModel::IdRole).toString();
            if (QPushButton* b = m_shown.take(id))
                kept.insert(id, b);
        }
        for (QPushButton* b : std::as_const(m_shown)) {
            b->hide();
            m_spare.append(b);
        }
        m_shown.clear();
        QWidget* previous = m_tree;
        for (const auto& [index, rect] : std::as_const(rows)) {
            const QString id = index.data(CatalogModel::IdRole).toString();
            QPushButton* b = kept.take(id);
            if (!b)
                b = m_spare.isEmpty() ? make() : m_spare.takeLast();
            dress(b, index, id);
            b->setGeometry(m_selecting ? CatalogSiteDelegate::tickRect(rect) : CatalogSiteDelegate::playAllRect(rect));
            b->show();
            m_shown.insert(id, b);
            QWidget::setTabOrder(previous, b);
            previous = b;
        }
        // The layer over the viewport, taking the pointer only on its buttons
        // (an empty mask would mean none, so without buttons it hides).
        QRegion taken;
        for (const QPushButton* b : std::as_const(m_shown))
            taken += b->geometry();
        if (taken.isEmpty()) {
            m_layer->hide();
            return;
        }
        m_layer->setGeometry(QRect(viewport->mapTo(m_layer->parentWidget(), QPoint(0, 0)), viewport->size()));
        m_layer->setMask(taken);
        m_layer->show();
        m_layer->raise();
    }

private:
    QPushButton* make()
    {
        auto* b = new QPushButton(m_layer);
        b->setCursor(Qt::PointingHandCursor);
        b->installEventFilter(this);
        if (m_selecting) {
            b->setObjectName(QStringLiteral("IconBtn"));
            b->setIconSize(QSize(18, 18));
        } else {
            b->setObjectName(QStringLiteral("PlayAll"));
            b->setText(QStringLiteral("Play all"));
            b->setIcon(Theme::icon(Theme::Icon::Play, Theme::colour(Theme::Colour::AccentText), 12));
            b->setIconSize(QSize(12, 12));
        }
        connect(b, &QPushButton::clicked, this, [this, b] {
            const QString id = b->property("siteId").toString();
            if (id.isEmpty())
                return;
            // Out of the button's handler: the action may rebuild the rows.
            QTimer::singleShot(0, this, [this, id] { (m_selecting ? m_tick : m_play)(id); });
        });
        return b;
    }

    void dress(QPushButton* b, const QModelIndex& index, const QString& id)
    {
        const QString name = index.data(Qt::DisplayRole).toString();
        b->setProperty("siteId", id);
        if (m_selecting) {
            const int state = index.data(CatalogModel::CheckRole).toInt();
            b->setIcon(CatalogModel::checkIcon(state));
            const QString tip = QStringLiteral("Select every camera at %1").arg(name);
            b->setToolTip(tip);
            b->setAccessibleName(tip);
            b->setAccessibleDescription(state == 2       ? QStringLiteral("All selected")
                                            : state == 1 ? QStringLiteral("Some selected")
                                                         : QStringLiteral("None selected"));
        } else {
            b->setEnabled(index.data(CatalogModel::HasChannelsRole).toBool());
            b->setToolTip(QStringLiteral("Watch every camera at %1 together").arg(name));
            b->setAccessibleName(QStringLiteral("Play all cameras at %1").arg(name));
        }
    }

    QTreeView* m_tree;
    QWidget* m_layer; // over the tree's viewport, holding the buttons
    std::function<void(const QString&)> m_play;
    std::function<void(const QString&)> m_tick;
    bool m_selecting = false;
    QHash<QString, QPushButton*> m_shown; // site id -> its button
    QList<QPushButton*> m_spare;
    QTimer m_timer;
};

namespace {

QPushButton* iconButton(Theme::Icon icon, const QString& tip, QWidget* parent)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QStringLiteral("IconBtn"));
    b->setCursor(Qt::PointingHandCursor);
    b->setIcon(Theme::icon(icon, Theme::kMuted, 20));
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    return b;
}

} // namespace

CatalogPane::CatalogPane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CatalogPane"));
    setAttribute(Qt::WA_StyledBackground);
    setMinimumWidth(tun::kPaneCollapsedWidth_px);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(12, 12, 12, 12);
    v->setSpacing(8);

    auto* header = new QHBoxLayout();
    header->setSpacing(4);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("Search"));
    m_search->setPlaceholderText(QStringLiteral("Search cameras"));
    m_search->setAccessibleName(QStringLiteral("Search cameras"));
    // The field's icon is a button to a screen reader: named, and it takes
    // the person into the field.
    QAction* searchIcon =
        m_search->addAction(Theme::icon(Theme::Icon::Search, Theme::kMuted, 18), QLineEdit::LeadingPosition);
    searchIcon->setText(QStringLiteral("Search"));
    searchIcon->setToolTip(QStringLiteral("Search cameras"));
    connect(searchIcon, &QAction::triggered, m_search, [this] { m_search->setFocus(Qt::OtherFocusReason); });
    header->addWidget(m_search, 1);
    m_selectToggle =
        iconButton(Theme::Icon::Checked, QStringLiteral("Select cameras from any site for a custom wall"), this);
    m_selectToggle->setCheckable(true);
    header->addWidget(m_selectToggle);
    m_collapseButton = iconButton(Theme::Icon::ChevronLeft, QStringLiteral("Collapse catalog"), this);
    header->addWidget(m_collapseButton);
    v->addLayout(header);

    m_loading = new QLabel(this);
    m_loading->setObjectName(QStringLiteral("Muted"));
    m_loading->setContentsMargins(14, 0, 14, 4);
    m_loading->hide();
    v->addWidget(m_loading);

    m_model = new CatalogModel(m_selectedIds, this);
    m_tree = new CatalogTreeView(this);
    m_tree->setObjectName(QStringLiteral("CatalogTree"));
    m_tree->setAccessibleName(QStringLiteral("Catalog"));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setIndentation(14);
    m_tree->setAnimated(true);
    m_tree->setFocusPolicy(Qt::StrongFocus);
    m_tree->setUniformRowHeights(true); // a catalogue of tens of thousands of rows lays out at once
    m_tree->setMouseTracking(true);
    m_tree->setModel(m_model);
    m_delegate = new CatalogSiteDelegate(m_tree);
    m_tree->setItemDelegate(m_delegate);
    m_siteButtons = new SiteButtons(
        m_tree, [this](const QString& id) { Q_EMIT siteLiveRequested(id); },
        [this](const QString& id) { toggleSite(id); });
    v->addWidget(m_tree, 1);

    m_selectionBar = new QWidget(this);
    m_selectionBar->setObjectName(QStringLiteral("SelectionBar"));
    auto* bar = new QVBoxLayout(m_selectionBar);
    bar->setContentsMargins(12, 10, 12, 12);
    bar->setSpacing(8);
    auto* countRow = new QHBoxLayout();
    m_count = new QLabel(m_selectionBar);
    m_count->setObjectName(QStringLiteral("CardTitle"));
    countRow->addWidget(m_count, 1);
    m_selectAll = new QPushButton(QStringLiteral("Select all"), m_selectionBar);
    m_selectAll->setObjectName(QStringLiteral("TextBtn"));
    m_selectAll->setCursor(Qt::PointingHandCursor);
    countRow->addWidget(m_selectAll);
    bar->addLayout(countRow);
    m_playSelected = new QPushButton(QStringLiteral("Play selected"), m_selectionBar);
    m_playSelected->setObjectName(QStringLiteral("Primary"));
    m_playSelected->setIcon(Theme::icon(Theme::Icon::Play, Theme::colour(Theme::Colour::White), 16));
    m_playSelected->setCursor(Qt::PointingHandCursor);
    bar->addWidget(m_playSelected);
    m_selectionBar->hide();
    v->addWidget(m_selectionBar);

    m_rebuildTimer = new QTimer(this);
    m_rebuildTimer->setSingleShot(true);
    m_rebuildTimer->setInterval(tun::kRebuildDelay);

    connect(m_search, &QLineEdit::textChanged, this, &CatalogPane::applySearch);
    connect(m_rebuildTimer, &QTimer::timeout, this, &CatalogPane::showCompletedSites);
    connect(m_collapseButton, &QPushButton::clicked, this, [this] { setCollapsed(!m_collapsed, true); });
    connect(m_selectToggle, &QPushButton::toggled, this, &CatalogPane::setSelecting);
    connect(m_selectAll, &QPushButton::clicked, this, [this] { selectAll(m_selectedIds.size() < m_totalChannels); });
    connect(m_playSelected, &QPushButton::clicked, this, [this] {
        const QStringList ids = selectedChannels();
        if (!ids.isEmpty())
            Q_EMIT playSelectedRequested(ids);
    });
    // A click on a row, or Enter or Space on the current one, opens it (or
    // ticks it); moving the current row with the arrows acts on nothing. The
    // menu key, Shift+F10 and a right-click offer the row's actions.
    connect(m_tree, &QTreeView::clicked, this, &CatalogPane::rowClicked);
    ItemKeys::install(
        m_tree, [this](const QModelIndex& index) { rowClicked(index); },
        [this](const QModelIndex& index, const QPoint& at) { showRowMenu(index, at); });
    connect(m_delegate, &CatalogSiteDelegate::tickClicked, this, &CatalogPane::toggleSite);
    connect(m_delegate, &CatalogSiteDelegate::playAllClicked, this, &CatalogPane::siteLiveRequested);

    setFixedWidth(m_paneWidth);
    setSites({});
}

QTreeView* CatalogPane::tree() const
{
    return m_tree;
}

QList<QPushButton*> CatalogPane::siteButtons() const
{
    return m_siteButtons->buttons();
}

bool CatalogPane::rebuildPending() const
{
    return m_rebuildTimer->isActive();
}

void CatalogPane::setPaneWidth(int width)
{
    m_paneWidth = std::clamp(width, tun::kPaneMinWidth_px, tun::kPaneMaxWidth_px);
    if (!m_collapsed)
        setFixedWidth(m_paneWidth);
}

static int countChannels(const QList<Site>& sites)
{
    int n = 0;
    for (const Site& s : sites)
        for (const Device& d : s.devices)
            n += int(d.channels.size());
    return n;
}

void CatalogPane::setSites(const QList<Site>& sites)
{
    m_sites = sites;
    m_totalChannels = countChannels(m_sites);
    if (!m_selectedIds.isEmpty()) {
        QSet<QString> still;
        for (const Site& s : std::as_const(m_sites))
            for (const Device& d : s.devices)
                for (const Channel& c : d.channels)
                    if (m_selectedIds.contains(c.id))
                        still.insert(c.id);
        m_selectedIds = still;
    }
    m_rebuildTimer->stop();
    m_completed.clear();
    const int scroll = m_tree->verticalScrollBar()->value();
    m_model->setSites(m_sites);
    m_tree->expandAll();
    m_tree->verticalScrollBar()->setValue(scroll);
    refreshSelectionBar();
}

void CatalogPane::updateSite(int index, const Site& site)
{
    if (index < 0 || index >= m_sites.size())
        return;
    m_totalChannels -= countChannels({m_sites.at(index)});
    m_sites[index] = site;
    m_totalChannels += countChannels({site});
    m_completed.insert(index);
    refreshSelectionBar();
    // Completions close together are shown together, 150 ms after the last;
    // a steady stream of them (a big catalogue) still shows its progress at
    // least that often instead of only at its end.
    if (!m_rebuildTimer->isActive())
        m_pendingSince.start();
    const qint64 waited = m_pendingSince.elapsed();
    const qint64 cap = tun::kRebuildMaxDelay.count();
    m_rebuildTimer->start(int(std::min<qint64>(tun::kRebuildDelay.count(), std::max<qint64>(0, cap - waited))));
}

void CatalogPane::setLoadingText(const QString& text)
{
    m_loading->setText(text);
    m_loading->setVisible(!text.isEmpty() && !m_collapsed);
}

QStringList CatalogPane::channelsOfSite(const Site& site)
{
    QStringList ids;
    for (const Device& d : site.devices)
        for (const Channel& c : d.channels)
            ids << c.id;
    return ids;
}

QStringList CatalogPane::selectedChannels() const
{
    QStringList ids;
    if (m_selectedIds.isEmpty())
        return ids;
    for (const Site& s : m_sites)
        for (const Device& d : s.devices)
            for (const Channel& c : d.channels)
                if (m_selectedIds.contains(c.id))
                    ids << c.id;
    return ids;
}

void CatalogPane::showCompletedSites()
{
    m_rebuildTimer->stop();
    if (m_completed.isEmpty())
        return;
    QList<int> sites = m_completed.values();
    m_completed.clear();
    std::sort(sites.begin(), sites.end());

    // The row at the top of the viewport stays where it is while rows
    // above it come and go.
    QScrollBar* bar = m_tree->verticalScrollBar();
    QPersistentModelIndex anchor;
    int anchorTop = 0;
    if (bar->value() > 0) {
        anchor = m_tree->indexAt(QPoint(0, 0));
        anchorTop = m_tree->visualRect(anchor).top();
    }

    m_tree->scheduleDelayedItemsLayout();
    for (int s : std::as_const(sites))
        m_model->replaceSite(s, m_sites.at(s));
    // Every showing of the tree opens all of it, branches the user folded too.
    m_tree->expandAll();

    if (anchor.isValid()) {
        m_tree->scrollTo(anchor, QAbstractItemView::PositionAtTop);
        if (m_tree->verticalScrollMode() == QAbstractItemView::ScrollPerPixel)
            bar->setValue(bar->value() + m_tree->visualRect(anchor).top() - anchorTop);
    }
}

void CatalogPane::applySearch()
{
    // The current row is found again after the tree is shown anew.
    const CatalogModel::Ref current = m_model->refOf(m_tree->currentIndex());
    const bool selected = m_tree->selectionModel()->isSelected(m_tree->currentIndex());
    const int scroll = m_tree->verticalScrollBar()->value();
    const bool changed = m_model->setQuery(m_search->text());
    // Every edit of the search shows the tree anew, all of it open.
    m_tree->expandAll();
    const QModelIndex again = m_model->indexOf(current.site, current.device, current.channel);
    if (changed && again.isValid() && (current.kind == Kind::Device || current.kind == Kind::Channel))
        m_tree->selectionModel()->setCurrentIndex(
            again, selected ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::NoUpdate);
    m_tree->verticalScrollBar()->setValue(scroll);
}

void CatalogPane::setSelecting(bool on)
{
    m_selecting = on;
    m_model->setSelecting(on);
    m_delegate->selecting = on;
    m_siteButtons->setSelecting(on);
    m_selectToggle->setIcon(Theme::icon(Theme::Icon::Checked, on ? Theme::kAccent : Theme::kMuted, 20));
    if (m_selectToggle->isChecked() != on) {
        const QSignalBlocker block(m_selectToggle);
        m_selectToggle->setChecked(on);
    }
    if (!on)
        m_selectedIds.clear();
    m_selectionBar->setVisible(on && !m_collapsed);
    // Site rows change between their tick mark and "Play all", the other
    // rows between tick marks and status dots; the tree shows anew, all open.
    m_model->ticksChanged();
    m_tree->expandAll();
    refreshSelectionBar();
}

void CatalogPane::startOver()
{
    m_search->clear();
    setSelecting(false);
}

void CatalogPane::tick(const QStringList& ids)
{
    if (ids.isEmpty())
        return;
    bool all = true;
    for (const QString& id : ids)
        if (!m_selectedIds.contains(id)) {
            all = false;
            break;
        }
    for (const QString& id : ids) {
        if (all)
            m_selectedIds.remove(id);
        else
            m_selectedIds.insert(id);
    }
}

void CatalogPane::toggleIndex(const QModelIndex& index)
{
    const Kind kind = m_model->kindOf(index);
    if (kind == Kind::Channel) {
        tick({index.data(CatalogModel::IdRole).toString()});
    } else if (kind == Kind::Device) {
        // Every channel of the device, also those the search hides.
        const QString id = index.data(CatalogModel::IdRole).toString();
        QStringList ids;
        for (const Site& s : std::as_const(m_sites))
            for (const Device& d : s.devices)
                if (d.id == id)
                    for (const Channel& c : d.channels)
                        ids << c.id;
        tick(ids);
    }
    refreshChecks();
}

void CatalogPane::toggleSite(const QString& siteId)
{
    for (const Site& s : std::as_const(m_sites))
        if (s.id == siteId) {
            tick(channelsOfSite(s));
            break;
        }
    refreshChecks();
}

void CatalogPane::selectAll(bool on)
{
    m_selectedIds.clear();
    if (on)
        for (const Site& s : std::as_const(m_sites))
            for (const Device& d : s.devices)
                for (const Channel& c : d.channels)
                    m_selectedIds.insert(c.id);
    refreshChecks();
}

void CatalogPane::refreshChecks()
{
    if (m_selecting)
        m_model->ticksChanged();
    refreshSelectionBar();
}

void CatalogPane::refreshSelectionBar()
{
    const int n = int(m_selectedIds.size());
    m_count->setText(n == 0 ? QStringLiteral("No cameras selected")
                            : QStringLiteral("%1 camera%2 selected").arg(n).arg(n == 1 ? "" : "s"));
    m_playSelected->setEnabled(n > 0);
    m_selectAll->setText(n > 0 && m_totalChannels <= n ? QStringLiteral("Clear all") : QStringLiteral("Select all"));
}

void CatalogPane::rowClicked(const QModelIndex& index)
{
    const Kind kind = m_model->kindOf(index);
    if (m_selecting) {
        if (kind == Kind::Device || kind == Kind::Channel)
            toggleIndex(index);
        return;
    }
    if (kind == Kind::Channel)
        Q_EMIT channelSelected(index.data(CatalogModel::DeviceIdRole).toString(),
                               index.data(CatalogModel::IdRole).toString());
    else if (kind == Kind::Device)
        Q_EMIT deviceSelected(index.data(CatalogModel::IdRole).toString());
}

void CatalogPane::showRowMenu(const QModelIndex& index, const QPoint& at)
{
    const Kind kind = m_model->kindOf(index);
    const QString id = index.data(CatalogModel::IdRole).toString();
    if (id.isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(index.data(Qt::DisplayRole).toString());
    // The action runs once the menu has gone: it may rebuild the rows.
    const auto add = [this, menu](const QString& text, std::function<void()> act) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, act] { QTimer::singleShot(0, this, act); });
        return action;
    };
    const QPersistentModelIndex row(index);
    if (m_selecting) {
        const bool all = index.data(CatalogModel::CheckRole).toInt() == 2;
        const QString text = all ? QStringLiteral("Remove from selection") : QStringLiteral("Add to selection");
        if (kind == Kind::Site)
            add(text, [this, id] { toggleSite(id); });
        else if (kind == Kind::Device || kind == Kind::Channel)
            add(text, [this, row] {
                if (row.isValid())
                    toggleIndex(row);
            });
    } else if (kind == Kind::Channel) {
        const QString device = index.data(CatalogModel::DeviceIdRole).toString();
        add(QStringLiteral("Open live view"), [this, device, id] { Q_EMIT channelSelected(device, id); });
    } else if (kind == Kind::Device) {
        add(QStringLiteral("Open device"), [this, id] { Q_EMIT deviceSelected(id); });
    } else if (kind == Kind::Site) {
        add(QStringLiteral("Play all"), [this, id] {
            Q_EMIT siteLiveRequested(id);
        })->setEnabled(index.data(CatalogModel::HasChannelsRole).toBool());
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(at);
}

void CatalogPane::setCollapsed(bool collapsed, bool animate)
{
    m_collapsed = collapsed;
    m_collapseButton->setIcon(
        Theme::icon(collapsed ? Theme::Icon::ChevronRight : Theme::Icon::ChevronLeft, Theme::kMuted, 20));
    const QString tip = collapsed ? QStringLiteral("Expand catalog") : QStringLiteral("Collapse catalog");
    m_collapseButton->setToolTip(tip);
    m_collapseButton->setAccessibleName(tip);
    const int target = collapsed ? tun::kPaneCollapsedWidth_px : m_paneWidth;
    if (!collapsed) {
        m_search->show();
        m_tree->show();
        m_selectToggle->show();
        m_selectionBar->setVisible(m_selecting);
    }
    if (animate) {
        int from = width();
        if (from < 1)
            from = collapsed ? m_paneWidth : tun::kPaneCollapsedWidth_px;
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(int(tun::kCollapseAnimation.count()));
        animation->setEasingCurve(QEasingCurve::OutCubic);
        animation->setStartValue(from);
        animation->setEndValue(target);
        connect(animation, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { setFixedWidth(value.toInt()); });
        connect(animation, &QVariantAnimation::finished, this, &CatalogPane::applyCollapsedState);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        applyCollapsedState();
        setFixedWidth(target);
    }
    Q_EMIT collapseToggled(collapsed);
}

void CatalogPane::applyCollapsedState()
{
    m_search->setVisible(!m_collapsed);
    m_tree->setVisible(!m_collapsed);
    m_selectToggle->setVisible(!m_collapsed);
    m_loading->setVisible(!m_collapsed && !m_loading->text().isEmpty());
    m_selectionBar->setVisible(!m_collapsed && m_selecting);
}

} // namespace kvr::shell

#include "CatalogPane.moc"
