#include "native/live/VmsPage.h"

#include "app/core/Settings.h"
#include "app/ui/ClearButton.h"
#include "app/ui/Fitting.h"
#include "app/ui/FocusRing.h"
#include "app/ui/LayoutTools.h"
#include "app/ui/TimelineBar.h"
#include "native/live/LiveWallRules.h"
#include "native/live/NativeWallSource.h"
#include "native/live/Tunables.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeStore.h"
#include "video/VideoStage.h"
#include "wall/Controller.h"
#include "wall/SetupDialog.h"
#include "wall/TileRetry.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::wall;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

namespace {
constexpr int kKindRole = Qt::UserRole + 1;
const QString kSite = QStringLiteral("site");
const QString kDevice = QStringLiteral("device");
const QString kCamera = QStringLiteral("camera");

// The wall reduced against the inventory as it stands now.
QStringList reducedWall(const QStringList& wall, bool strict)
{
    const QList<Native::Device> devices = NativeStore::instance().devices();
    return LiveWallRules::reduceWall(
        wall,
        [&](const QString& id) -> const Native::Device* {
            for (const Native::Device& d : devices)
                if (d.id == id)
                    return &d;
            return nullptr;
        },
        strict);
}

// The titles of the wall's cameras, named as their tiles name them.
QStringList wallTitles(const QStringList& wall)
{
    const QList<Native::Device>& devices = NativeStore::instance().devices();
    QHash<QString, const Native::Device*> byId;
    byId.reserve(devices.size());
    for (const Native::Device& d : devices)
        byId.insert(d.id, &d);
    return LiveWallRules::wallTitles(wall, [&byId](const QString& id) { return byId.value(id); });
}
} // namespace

VmsPage::VmsPage(QWidget* parent) : LiveWallPage(parent)
{
    setObjectName(QStringLiteral("VRoot"));
    setAttribute(Qt::WA_StyledBackground);
    // Tab walks through the tiles and their buttons, which show no focus of
    // their own on the dark picture.
    FocusRing::follow(this, NativeStyle::token("vFocus"), 12);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // The camera tree as wide as a person drags it (names of recorders run
    // long), found so at the next start.
    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setObjectName(QStringLiteral("VSplit"));
    m_split->setChildrenCollapsible(false);
    m_split->setHandleWidth(4);
    m_split->addWidget(buildSide());
    row->addWidget(m_split);

    auto* main = new QWidget(this);
    auto* column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildToolbar());
    column->addWidget(buildTransport());

    m_stack = new QStackedWidget(main);
    m_gridHost = new QWidget(m_stack);
    // Its tiles come once the window shows: the window is made ready for
    // the graphics chip before that.
    kvr::video::VideoStage::readyWindowOf(m_gridHost);
    m_grid = new QGridLayout(m_gridHost);
    m_grid->setContentsMargins(14, 14, 14, 14);
    m_grid->setSpacing(10);
    m_stack->addWidget(m_gridHost);

    auto* empty = new QWidget(m_stack);
    auto* emptyColumn = new QVBoxLayout(empty);
    emptyColumn->setAlignment(Qt::AlignCenter);
    m_emptyLabel = new QLabel(empty);
    m_emptyLabel->setObjectName(QStringLiteral("VEmpty"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyButton = NativeUi::button(QString(), "VPrimary");
    emptyColumn->addWidget(m_emptyLabel);
    emptyColumn->addSpacing(10);
    emptyColumn->addWidget(m_emptyButton, 0, Qt::AlignHCenter);
    m_stack->addWidget(empty);
    connect(m_emptyButton, &QPushButton::clicked, this, [this] {
        if (NativeStore::instance().devices().isEmpty())
            Q_EMIT openVigiloRequested();
        else
            addAllOnline();
    });
    column->addWidget(m_stack, 1);
    m_split->addWidget(main);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    connect(m_split, &QSplitter::splitterMoved, this,
            [this] { Prefs::set(Prefs::kNativeVmsTreeWidth, m_split->sizes().value(0)); });

    m_syncTimer = new QTimer(this);
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setInterval(0);
    connect(m_syncTimer, &QTimer::timeout, this, &VmsPage::syncWallFromTree);

    connect(&NativeStore::instance(), &NativeStore::changed, this, &VmsPage::onInventoryChanged);
    connect(VideoWall::Controller::instance(), &VideoWall::Controller::runningChanged, this, &VmsPage::onWallRunning);
    updateToolbar();
}

void VmsPage::resizeEvent(QResizeEvent* event)
{
    LiveWallPage::resizeEvent(event);
    // The tree at the width a person left it, once the page has its own: a
    // splitter shares out sizes given before by their weight.
    if (m_treeSized)
        return;
    const int treeWidth = std::clamp(Prefs::get(Prefs::kNativeVmsTreeWidth), tun::kTreeLeast_px, tun::kTreeMost_px);
    const int room = m_split->width() - m_split->handleWidth();
    if (room <= treeWidth)
        return;
    m_split->setSizes({treeWidth, room - treeWidth});
    m_treeSized = true;
}

VmsPage::~VmsPage()
{
    VmsTile::stopAll(m_tiles);
}

QWidget* VmsPage::buildSide()
{
    auto* side = new QWidget(this);
    side->setObjectName(QStringLiteral("VSide"));
    side->setAttribute(Qt::WA_StyledBackground);
    side->setMinimumWidth(tun::kTreeLeast_px);
    side->setMaximumWidth(tun::kTreeMost_px);
    auto* col = new QVBoxLayout(side);
    col->setContentsMargins(14, 16, 14, 14);
    col->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Cameras"), side);
    title->setObjectName(QStringLiteral("VTitle"));
    col->addWidget(title);
    m_search = new QLineEdit(side);
    m_search->setPlaceholderText(QStringLiteral("Search cameras"));
    giveClearButton(m_search);
    m_search->setAccessibleName(QStringLiteral("Search cameras"));
    connect(m_search, &QLineEdit::textChanged, this, &VmsPage::applyFilter);
    col->addWidget(m_search);
    m_tree = new QTreeWidget(side);
    m_tree->setObjectName(QStringLiteral("VTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setIndentation(16);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::NoSelection);
    // Arrow keys move through the tree and Space ticks a camera.
    m_tree->setFocusPolicy(Qt::StrongFocus);
    m_tree->setAccessibleName(QStringLiteral("Cameras"));
    // Recorders and cameras named alike keep what tells them apart from
    // every row of their kind, under whichever site, and read whole in their
    // tip.
    auto* apart = new ApartDelegate(m_tree);
    apart->setAcrossTree(true);
    m_tree->setItemDelegate(apart);
    m_tree->setTextElideMode(Qt::ElideNone);
    connect(m_tree, &QTreeWidget::itemChanged, this, [this] {
        if (!m_filling)
            m_syncTimer->start();
    });
    title->setBuddy(m_tree);
    col->addWidget(m_tree, 1);
    m_wallHint = new QLabel(side);
    m_wallHint->setObjectName(QStringLiteral("VMuted"));
    col->addWidget(m_wallHint);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto* addAll = NativeUi::button(QStringLiteral("Add all online"), "VBtn");
    auto* clear = NativeUi::button(QStringLiteral("Clear"), "VBtn");
    connect(addAll, &QPushButton::clicked, this, &VmsPage::addAllOnline);
    connect(clear, &QPushButton::clicked, this, &VmsPage::clearWall);
    buttons->addWidget(addAll, 1);
    buttons->addWidget(clear);
    col->addLayout(buttons);
    return side;
}

QFrame* VmsPage::segmentedControl(const QStringList& labels, QButtonGroup** group, void (VmsPage::*choose)(int))
{
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("VSegWrap"));
    frame->setFixedHeight(36);
    auto* lay = new QHBoxLayout(frame);
    lay->setContentsMargins(3, 3, 3, 3);
    lay->setSpacing(2);
    *group = new QButtonGroup(frame);
    (*group)->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* b = new QPushButton(labels.at(i), frame);
        b->setObjectName(QStringLiteral("VSeg"));
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setChecked(i == 0);
        (*group)->addButton(b, i);
        lay->addWidget(b);
    }
    connect(*group, &QButtonGroup::idClicked, this, [this, choose](int id) { (this->*choose)(id); });
    return frame;
}

QWidget* VmsPage::buildToolbar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("VBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setMinimumHeight(60);
    // The controls move onto a second line when the bar is too narrow for
    // them side by side, rather than squeezing their labels away.
    auto* row = new WrapRow(bar, 10, 8);
    row->setContentsMargins(20, 12, 20, 12);

    auto* lead = new QWidget(bar);
    QHBoxLayout* leadRow = groupRow(lead, 10);
    m_modeControl =
        segmentedControl({QStringLiteral("Live"), QStringLiteral("Playback")}, &m_modeGroup, &VmsPage::chooseMode);
    m_modeControl->setAccessibleName(QStringLiteral("Live or playback"));
    leadRow->addWidget(m_modeControl);
    leadRow->addSpacing(6);
    m_titleLabel = new ElidedLabel(QStringLiteral("Live wall"), lead);
    m_titleLabel->setObjectName(QStringLiteral("VTitle"));
    leadRow->addWidget(m_titleLabel, 1);
    m_noticeLabel = new QLabel(lead);
    m_noticeLabel->setObjectName(QStringLiteral("VMuted"));
    m_noticeLabel->hide();
    leadRow->addWidget(m_noticeLabel);
    row->addLeading(lead);

    m_layoutControl = segmentedControl(LiveWallRules::layoutLabels(), &m_layoutGroup, &VmsPage::setLayoutChoice);
    m_layoutControl->setToolTip(QStringLiteral("Cameras per page"));
    m_layoutControl->setAccessibleName(QStringLiteral("Cameras per page"));
    row->addTrailing(m_layoutControl);
    m_qualityControl = segmentedControl({QStringLiteral("Auto"), QStringLiteral("Sub"), QStringLiteral("Main")},
                                        &m_qualityGroup, &VmsPage::setQualityChoice);
    m_qualityControl->setToolTip(
        QStringLiteral("Stream quality. Auto uses Sub when more than four cameras share a page."));
    m_qualityControl->setAccessibleName(QStringLiteral("Stream quality"));
    row->addTrailing(m_qualityControl);
    m_wallButton = NativeUi::button(QStringLiteral("Video wall"), "VBtn");
    m_wallButton->setToolTip(QStringLiteral("Show cameras across the displays connected to this computer"));
    connect(m_wallButton, &QPushButton::clicked, this, &VmsPage::openVideoWall);
    row->addTrailing(m_wallButton);

    // The pager's arrows: a glyph on screen, a name for the tool tip and screen readers.
    const auto pagerButton = [&](const QString& glyph, const QString& name, void (VmsPage::*turn)()) {
        QPushButton* b = NativeUi::button(glyph, "VBtn");
        b->setFixedWidth(40);
        b->setAccessibleName(name);
        b->setToolTip(name);
        connect(b, &QPushButton::clicked, this, turn);
        return b;
    };
    m_prevButton = pagerButton(QStringLiteral("\u2039"), QStringLiteral("Previous page"), &VmsPage::previousPage);
    row->addTrailing(m_prevButton);
    m_pageLabel = new QLabel(bar);
    m_pageLabel->setObjectName(QStringLiteral("VMuted"));
    row->addTrailing(m_pageLabel);
    m_nextButton = pagerButton(QStringLiteral("\u203a"), QStringLiteral("Next page"), &VmsPage::nextPage);
    row->addTrailing(m_nextButton);
    m_backButton = NativeUi::button(QStringLiteral("Back to wall"), "VBtn");
    m_backButton->hide();
    connect(m_backButton, &QPushButton::clicked, this, &VmsPage::leaveFocus);
    row->addTrailing(m_backButton);
    return bar;
}

void VmsPage::setLayoutChoice(int layout)
{
    m_layout = LiveWallRules::clampLayout(layout);
    if (QAbstractButton* b = m_layoutGroup->button(m_layout))
        b->setChecked(true);
    m_page = 0;
    save();
    rebuildWallLater();
}

void VmsPage::setQualityChoice(int quality)
{
    m_quality = LiveWallRules::clampQuality(quality);
    if (QAbstractButton* b = m_qualityGroup->button(m_quality))
        b->setChecked(true);
    save();
    rebuildWallLater();
}

void VmsPage::previousPage()
{
    if (m_page < 1)
        return;
    --m_page;
    rebuildWallLater();
}

void VmsPage::nextPage()
{
    ++m_page;
    rebuildWallLater();
}

void VmsPage::chooseMode(int id)
{
    // Out of the button's own click handler: the switch rebuilds every tile.
    QTimer::singleShot(0, this, [this, id] { setMode(id == 1); });
}

void VmsPage::openVideoWall()
{
    auto source = std::make_shared<NativeWallSource>();
    auto* dialog = new VideoWall::SetupDialog(source, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

void VmsPage::onWallRunning()
{
    VideoWall::Controller* c = VideoWall::Controller::instance();
    const bool ours = c->isRunning() && c->source() && c->source()->id() == NativeWallSource::kId;
    m_wallButton->setText(ours ? QStringLiteral("Video wall \u00b7 on %1").arg(c->windowCount())
                               : QStringLiteral("Video wall"));
}

void VmsPage::onInventoryChanged()
{
    if (!m_active)
        return;
    refreshTree();
    const QStringList reduced = reducedWall(m_wall, false);
    if (reduced != m_wall) {
        m_wall = reduced;
        rebuildWallLater();
    }
}

void VmsPage::load()
{
    m_loaded = true;
    m_wall = Prefs::get(Prefs::kNativeVmsWall);
    m_layout = LiveWallRules::clampLayout(Prefs::get(Prefs::kNativeVmsLayout));
    m_quality = LiveWallRules::clampQuality(Prefs::get(Prefs::kNativeVmsQuality));
    if (QAbstractButton* b = m_layoutGroup->button(m_layout))
        b->setChecked(true);
    if (QAbstractButton* b = m_qualityGroup->button(m_quality))
        b->setChecked(true);
}

void VmsPage::save()
{
    Prefs::set(Prefs::kNativeVmsWall, m_wall);
    Prefs::set(Prefs::kNativeVmsLayout, m_layout);
    Prefs::set(Prefs::kNativeVmsQuality, m_quality);
}

void VmsPage::activate()
{
    m_active = true;
    if (!m_loaded)
        load();
    m_wall = reducedWall(m_wall, true);
    refreshTree();
    rebuildWall();
}

void VmsPage::deactivate()
{
    m_active = false;
    stopAllTiles();
    if (m_loaded)
        save();
}

void VmsPage::stopAllTiles()
{
    VmsTile::stopAll(m_tiles);
}

void VmsPage::refreshTree()
{
    m_filling = true;
    const bool wasBlocked = m_tree->blockSignals(true);
    m_tree->clear();
    const QList<LiveWallRules::TreeSite> sites =
        LiveWallRules::buildTree(NativeStore::instance().sites(), NativeStore::instance().devices(), m_wall);
    for (const LiveWallRules::TreeSite& site : sites) {
        auto* siteItem = new QTreeWidgetItem(m_tree, {site.name});
        siteItem->setData(0, kKindRole, kSite);
        siteItem->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsAutoTristate);
        siteItem->setCheckState(0, Qt::Unchecked);
        QFont f = siteItem->font(0);
        f.setWeight(site.named ? QFont::DemiBold : QFont::Normal);
        siteItem->setFont(0, f);
        for (const LiveWallRules::TreeDevice& device : site.devices) {
            auto* deviceItem = new QTreeWidgetItem(siteItem, {device.name});
            deviceItem->setData(0, kKindRole, kDevice);
            deviceItem->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsAutoTristate);
            deviceItem->setCheckState(0, Qt::Unchecked);
            deviceItem->setToolTip(0, device.toolTip);
            for (const LiveWallRules::TreeCamera& camera : device.cameras) {
                auto* cameraItem = new QTreeWidgetItem(deviceItem, {camera.text});
                cameraItem->setData(0, Qt::UserRole, camera.key);
                cameraItem->setData(0, kKindRole, kCamera);
                cameraItem->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
                cameraItem->setCheckState(0, camera.ticked ? Qt::Checked : Qt::Unchecked);
                if (camera.offline) {
                    cameraItem->setForeground(0, QColor(0xf2, 0x55, 0x5a));
                    cameraItem->setToolTip(0, QStringLiteral("Offline at the last check"));
                }
            }
        }
    }
    m_tree->expandAll();
    m_filling = false;
    applyFilter();
    m_tree->blockSignals(wasBlocked);
}

void VmsPage::applyFilter()
{
    const QString filter = m_search->text();
    for (int s = 0; s < m_tree->topLevelItemCount(); ++s) {
        QTreeWidgetItem* site = m_tree->topLevelItem(s);
        bool anyDevice = false;
        for (int d = 0; d < site->childCount(); ++d) {
            QTreeWidgetItem* device = site->child(d);
            QStringList cameras;
            for (int c = 0; c < device->childCount(); ++c)
                cameras << device->child(c)->text(0);
            const LiveWallRules::DeviceFilter f =
                LiveWallRules::filterDevice(filter, site->text(0), device->text(0), cameras);
            for (int c = 0; c < device->childCount(); ++c)
                device->child(c)->setHidden(!f.camerasShown.value(c));
            device->setHidden(!f.deviceShown);
            anyDevice = anyDevice || f.deviceShown;
        }
        site->setHidden(!anyDevice);
    }
}

void VmsPage::syncWallFromTree()
{
    QStringList ticked;
    for (int s = 0; s < m_tree->topLevelItemCount(); ++s) {
        QTreeWidgetItem* site = m_tree->topLevelItem(s);
        for (int d = 0; d < site->childCount(); ++d) {
            QTreeWidgetItem* device = site->child(d);
            for (int c = 0; c < device->childCount(); ++c) {
                QTreeWidgetItem* camera = device->child(c);
                if (camera->checkState(0) == Qt::Checked)
                    ticked << camera->data(0, Qt::UserRole).toString();
            }
        }
    }
    const LiveWallRules::WallMerge merged = LiveWallRules::mergeTicked(m_wall, ticked);
    if (merged.wall == m_wall && !merged.over)
        return;
    m_wall = merged.wall;
    if (merged.over) {
        m_noticeLabel->setText(LiveWallRules::capNotice());
        m_noticeLabel->show();
        refreshTree();
    } else {
        m_noticeLabel->clear();
        m_noticeLabel->hide();
    }
    if (!m_focusKey.isEmpty() && !m_wall.contains(m_focusKey))
        m_focusKey.clear();
    m_page = std::min(m_page, std::max(0, int((m_wall.size() - 1) / perPage())));
    save();
    rebuildWallLater();
}

void VmsPage::addAllOnline()
{
    const QStringList list = LiveWallRules::addAllOnline(m_wall, NativeStore::instance().devices());
    if (list == m_wall) {
        m_noticeLabel->setText(LiveWallRules::nothingOnlineNotice());
        m_noticeLabel->show();
        return;
    }
    m_noticeLabel->hide();
    setWall(list);
}

void VmsPage::clearWall()
{
    m_noticeLabel->hide();
    setWall({});
}

void VmsPage::setWall(const QStringList& keys)
{
    m_wall = keys;
    m_page = 0;
    m_focusKey.clear();
    refreshTree();
    rebuildWallLater();
    save();
}

void VmsPage::rebuildWallLater()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QTimer::singleShot(0, this, [this] {
        if (!m_rebuildPending)
            return; // rebuilt at once meanwhile (activate, a mode switch)
        m_rebuildPending = false;
        if (m_active || !m_tiles.isEmpty() || !m_wall.isEmpty())
            rebuildWall();
    });
}

int VmsPage::perPage() const
{
    return LiveWallRules::perPage(m_layout, m_playback);
}

bool VmsPage::tileUsesMain(int n) const
{
    return LiveWallRules::tileUsesMain(n, m_quality, !m_focusKey.isEmpty());
}

bool VmsPage::tileUsesMainPlayback() const
{
    return LiveWallRules::tileUsesMainPlayback(m_quality, !m_focusKey.isEmpty());
}

void VmsPage::rebuildWall()
{
    m_rebuildPending = false;
    stopAllTiles();
    for (VmsTile* t : std::as_const(m_tiles)) {
        t->hide();
        t->deleteLater();
    }
    m_tiles.clear();
    emptyLayout(m_grid, OldWidgets::Kept);

    const int per = perPage();
    m_page = LiveWallRules::clampPage(m_page, int(m_wall.size()), per);
    const bool focused = !m_focusKey.isEmpty();
    const QStringList shown = focused ? QStringList{m_focusKey} : LiveWallRules::pageSlice(m_wall, m_page, per);
    const int n = int(shown.size());
    m_columns = focused ? 1 : LiveWallRules::columnsFor(m_layout, n);
    m_rows = LiveWallRules::rowsFor(n, m_columns);
    const bool main = tileUsesMain(n);
    const double cap = LiveWallRules::fpsCapFor(n);
    const bool hardware = LiveWallRules::hardwareDecodeFor(n);

    for (int r = 0; r < m_grid->rowCount(); ++r)
        m_grid->setRowStretch(r, 0);
    for (int c = 0; c < m_grid->columnCount(); ++c)
        m_grid->setColumnStretch(c, 0);
    // A page of few cameras keeps its layout's cells: empty rows take their share.
    const int gridRows = focused ? m_rows : LiveWallRules::gridRowsFor(m_layout, n, m_columns);
    for (int r = 0; r < gridRows; ++r)
        m_grid->setRowStretch(r, 1);
    for (int c = 0; c < m_columns; ++c)
        m_grid->setColumnStretch(c, 1);

    // Pages that repeat the names of other pages' cameras ("Camera 01" of
    // each recorder) name the recorder, as one page of them all would.
    const QStringList titles =
        !focused && LiveWallRules::pageCount(int(m_wall.size()), per) >= 2 ? wallTitles(m_wall) : QStringList();
    for (int i = 0; i < n; ++i) {
        const LiveWallRules::TileKey key = LiveWallRules::parseTileKey(shown.at(i));
        if (!key.valid)
            continue;
        auto* tile = new VmsTile(key.deviceId, key.channel, m_gridHost);
        if (!titles.isEmpty())
            tile->setWallTitles(titles);
        tile->setFpsCap(cap);
        if (focused)
            tile->setFocusedLook(true);
        tile->setHardwareDecode(hardware);
        connect(tile, &VmsTile::position, this, [this, tile](double seconds) { onTilePosition(tile, seconds); });
        connect(tile, &VmsTile::expandRequested, this, &VmsPage::focusOn);
        connect(tile, &VmsTile::removeRequested, this, &VmsPage::removeKey);
        // A live tile that failed tries again through the device's pacing
        // and its refusal block, on the stream it last asked for.
        connect(tile->retry(), &VideoWall::TileRetry::due, tile, [this, tile] {
            if (m_active && !m_playback)
                tile->startPaced(tile->isMain());
        });
        m_grid->addWidget(tile, i / m_columns, i % m_columns);
        m_tiles << tile;
        if (m_playback) {
            setupPlaybackTile(tile);
        } else {
            tile->setLive();
            if (m_active)
                tile->startPaced(main);
        }
    }
    if (m_playback) {
        m_clockTile = nullptr;
        m_clockBase = -1.0;
        loadCoverage();
    }

    if (m_wall.isEmpty()) {
        const bool haveDevices = !NativeStore::instance().devices().isEmpty();
        m_emptyLabel->setText(LiveWallRules::emptyText(haveDevices));
        m_emptyButton->setText(LiveWallRules::emptyAction(haveDevices));
        m_stack->setCurrentIndex(1);
    } else {
        m_stack->setCurrentIndex(0);
    }
    updateToolbar();
    Q_EMIT rebuilt();
}

void VmsPage::removeKey(const QString& key)
{
    QStringList list = m_wall;
    list.removeAll(key);
    if (m_focusKey == key)
        m_focusKey.clear();
    setWall(list);
}

void VmsPage::focusOn(VmsTile* tile)
{
    if (!tile)
        return;
    if (!m_focusKey.isEmpty())
        m_focusKey.clear();
    else
        m_focusKey = tile->key();
    rebuildWallLater();
}

void VmsPage::leaveFocus()
{
    m_focusKey.clear();
    rebuildWallLater();
}

void VmsPage::updateToolbar()
{
    const int size = int(m_wall.size());
    const int pages = LiveWallRules::pageCount(size, perPage());
    const int shownPages = std::max(1, pages);
    const bool focused = !m_focusKey.isEmpty();
    m_wallHint->setText(LiveWallRules::wallHint(size));
    m_titleLabel->setFullText(LiveWallRules::titleText(focused, m_playback, size));
    updateTransport();
    m_layoutControl->setVisible(!focused);
    m_qualityControl->setVisible(!focused);
    m_backButton->setVisible(focused);
    const bool paging = pages >= 2 && !focused;
    m_prevButton->setVisible(paging);
    m_pageLabel->setVisible(paging);
    m_nextButton->setVisible(paging);
    m_prevButton->setEnabled(m_page >= 1);
    m_nextButton->setEnabled(m_page + 1 < shownPages);
    m_pageLabel->setText(QStringLiteral("%1 / %2").arg(m_page + 1).arg(shownPages));
}

} // namespace kvr::live
