#include "wall/SetupDialog.h"

#include "app/ui/ScreenFit.h"
#include "wall/Controller.h"
#include "wall/DisplayMap.h"
#include "wall/LayoutPreview.h"
#include "wall/Layouts.h"
#include "wall/Screens.h"
#include "wall/SetupRules.h"
#include "wall/Source.h"
#include "wall/VideoWallRules.h"

#include "app/ui/ClearButton.h"
#include "app/ui/ContentScroll.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

// ---- CameraTree ------------------------------------------------------------

namespace {

// The application's style sheet gives every catalogue item one text colour,
// which would hide an item's own (offline cameras are drawn in the live
// colour): such items get their text painted over the styled row.
class ItemColourDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QVariant colour = index.data(Qt::ForegroundRole);
        if (!colour.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        // The same inset as the style's own item text.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect =
            style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(colour.value<QBrush>().color());
        painter->drawText(textRect, int(opt.displayAlignment),
                          opt.fontMetrics.elidedText(text, opt.textElideMode, textRect.width()));
        painter->restore();
    }
};

} // namespace

CameraTree::CameraTree(QWidget* parent) : QTreeWidget(parent)
{
    setItemDelegate(new ItemColourDelegate(this));
}

QStringList CameraTree::mimeTypes() const
{
    return {SetupRules::kCameraMime};
}

QMimeData* CameraTree::mimeData(const QList<QTreeWidgetItem*>& items) const
{
    auto* data = new QMimeData;
    data->setData(SetupRules::kCameraMime, SetupRules::cameraPayload(camerasOf(items)));
    return data;
}

QStringList CameraTree::camerasOf(const QList<QTreeWidgetItem*>& items)
{
    QStringList ids;
    const std::function<void(QTreeWidgetItem*)> walk = [&ids, &walk](QTreeWidgetItem* item) {
        const QString id = item->data(0, Qt::UserRole).toString();
        if (!id.isEmpty() && !ids.contains(id))
            ids.append(id);
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i));
    };
    for (QTreeWidgetItem* item : items)
        if (item)
            walk(item);
    return ids;
}

// ---- SetupDialog -------------------------------------------------------------

namespace {

QPushButton* secondaryButton(const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QStringLiteral("Secondary"));
    return b;
}

} // namespace

SetupDialog::SetupDialog(std::shared_ptr<Source> source, QWidget* parent) : QDialog(parent), m_source(std::move(source))
{
    setObjectName(QStringLiteral("WallRoot"));
    setWindowTitle(QStringLiteral("Video wall \u00B7 %1").arg(m_source->title()));
    setStyleSheet(Theme::appStyle() + QLatin1Char('\n') + Theme::wallSetupStyle());
    setWindowModality(Qt::WindowModal);
    ScreenFit::keepWithin(this, QSize());
    // Its own size, or the display it opens on when that is smaller (a
    // laptop's 1280 x 720): "Start wall" and "Close" stay on the screen.
    if (QScreen* display = parent ? parent->screen() : QGuiApplication::primaryScreen())
        resize(SetupRules::setupSize(display->availableGeometry().size()));
    else
        resize(SetupRules::setupSize(QSize()));

    m_config = load(m_source->id());
    for (QScreen* s : QGuiApplication::screens())
        m_config.forScreen(s);
    m_titles = SetupRules::previewTitles(m_source->cameras());

    // The cameras and the displays side by side, scrolled on a screen too
    // small for them (a laptop's at a scale of 1.5); the run row below them,
    // always in view.
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 18, 20, 16);
    page->setSpacing(10);
    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("WallBody"));
    auto* outer = new QHBoxLayout(body);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(18);
    page->addWidget(new ui::ContentScroll(body, true), 1);

    // Left: the cameras.
    auto* left = new QWidget(body);
    left->setFixedWidth(320);
    auto* leftColumn = new QVBoxLayout(left);
    leftColumn->setContentsMargins(0, 0, 0, 0);
    leftColumn->setSpacing(8);
    auto* camerasLabel = new QLabel(QStringLiteral("Cameras"), left);
    camerasLabel->setObjectName(QStringLiteral("WallSection"));
    leftColumn->addWidget(camerasLabel);
    m_search = new QLineEdit(left);
    m_search->setObjectName(QStringLiteral("Field"));
    m_search->setPlaceholderText(QStringLiteral("Search cameras"));
    giveClearButton(m_search);
    camerasLabel->setBuddy(m_search);
    leftColumn->addWidget(m_search);
    // How cameras get onto a display, above the list it speaks of: under the
    // list it lay below what a laptop's screen shows of the page, under the
    // run row, and half of it at a scale of 1.5.
    m_hint = new QLabel(QStringLiteral("Drag a camera, device or site onto a cell, or double-click a camera to "
                                       "put it in the selected cell."),
                        left);
    m_hint->setObjectName(QStringLiteral("Muted"));
    m_hint->setWordWrap(true);
    leftColumn->addWidget(m_hint);
    m_tree = new CameraTree(left);
    m_tree->setObjectName(QStringLiteral("CatalogTree"));
    m_tree->setAccessibleName(QStringLiteral("Cameras"));
    m_tree->setHeaderHidden(true);
    m_tree->setDragEnabled(true);
    m_tree->setDragDropMode(QAbstractItemView::DragOnly);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setIndentation(14);
    m_tree->setAccessibleDescription(QStringLiteral(
        "Enter puts the camera in the selected cell; the menu key offers to put the chosen cameras in the cells "
        "from the selected one on"));
    leftColumn->addWidget(m_tree, 1);
    outer->addWidget(left);

    // Right: displays, editor, run state.
    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    auto* titleRow = new QHBoxLayout;
    auto* displaysLabel = new QLabel(QStringLiteral("Displays"), body);
    displaysLabel->setObjectName(QStringLiteral("WallTitle"));
    titleRow->addWidget(displaysLabel);
    titleRow->addStretch(1);
    auto* identifyButton = secondaryButton(QStringLiteral("Identify displays"), body);
    identifyButton->setToolTip(QStringLiteral("Show each display's number on it for a few seconds"));
    titleRow->addWidget(identifyButton);
    right->addLayout(titleRow);

    m_map = new DisplayMap(body);
    m_map->setConfig(&m_config);
    right->addWidget(m_map);

    auto* card = new QFrame(body);
    card->setObjectName(QStringLiteral("Card"));
    auto* cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(16, 14, 16, 14);
    cardColumn->setSpacing(10);
    auto* headRow = new QHBoxLayout;
    m_heading = new QLabel(card);
    m_heading->setObjectName(QStringLiteral("WallSection"));
    headRow->addWidget(m_heading, 1);
    m_enabledBox = new QCheckBox(QStringLiteral("Show a wall on this display"), card);
    headRow->addWidget(m_enabledBox);
    cardColumn->addLayout(headRow);

    // The tools go onto a second line where the card is narrow.
    auto* tools = new ui::WrapRow(nullptr, 8, 8);
    m_layoutCombo = new QComboBox(card);
    m_layoutCombo->setToolTip(QStringLiteral("Layout"));
    m_layoutCombo->setAccessibleName(QStringLiteral("Layout"));
    for (const Layout& l : layouts())
        m_layoutCombo->addItem(SetupRules::layoutEntry(l.title, int(l.cells.size())), l.key);
    m_qualityCombo = new QComboBox(card);
    m_qualityCombo->setToolTip(
        QStringLiteral("Auto uses the Sub stream when more than four cameras share this display"));
    m_qualityCombo->setAccessibleName(QStringLiteral("Stream quality"));
    m_qualityCombo->addItem(QStringLiteral("Quality: Auto"), kQualityAuto);
    m_qualityCombo->addItem(QStringLiteral("Quality: Sub"), kQualitySub);
    m_qualityCombo->addItem(QStringLiteral("Quality: Main"), kQualityMain);
    m_fillButton = secondaryButton(QStringLiteral("Fill empty cells"), card);
    m_fillButton->setToolTip(QStringLiteral("With the cameras selected on the left, in order"));
    m_clearButton = secondaryButton(QStringLiteral("Clear"), card);
    m_forgetButton = secondaryButton(QStringLiteral("Forget display"), card);
    cardColumn->addLayout(tools);
    tools->addLeading(m_layoutCombo);
    tools->addLeading(m_qualityCombo);
    tools->addTrailing(m_fillButton);
    tools->addTrailing(m_clearButton);
    tools->addTrailing(m_forgetButton);

    // The note right under the layout it speaks of (cameras a smaller one
    // holds back): under the preview it lay below what a laptop's screen
    // shows of the dialog.
    m_note = new QLabel(card);
    m_note->setObjectName(QStringLiteral("Muted"));
    m_note->setWordWrap(true);
    cardColumn->addWidget(m_note);
    m_preview = new LayoutPreview(card);
    cardColumn->addWidget(m_preview, 1);
    right->addWidget(card, 1);

    auto* runRow = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Muted"));
    runRow->addWidget(m_status, 1);
    m_stopButton = secondaryButton(QStringLiteral("Stop wall"), this);
    m_startButton = new QPushButton(QStringLiteral("Start wall"), this);
    m_startButton->setObjectName(QStringLiteral("Primary"));
    auto* closeButton = secondaryButton(QStringLiteral("Close"), this);
    runRow->addWidget(m_stopButton);
    runRow->addWidget(m_startButton);
    runRow->addWidget(closeButton);
    outer->addLayout(right, 1);
    page->addLayout(runRow);

    buildTree();

    Controller* controller = Controller::instance();
    connect(m_search, &QLineEdit::textChanged, this, &SetupDialog::filterTree);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        const QString id = item ? item->data(0, Qt::UserRole).toString() : QString();
        if (!id.isEmpty())
            assignToSelected({id});
    });
    ItemKeys::install(
        m_tree, [this](const QModelIndex& index) { openItem(m_tree->itemFromIndex(index)); },
        [this](const QModelIndex& index, const QPoint& at) { showItemMenu(m_tree->itemFromIndex(index), at); });
    connect(identifyButton, &QPushButton::clicked, this, [] { Controller::instance()->identify(); });
    connect(m_map, &DisplayMap::selected, this, &SetupDialog::selectScreen);
    connect(m_preview, &LayoutPreview::changed, this, &SetupDialog::changed);
    connect(m_enabledBox, &QCheckBox::toggled, this, [this](bool on) {
        if (ScreenConfig* cfg = selected()) {
            cfg->enabled = on;
            changed();
        }
    });
    connect(m_layoutCombo, &QComboBox::activated, this, &SetupDialog::changeLayout);
    connect(m_qualityCombo, &QComboBox::activated, this, [this](int index) {
        if (ScreenConfig* cfg = selected()) {
            cfg->quality = m_qualityCombo->itemData(index).toInt();
            changed();
        }
    });
    connect(m_fillButton, &QPushButton::clicked, this, &SetupDialog::fillEmpty);
    connect(m_clearButton, &QPushButton::clicked, this, &SetupDialog::clearCells);
    connect(m_forgetButton, &QPushButton::clicked, this, &SetupDialog::forgetDisplay);
    connect(m_startButton, &QPushButton::clicked, this, &SetupDialog::startWall);
    connect(m_stopButton, &QPushButton::clicked, this, [] { Controller::instance()->stop(); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    // Enter starts the wall (nothing while it runs), never a side action.
    ui::setEnterButton(this, m_startButton);
    connect(controller, &Controller::runningChanged, this, &SetupDialog::updateRunState);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        const ScreenConfig* cfg = m_config.forScreen(screen);
        m_map->update();
        // The display being edited came back: its heading, note and Forget
        // button change with it.
        if (cfg && cfg->key == m_selectedKey)
            refreshEditor();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen*) {
        QTimer::singleShot(0, this, [this] {
            m_map->update();
            refreshEditor();
        });
    });

    QScreen* initial = nullptr;
    for (QScreen* s : QGuiApplication::screens()) {
        if (s != screen()) {
            initial = s;
            break;
        }
    }
    if (!initial)
        initial = QGuiApplication::primaryScreen();
    const QString key = screenKey(initial);
    if (m_config.find(key))
        showSelection(key);
    updateRunState();
}

ScreenConfig* SetupDialog::selected()
{
    return m_selectedKey.isEmpty() ? nullptr : m_config.find(m_selectedKey);
}

void SetupDialog::showSelection(const QString& key)
{
    m_selectedKey = key;
    m_map->setSelectedKey(key);
    m_map->update();
    refreshEditor();
}

void SetupDialog::buildTree()
{
    m_tree->clear();
    QHash<QString, QTreeWidgetItem*> sites;
    QHash<QString, QTreeWidgetItem*> devices;
    for (const Camera& c : m_source->cameras()) {
        const QString siteText = c.site.isEmpty() ? QStringLiteral("No site") : c.site;
        QTreeWidgetItem* site = sites.value(siteText);
        if (!site) {
            site = new QTreeWidgetItem(m_tree, {siteText});
            QFont bold = site->font(0);
            bold.setWeight(QFont::DemiBold);
            site->setData(0, Qt::FontRole, bold);
            sites.insert(siteText, site);
        }
        const QString deviceText = c.device.isEmpty() ? QStringLiteral("Cameras") : c.device;
        const QString deviceKey = siteText + QChar(0x1F) + deviceText;
        QTreeWidgetItem* device = devices.value(deviceKey);
        if (!device) {
            device = new QTreeWidgetItem(site, {deviceText});
            devices.insert(deviceKey, device);
        }
        auto* camera = new QTreeWidgetItem(device, {c.title});
        camera->setData(0, Qt::UserRole, c.id);
        if (c.offline) {
            camera->setForeground(0, Theme::colour(Theme::Colour::Live));
            camera->setToolTip(0, QStringLiteral("Offline at the last check"));
        }
    }
    m_tree->expandAll();
}

void SetupDialog::filterTree(const QString& text)
{
    const QString t = text.trimmed();
    for (int s = 0; s < m_tree->topLevelItemCount(); ++s) {
        QTreeWidgetItem* site = m_tree->topLevelItem(s);
        bool siteShown = false;
        for (int d = 0; d < site->childCount(); ++d) {
            QTreeWidgetItem* device = site->child(d);
            const bool deviceMatches = t.isEmpty() || SetupRules::matchesSearch(device->text(0), t)
                || SetupRules::matchesSearch(site->text(0), t);
            bool deviceShown = false;
            for (int c = 0; c < device->childCount(); ++c) {
                QTreeWidgetItem* camera = device->child(c);
                const bool shown = deviceMatches || SetupRules::matchesSearch(camera->text(0), t);
                camera->setHidden(!shown);
                deviceShown = deviceShown || shown;
            }
            device->setHidden(!deviceShown);
            siteShown = siteShown || deviceShown;
        }
        site->setHidden(!siteShown);
    }
}

void SetupDialog::selectScreen(const QString& key)
{
    if (key.isEmpty() || !m_config.find(key))
        return;
    showSelection(key);
}

void SetupDialog::changed()
{
    save(m_source->id(), m_config);
    m_map->update();
    m_preview->update();
    updateRunState();
}

void SetupDialog::refreshEditor()
{
    const ScreenConfig* cfg = selected();
    if (!cfg) {
        // Nothing to edit (the display was forgotten): show an empty frame.
        m_preview->setScreen(nullptr, QString(), nullptr, 16.0 / 9.0);
        m_heading->clear();
        m_note->clear();
        m_note->hide();
        m_forgetButton->setVisible(false);
        return;
    }
    QScreen* screen = screenFor(cfg->key);
    m_heading->setText(
        SetupRules::editorHeading(screen != nullptr, screenNumber(screen), screenTitle(screen), cfg->label));
    {
        const QSignalBlocker b1(m_enabledBox);
        const QSignalBlocker b2(m_layoutCombo);
        const QSignalBlocker b3(m_qualityCombo);
        m_enabledBox->setChecked(cfg->enabled);
        m_layoutCombo->setCurrentIndex(qMax(0, m_layoutCombo->findData(cfg->layout)));
        m_qualityCombo->setCurrentIndex(qMax(0, m_qualityCombo->findData(cfg->quality)));
    }
    m_forgetButton->setVisible(!screen);
    m_preview->setScreen(&m_config, cfg->key, &m_titles, screen ? SetupRules::aspectOf(screen->size()) : 16.0 / 9.0);
    SetupRules::DisplayPlace place = SetupRules::DisplayPlace::NotConnected;
    if (screen)
        place =
            screen == this->screen() ? SetupRules::DisplayPlace::ThisWindow : SetupRules::DisplayPlace::OtherConnected;
    QStringList note{SetupRules::editorNote(place), SetupRules::heldBackNote(int(heldBack(cfg->key).size()))};
    note.removeAll(QString());
    m_note->setText(note.join(QLatin1Char('\n')));
    m_note->setVisible(!note.isEmpty());
}

void SetupDialog::updateRunState()
{
    Controller* c = Controller::instance();
    const bool running = c->isRunning();
    const bool mine = running && (c->source() ? c->source()->id() : QString()) == m_source->id();
    int ready = 0;
    for (QScreen* s : QGuiApplication::screens())
        if (VideoWallRules::qualifies(m_config.find(screenKey(s))))
            ++ready;
    const SetupRules::RunState state = SetupRules::runState(running, mine, c->windowCount(), ready);
    m_stopButton->setVisible(state.stopVisible);
    m_startButton->setText(state.startText);
    m_status->setText(state.status);
}

QStringList SetupDialog::refsOf(QTreeWidgetItem* item) const
{
    QStringList out;
    if (!item)
        return out;
    const QString id = item->data(0, Qt::UserRole).toString();
    if (!id.isEmpty())
        out.append(id);
    for (int i = 0; i < item->childCount(); ++i)
        out += refsOf(item->child(i));
    return out;
}

void SetupDialog::assignToSelected(const QList<QString>& ids)
{
    ScreenConfig* cfg = selected();
    if (!cfg || ids.isEmpty())
        return;
    m_preview->setSelectedCell(SetupRules::assignToCell(cfg->cells, m_preview->selectedCell(), ids.first()));
    changed();
}

void SetupDialog::openItem(QTreeWidgetItem* item)
{
    const QString id = item->data(0, Qt::UserRole).toString();
    if (!id.isEmpty())
        assignToSelected({id});
    else
        item->setExpanded(!item->isExpanded());
}

void SetupDialog::showItemMenu(QTreeWidgetItem* item, const QPoint& at)
{
    const int cell = m_preview->selectedCell();
    if (cell < 0 || cell >= m_preview->cellCount())
        return;
    // What a drag from this item would carry: the chosen items where it is
    // one of them, else the item alone.
    const QStringList ids = CameraTree::camerasOf(item->isSelected() ? m_tree->selectedItems() : QList{item});
    auto* menu = new QMenu(m_tree);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(item->text(0));
    const QPointer<LayoutPreview> preview(m_preview);
    const QString key = m_selectedKey;
    connect(menu->addAction(SetupRules::placeEntry(int(ids.size()), cell)), &QAction::triggered, this,
            [this, preview, key, cell, ids] {
                // Once the menu has gone, on the display it was chosen for.
                QTimer::singleShot(0, this, [preview, key, cell, ids] {
                    if (preview && preview->screenKey() == key)
                        preview->placeCameras(cell, ids);
                });
            });
    menu->popup(at);
}

void SetupDialog::changeLayout(int index)
{
    ScreenConfig* cfg = selected();
    if (!cfg || index < 0)
        return;
    const QStringList left =
        SetupRules::changeLayout(*cfg, m_layoutCombo->itemData(index).toString(), m_heldBack.value(cfg->key));
    if (left.isEmpty())
        m_heldBack.remove(cfg->key);
    else
        m_heldBack.insert(cfg->key, left);
    refreshEditor();
    changed();
}

void SetupDialog::fillEmpty()
{
    ScreenConfig* cfg = selected();
    if (!cfg)
        return;
    QStringList ids;
    for (QTreeWidgetItem* item : m_tree->selectedItems())
        ids += refsOf(item);
    SetupRules::fillEmptyCells(cfg->cells, SetupRules::uniqueIds(ids));
    m_preview->update();
    changed();
}

void SetupDialog::clearCells()
{
    ScreenConfig* cfg = selected();
    if (!cfg)
        return;
    for (QString& id : cfg->cells)
        id.clear();
    m_heldBack.remove(cfg->key);
    refreshEditor();
    changed();
}

void SetupDialog::forgetDisplay()
{
    if (!selected())
        return;
    const QString gone = m_selectedKey;
    m_heldBack.remove(gone);
    m_config.screens.removeIf([&gone](const ScreenConfig& s) { return s.key == gone; });
    m_selectedKey.clear();
    m_map->setSelectedKey(QString());
    const QString key = screenKey(QGuiApplication::primaryScreen());
    if (!key.isEmpty() && m_config.find(key))
        showSelection(key);
    else
        refreshEditor();
    changed();
}

void SetupDialog::startWall()
{
    Controller* c = Controller::instance();
    c->start(m_source, m_config);
    // The set-up is applied: what its layouts left out is let go.
    if (!m_heldBack.isEmpty()) {
        m_heldBack.clear();
        refreshEditor();
    }
    if (c->windowCount() == 0 && !c->runningFlag())
        m_status->setText(QStringLiteral(
            "Put cameras on at least one connected display, and tick \u201CShow a wall on this display\u201D."));
}

} // namespace VideoWall

} // namespace kvr::wall
