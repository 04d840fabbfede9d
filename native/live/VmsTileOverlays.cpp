// A native camera tile's overlays: its badge (the name told apart from
// the tiles beside it and from the cameras of its wall's other pages, a
// failure's word, the channel, the device), the buttons shown under the
// pointer and "Try again" in the form the tile has room for.

#include "app/ui/Fitting.h"
#include "app/ui/NamesApart.h"
#include "app/ui/Theme.h"
#include "app/ui/TileWord.h"
#include "native/live/LiveTileRules.h"
#include "native/live/LiveWallRules.h"
#include "native/live/Tunables.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "video/VideoStage.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QtMath>

#include <algorithm>
#include <functional>

using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::screens;

namespace kvr::live {

namespace {

// "Try again" as an icon: red, as the badge's dot it stands for.
QIcon retryIcon()
{
    static const QIcon icon = Theme::icon(Theme::Icon::Retry, NativeStyle::kDanger, tun::kRetryIconGlyph_px);
    return icon;
}

} // namespace

QString VmsTile::retryText()
{
    return QStringLiteral("Try again");
}

QString VmsTile::title() const
{
    return LiveWallRules::tileTitle({m_name, m_deviceName});
}

void VmsTile::setWallTitles(const QStringList& titles)
{
    m_wallTitles = titles;
    // Another recorder's camera of its name: a title that ends as its own
    // does after another device's part.
    const QString own = title();
    const qsizetype ownCut = cameraTitleDeviceEnd(own);
    const QStringView ownCamera = QStringView(own).sliced(std::max<qsizetype>(ownCut, 0));
    const auto another = [&](const QString& t) {
        const qsizetype cut = cameraTitleDeviceEnd(t);
        return cut > 0 && t != own && QStringView(t).sliced(cut) == ownCamera;
    };
    const bool named = ownCut > 0 && std::any_of(titles.cbegin(), titles.cend(), another);
    if (named == m_namedElsewhere)
        return;
    m_namedElsewhere = named;
    layoutOverlays();
}

void VmsTile::setRetryLook(RetryLook look)
{
    if (look == m_retryLook)
        return;
    m_retryLook = look;
    const bool icon = look == RetryLook::Icon;
    m_retryButton->setText(icon ? QString() : retryText());
    m_retryButton->setIcon(icon ? retryIcon() : QIcon());
    m_retryButton->setIconSize(QSize(tun::kRetryIconGlyph_px, tun::kRetryIconGlyph_px));
    // Named by its tool tip where it shows no text.
    m_retryButton->setToolTip(icon ? retryText() : QString());
    const char* name = look == RetryLook::Icon ? "icon" : look == RetryLook::Compact ? "compact" : "";
    m_retryButton->setProperty("look", QString::fromLatin1(name));
    m_retryButton->style()->unpolish(m_retryButton);
    m_retryButton->style()->polish(m_retryButton);
}

QSize VmsTile::retryHint(RetryLook look)
{
    QSize& known = look == RetryLook::Compact ? m_retryCompact : m_retryFull;
    if (!known.isValid()) {
        setRetryLook(look);
        known = m_retryButton->sizeHint();
    }
    return known;
}

void VmsTile::updateButtons()
{
    // "Try again" coming or going changes what the badge makes room for.
    if (m_laidFailed != m_failed)
        layoutOverlays();
    LiveTileRules::ButtonVisibility v = LiveTileRules::buttonsFor(showsControls(), m_removable, m_failed, width());
    // A tile too small for any form of it leaves it to the camera shown alone.
    v.retry = v.retry && m_retryRoom;
    // A failed tile too small for both shows "Try again" alone.
    if (v.retry && v.streamSwitch
        && !LiveTileRules::switchBesideRetry(size(), m_switch->sizeHint(), m_retryButton->sizeHint()))
        v.streamSwitch = false;
    m_removeButton->setVisible(v.remove);
    m_focusButton->setVisible(v.focus);
    m_snapshotButton->setVisible(v.snapshot);
    m_switch->setVisible(v.streamSwitch);
    m_retryButton->setVisible(v.retry);
    m_removeButton->raise();
    m_focusButton->raise();
    m_snapshotButton->raise();
    m_switch->raise();
    m_retryButton->raise();
    m_toast->raise();
    // Controls that come and go change the room the message has.
    m_stage->fitMessage();
    updateState();
}

void VmsTile::updateState()
{
    // Where the picture has room to say what failed it says it; elsewhere
    // the badge does, in a word, where the name keeps what tells the tile
    // apart beside it (layoutOverlays weighs that).
    const bool say = m_failed && !m_stage->hasPicture() && m_stage->messageLines().isEmpty() && m_wordFits;
    if (showFaultWord(m_stateLabel, m_dot, say, m_fault))
        layoutOverlays();
}

QList<const VmsTile*> VmsTile::siblings() const
{
    QList<const VmsTile*> out;
    if (const QWidget* holder = parentWidget())
        for (const VmsTile* t : holder->findChildren<VmsTile*>(Qt::FindDirectChildrenOnly))
            if (t != this && standsBeside(*t))
                out << t;
    return out;
}

void VmsTile::layoutOverlays()
{
    // Beside other tiles, the name keeps what tells it apart; a camera named
    // as one of another recorder's (beside it, or on another page of its
    // wall) is called by its recorder's name too.
    const QList<const VmsTile*> others = siblings();
    bool named = m_namedElsewhere; // another recorder's camera has its name
    QStringList names;
    QStringList devices;
    for (const VmsTile* t : others) {
        names << t->m_name;
        devices << t->m_deviceName;
        named = named || (t->m_name == m_name && t->m_deviceId != m_deviceId && !m_deviceName.isEmpty());
    }
    const QFontMetrics nameMetrics(m_nameLabel->font());
    m_stateLabel->ensurePolished();
    m_channelLabel->ensurePolished();
    const int channelWidth = m_channelNamed ? m_channelLabel->sizeHint().width() : 0;

    LiveTileRules::OverlayInputs in;
    in.tile = size();
    in.hovered = showsControls();
    in.badgeHint = m_badge->sizeHint();
    in.lineHeight = m_nameLabel->sizeHint().height();
    in.nameTextWidth = qCeil(QFontMetricsF(m_nameLabel->font()).horizontalAdvance(m_name))
        + (m_channelNamed ? channelWidth + tun::kBadgeSpacing_px : 0);
    in.deviceNameTextWidth = qCeil(QFontMetricsF(m_deviceLabel->font()).horizontalAdvance(m_deviceName));
    in.dotWidth = m_dot->width();
    in.switchHint = m_switch->sizeHint();
    // "Try again" in the look it has now, measured again (its font may have
    // changed); its other looks as they were measured.
    m_laidFailed = m_failed;
    in.failed = m_failed;
    if (m_retryLook != RetryLook::Icon)
        (m_retryLook == RetryLook::Full ? m_retryFull : m_retryCompact) = m_retryButton->sizeHint();
    if (m_failed) {
        in.retryHint = retryHint(RetryLook::Full);
        in.retryCompactHint = retryHint(RetryLook::Compact);
    } else {
        in.retryHint = m_retryFull.isValid() ? m_retryFull : m_retryButton->sizeHint();
    }
    in.toastHint = m_toast->sizeHint();
    const LiveTileRules::OverlayGeometry g = LiveTileRules::layoutOverlays(in);
    // Its icon before the badge says what the badge's dot would.
    const bool retryIcon = m_failed && g.retryForm == LiveTileRules::RetryForm::Icon;
    m_dot->setVisible(!retryIcon && m_stateLabel->isHidden());
    if (auto* row = m_badge->layout(); row->contentsMargins() != g.badgeMargins) {
        row->setContentsMargins(g.badgeMargins);
        row->setSpacing(g.badgeSpacing);
    }

    // The title as it reads without the device's own label, and what else
    // stands beside it: each only where it keeps what tells it apart.
    const bool titled = named && !g.deviceNameShown;
    const QString shownTitle = titled ? title() : m_name;
    QStringList titles;
    for (const VmsTile* t : others)
        titles << (titled ? t->title() : t->m_name);
    // The other pages count only where it is titled by its recorder.
    const QStringList elsewhere = titled ? m_wallTitles : QStringList();
    const int whole = nameMetrics.horizontalAdvance(shownTitle);
    int least = -1;
    const std::function<int()> need = [&] {
        if (least < 0)
            least = std::max(g.nameLeast, leastApartWidth(shownTitle, titles, nameMetrics, elsewhere));
        return least;
    };
    const int word = m_stateLabel->fontMetrics().horizontalAdvance(tileFaultWord(m_fault));
    // The word is weighed whether it shows or not: updateState asks.
    m_wordFits = LiveTileRules::besideName(g.nameWidth, g.dotPlace, g.badgeSpacing, word, 0, whole, need).word;
    const LiveTileRules::BesideName beside = LiveTileRules::besideName(
        g.nameWidth, g.dotPlace, g.badgeSpacing, m_stateLabel->isHidden() ? 0 : word, channelWidth, whole, need);
    m_channelLabel->setVisible(beside.channel);
    m_deviceLabel->setVisible(g.deviceNameShown);
    const int room = g.deviceNameShown ? std::max(g.nameLeast, beside.nameRoom) : beside.nameRoom;
    m_nameLabel->setVisible(room >= g.nameLeast);
    const QString name = fitApart(shownTitle, titles, nameMetrics, room, elsewhere);
    m_nameLabel->setText(name);
    m_nameLabel->setToolTip(named ? title() : m_name);
    m_nameLabel->setAccessibleDescription(name == m_name ? QString() : (named ? title() : m_name));
    if (g.deviceNameShown) {
        const QString device = fitApart(m_deviceName, devices, m_deviceLabel->fontMetrics(), g.deviceNameWidth);
        m_deviceLabel->setText(device);
        m_deviceLabel->setToolTip(device == m_deviceName ? QString() : m_deviceName);
    }
    m_badge->move(g.badge);
    // A tile too small for its badge (a wall of 36 in playback at a scale of
    // 1.5 has tiles of 78 x 8 px) keeps only its dot there, which may stand
    // for its message: no text of it past the tile's edges.
    if (!rect().contains(QRect(g.badge, m_badge->sizeHint())))
        for (QLabel* l : {m_nameLabel, m_channelLabel, m_deviceLabel})
            l->hide();
    // With its dot in "Try again" and no room for a name, the badge says nothing.
    m_badge->setVisible(!retryIcon || !m_nameLabel->isHidden() || !m_channelLabel->isHidden()
                        || !m_deviceLabel->isHidden());
    m_badge->resize(m_badge->sizeHint());
    m_removeButton->move(g.remove);
    m_focusButton->move(g.focus);
    if (g.snapshotPlaced)
        m_snapshotButton->move(g.snapshot);
    m_switch->resize(in.switchHint);
    m_switch->move(g.streamSwitch);
    // On a tile too low for it below the badge, "Try again" is a size
    // smaller; with no room for its text, its icon stands before the badge.
    if (retryIcon) {
        setRetryLook(RetryLook::Icon);
        m_retryButton->resize(tun::kRetryIcon_px, tun::kRetryIcon_px);
        m_retryButton->move(g.retry);
    } else {
        setRetryLook(g.retryHeight < in.retryHint.height() ? RetryLook::Compact : RetryLook::Full);
        const QSize retry = m_retryButton->sizeHint();
        m_retryButton->resize(retry);
        m_retryButton->move(QPoint((width() - retry.width()) / 2, g.retry.y()));
    }
    m_retryRoom = g.retryForm != LiveTileRules::RetryForm::None;
    m_toast->resize(in.toastHint);
    m_toast->move(g.toast);
    m_stage->fitMessage();
    nameTheDot();
}

void VmsTile::nameTheDot()
{
    // A message the stage has room for neither whole nor as its mark (a
    // tile of 150 x 47 under its badge): the badge's dot stands for it.
    const bool unsaid = !m_stage->hasPicture() && !m_stage->saidHeadline().isEmpty()
        && m_stage->messageLines().isEmpty() && m_stage->markRect().isEmpty();
    const QString words = unsaid ? m_stage->accessibleDescription() : QString();
    m_dot->setToolTip(words);
    m_dot->setAccessibleDescription(words);
}

} // namespace kvr::live
