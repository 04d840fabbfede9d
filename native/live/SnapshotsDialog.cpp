#include "native/live/SnapshotsDialog.h"

#include "native/live/SnapshotRules.h"

#include "app/core/TextDirection.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Fitting.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/LayoutTools.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/WheelGuard.h"
#include "native/live/StreamDialog.h"
#include "native/live/Tunables.h"
#include "native/screens/NativeUi.h"
#include "native/services/Brands.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

SnapshotsDialog::Tile::Tile(int channel, QWidget* parent) : QFrame(parent), channel(channel)
{
    setFocusPolicy(Qt::TabFocus);
    setAccessibleDescription(ItemKeys::keyHint(QStringLiteral("Watch this camera live")));
}

void SnapshotsDialog::Tile::mouseDoubleClickEvent(QMouseEvent* event)
{
    QFrame::mouseDoubleClickEvent(event);
    if (onDoubleClick)
        onDoubleClick();
}

void SnapshotsDialog::Tile::keyPressEvent(QKeyEvent* event)
{
    if (onDoubleClick && ItemKeys::opens(event->key(), event->modifiers())) {
        onDoubleClick();
        return;
    }
    QFrame::keyPressEvent(event);
}

SnapshotsDialog::SnapshotsDialog(const QString& deviceId, int channel, QWidget* parent)
    : QDialog(parent),
      m_deviceId(deviceId),
      m_channel(channel)
{
    const std::optional<Native::Device> device = NativeStore::instance().device(deviceId);
    setWindowTitle(QStringLiteral("Snapshots \u00b7 %1")
                       .arg(device ? TextDirection::isolate(Native::deviceLabel(*device)) : QString()));
    ScreenFit::keepWithin(this, QSize());
    resize(ScreenFit::bounded(this, QSize(1040, 640)));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 20);
    column->setSpacing(12);
    auto* header = new QHBoxLayout;
    header->addWidget(NativeUi::label(QStringLiteral("Snapshots"), "NScreenTitle"));
    header->addSpacing(8);
    m_status = NativeUi::label(QString(), "NMuted");
    m_status->setWordWrap(false);
    header->addWidget(m_status);
    header->addStretch(1);
    m_fetchButton = NativeUi::button(QStringLiteral("Get all snapshots"), "NSecondary");
    connect(m_fetchButton, &QPushButton::clicked, this, &SnapshotsDialog::fetchAll);
    header->addWidget(m_fetchButton);
    column->addLayout(header);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAccessibleName(QStringLiteral("Snapshots"));
    WheelGuard::guard(scroll);
    m_host = new QWidget(scroll);
    m_grid = new QGridLayout(m_host);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(12);
    m_grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll->setWidget(m_host);
    column->addWidget(scroll, 1);

    auto* footer = new QHBoxLayout;
    auto* hint = NativeUi::label(QStringLiteral("Double-click a picture to watch that camera live."), "NMuted");
    hint->setWordWrap(false);
    footer->addWidget(hint);
    footer->addStretch(1);
    auto* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    footer->addWidget(close);
    column->addLayout(footer);

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(tun::kSnapshotRefresh);
    connect(m_refresh, &QTimer::timeout, this, &SnapshotsDialog::rebuild);

    // A page of pictures has nothing to confirm: Enter fires nothing, also
    // once the focus has left the button it first stood on.
    ui::setEnterButton(this, nullptr);

    rebuild();
    if (SnapshotRules::fetchAtOpen(device ? &*device : nullptr, channel, records()))
        QTimer::singleShot(0, this, &SnapshotsDialog::fetchAll);
}

SnapshotsDialog::~SnapshotsDialog()
{
    // Replies that come after the dialog are dropped; the channels they were
    // for must not stay "Checking" in the cache for good, or the next dialog
    // would neither show a result nor ask again.
    for (int c : std::as_const(m_queue))
        dropMark(c);
    for (int c : std::as_const(m_pending))
        dropMark(c);
}

void SnapshotsDialog::dropMark(int channel)
{
    QMap<int, SnapshotRecord>& cache = records();
    const auto it = cache.find(channel);
    if (it == cache.end())
        return;
    // A record that never got an answer holds nothing worth keeping: without
    // it the next dialog asks for the picture again.
    if (it->picture.isNull() && it->error.isEmpty())
        cache.erase(it);
    else
        it->checking = false;
}

QMap<int, SnapshotRecord>& SnapshotsDialog::records() const
{
    return SnapshotCache::instance().entry(m_deviceId);
}

void SnapshotsDialog::done(int result)
{
    m_refresh->stop();
    QDialog::done(result);
}

void SnapshotsDialog::fetchAll()
{
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    m_fetches.supersede();
    // The previous round's replies will be dropped: its marks go with it.
    for (int c : std::as_const(m_pending))
        dropMark(c);
    m_pending.clear();
    QMap<int, SnapshotRecord>& cache = records();
    m_queue.clear();
    m_inFlight = 0;
    for (int c : SnapshotRules::camerasInScope(*device, m_channel)) {
        m_queue << c;
        cache[c].checking = true;
    }
    m_total = int(m_queue.size());
    m_fetchButton->setEnabled(false);
    rebuild();
    pump();
}

void SnapshotsDialog::pump()
{
    std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    QMap<int, SnapshotRecord>& cache = records();
    while (m_inFlight < tun::kSnapshotsInFlight && !m_queue.isEmpty()) {
        const int channel = m_queue.takeFirst();
        const QString path = NativeBrand::snapshotPath(*device, channel);
        if (path.isEmpty()) {
            SnapshotRecord& r = cache[channel];
            r.checking = false;
            r.picture = QPixmap();
            r.error = SnapshotRules::noPathError(NativeBrand::usesOnvif(*device));
            continue;
        }
        ++m_inFlight;
        m_maxInFlight = std::max(m_maxInFlight, m_inFlight);
        m_pending.insert(channel);
        const RequestTicket ticket = m_fetches.ticket();
        NativeHttp::get(
            *device, path, NativeHttp::Digest,
            [this, channel, ticket](const NativeHttp::Response& reply) {
                if (!ticket.current())
                    return;
                onReply(channel, reply);
            },
            tun::kSnapshotTimeout, NativeHttp::BodyLimit::Picture);
    }
    if (m_inFlight > 0) {
        m_status->setText(SnapshotRules::statusText(m_total, m_inFlight, int(m_queue.size())));
        m_refresh->start();
    } else {
        m_status->clear();
        m_refresh->stop();
        m_fetchButton->setEnabled(true);
        rebuild();
    }
}

void SnapshotsDialog::onReply(int channel, const NativeHttp::Response& reply)
{
    --m_inFlight;
    m_pending.remove(channel);
    SnapshotRecord& r = records()[channel];
    r.checking = false;
    const SnapshotRules::Outcome out = SnapshotRules::readReply(reply);
    if (!out.picture.isNull()) {
        r.picture = SnapshotRules::cardPicture(out.picture);
        r.error.clear();
    } else {
        r.picture = QPixmap();
        r.error = out.error;
    }
    pump();
}

QList<SnapshotsDialog::Tile*> SnapshotsDialog::cards() const
{
    return m_host->findChildren<Tile*>(QString(), Qt::FindDirectChildrenOnly);
}

void SnapshotsDialog::rebuild()
{
    // The cards are made anew as pictures come: the keyboard's stays on its
    // camera's, ringed as Tab left it (only Tab gives a card the focus).
    // The dialog's own focus child, not the application's: pictures also
    // come while another window is active, and the place is kept for then.
    int focused = -1;
    if (const auto* card = dynamic_cast<const Tile*>(focusWidget()); card && card->parentWidget() == m_host)
        focused = card->channel;
    emptyLayout(m_grid, OldWidgets::Deleted);
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    const QMap<int, SnapshotRecord>& cache = records();
    int i = 0;
    for (int channel : SnapshotRules::camerasInScope(*device, m_channel)) {
        auto* card = new Tile(channel, m_host);
        card->setObjectName(QStringLiteral("NCard"));
        card->setFixedWidth(234);
        auto* col = new QVBoxLayout(card);
        col->setContentsMargins(1, 1, 1, 8);
        col->setSpacing(6);
        auto* picture = new QLabel(card);
        picture->setFixedSize(232, 131);
        picture->setAlignment(Qt::AlignCenter);
        picture->setWordWrap(true);
        const auto it = cache.constFind(channel);
        const SnapshotRecord* record = it == cache.constEnd() ? nullptr : &*it;
        if (record && !record->picture.isNull()) {
            picture->setPixmap(record->picture);
            picture->setStyleSheet(
                QStringLiteral("background: #000000; border-top-left-radius: 11px; border-top-right-radius: 11px;"));
        } else {
            picture->setText(SnapshotRules::placeholder(record));
            picture->setStyleSheet(QStringLiteral(
                "background: #f1f3f5; color: #6c757d; font-size: 12px; padding: 8px; border-top-left-radius: 11px; "
                "border-top-right-radius: 11px;"));
        }
        col->addWidget(picture);
        const Native::Camera* camera = device->camera(channel);
        auto* caption = new ElidedLabel(
            SnapshotRules::caption(channel,
                                   camera ? Native::cameraLabel(*camera) : QStringLiteral("Camera %1").arg(channel)),
            card);
        caption->setObjectName(QStringLiteral("NValue"));
        caption->setContentsMargins(10, 0, 10, 0);
        col->addWidget(caption);
        QPointer<SnapshotsDialog> self(this);
        const QString id = m_deviceId;
        card->onDoubleClick = [self, id, channel] {
            if (!self)
                return;
            // Out of the card's own handler: the dialog may rebuild its cards
            // while the live view runs.
            QTimer::singleShot(0, self, [self, id, channel] {
                if (self)
                    StreamDialog::openLive(self, id, channel);
            });
        };
        card->setAccessibleName(caption->fullText());
        m_grid->addWidget(card, i / tun::kSnapshotCardsPerRow, i % tun::kSnapshotCardsPerRow);
        if (channel == focused) {
            // Shown first: a window that is not active passes the focus on
            // to its own focus child only from a card already shown.
            card->show();
            card->setFocus(Qt::TabFocusReason);
        }
        ++i;
    }
}

} // namespace kvr::live
