#include "native/screens/CamerasTab.h"

#include "app/ui/LayoutTools.h"
#include "app/ui/WheelGuard.h"
#include "native/screens/DevicePanelRules.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

using namespace NativeStyle;
using namespace DevicePanelRules;

CamerasTab::CamerasTab(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 16, 0, 0);
    v->setSpacing(10);
    m_status = NativeUi::label(QString(), "NMuted");
    m_status->hide();
    v->addWidget(m_status);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setAccessibleName(QStringLiteral("Cameras"));
    WheelGuard::guard(scroll);
    m_rowsWidget = new QWidget;
    m_rowsLayout = new QVBoxLayout(m_rowsWidget);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(6);
    m_rowsLayout->addStretch();
    scroll->setWidget(m_rowsWidget);
    v->addWidget(scroll, 1);
    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    footer->addWidget(
        NativeUi::label(QStringLiteral("Names are saved on this computer. The NVR keeps its own channel titles."),
                        "NMuted"),
        1);
    m_snapshots = NativeUi::button(QStringLiteral("Get all snapshots"), "NSecondary");
    m_save = NativeUi::button(QStringLiteral("Save Changes"), "NPrimary");
    footer->addWidget(m_snapshots);
    footer->addWidget(m_save);
    v->addLayout(footer);

    connect(m_save, &QPushButton::clicked, this, [this] { QTimer::singleShot(0, this, &CamerasTab::save); });
    connect(m_snapshots, &QPushButton::clicked, this, [this] {
        const QString id = m_id;
        QTimer::singleShot(0, this, [this, id] {
            if (const auto& hook = NativeMedia::hooks().snapshots)
                hook(this, id, 0);
        });
    });
    if (m_context.store)
        connect(m_context.store, &NativeStore::deviceUpdated, this, [this](const QString& id) {
            if (id == m_id)
                refresh();
        });
    if (m_context.controller)
        connect(m_context.controller, &NativeController::busyChanged, this, [this](const QString& id) {
            if (id == m_id)
                refresh();
        });
}

void CamerasTab::setDevice(const QString& id)
{
    m_id = id;
    m_signature.clear();
    refresh();
}

QString CamerasTab::signature() const
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return {};
    QString s = d->id;
    for (const Native::Camera& c : d->cameras)
        if (!d->isIgnored(c.channelId))
            s += QLatin1Char(',') + QString::number(c.channelId);
    return s;
}

void CamerasTab::refresh()
{
    if (signature() != m_signature)
        rebuild();
    else
        refreshRows(false);
}

bool CamerasTab::hasChanges() const
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    for (const CameraRow& row : m_rows) {
        if (row.name->isModified() && row.name->text() != row.lastName)
            return true;
        const Native::Camera* cam = d ? d->camera(row.channel) : nullptr;
        if (cam && row.blur->value() != cam->blur)
            return true;
    }
    return false;
}

void CamerasTab::rebuild()
{
    // Names typed and not saved yet outlive the rows: a check that finds
    // another camera builds them anew while the person types.
    struct Typed {
        QString name;  // empty: none typed
        int blur = -1; // -1: the stored one
    };
    QHash<int, Typed> typed;
    {
        const std::optional<Native::Device> before = findDevice(m_context, m_id);
        for (const CameraRow& row : std::as_const(m_rows)) {
            const Native::Camera* cam = before ? before->camera(row.channel) : nullptr;
            typed.insert(row.channel,
                         {row.name->isModified() && row.name->text() != row.lastName ? row.name->text() : QString(),
                          cam && row.blur->value() != cam->blur ? row.blur->value() : -1});
        }
    }
    emptyLayout(m_rowsLayout, OldWidgets::Deleted, 1); // the closing stretch stays
    m_rows.clear();
    m_signature = signature();
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    if (d->cameras.isEmpty()) {
        refreshRows(true);
        return;
    }
    for (const Native::Camera& cam : d->cameras) {
        if (d->isIgnored(cam.channelId))
            continue;
        const int channel = cam.channelId;
        auto* frame = new QFrame;
        frame->setObjectName(QStringLiteral("NRow"));
        auto* h = new QHBoxLayout(frame);
        h->setContentsMargins(12, 8, 12, 8);
        h->setSpacing(10);
        auto* number = new QLabel(QString::number(channel));
        number->setObjectName(QStringLiteral("NMuted"));
        number->setFixedSize(26, 36);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        h->addWidget(number, 0, Qt::AlignTop);
        CameraRow row;
        row.channel = channel;
        row.dot = new DiscDot(Disc::Unknown);
        h->addWidget(row.dot, 0, Qt::AlignTop);
        auto* col = new QVBoxLayout;
        col->setSpacing(3);
        row.name = new QLineEdit;
        row.name->setAccessibleName(QStringLiteral("Name of channel %1").arg(channel));
        row.sub = new QLabel;
        row.sub->setObjectName(QStringLiteral("NMuted"));
        col->addWidget(row.name);
        col->addWidget(row.sub);
        h->addLayout(col, 1);
        row.blur = new QSpinBox;
        row.blur->setRange(0, 100);
        row.blur->setSpecialValueText(QStringLiteral("Off"));
        row.blur->setToolTip(QStringLiteral("Blur / block threshold, 1 to 100"));
        row.blur->setAccessibleName(QStringLiteral("Blur threshold of channel %1").arg(channel));
        row.blur->setFixedWidth(64);
        h->addWidget(row.blur, 0, Qt::AlignTop);
        row.snapshot = NativeUi::button(QStringLiteral("Snapshot"), "NText");
        row.live = NativeUi::button(QStringLiteral("Live"), "NText");
        row.snapshot->setAccessibleName(QStringLiteral("Snapshot of channel %1").arg(channel));
        row.live->setAccessibleName(QStringLiteral("Live view of channel %1").arg(channel));
        h->addWidget(row.snapshot, 0, Qt::AlignTop);
        h->addWidget(row.live, 0, Qt::AlignTop);
        // The dialogs these open run a modal loop, during which a notice may
        // rebuild the rows: they run outside the button's handler, with the
        // tab (not the row) as their parent.
        const QString id = m_id;
        connect(row.snapshot, &QPushButton::clicked, this, [this, id, channel] {
            QTimer::singleShot(0, this, [this, id, channel] {
                if (const auto& hook = NativeMedia::hooks().snapshots)
                    hook(this, id, channel);
            });
        });
        connect(row.live, &QPushButton::clicked, this, [this, id, channel] {
            QTimer::singleShot(0, this, [this, id, channel] {
                if (const auto& hook = NativeMedia::hooks().openLive)
                    hook(this, id, channel);
            });
        });
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, frame);
        m_rows.append(row);
    }
    refreshRows(true);
    for (CameraRow& row : m_rows) {
        const auto it = typed.constFind(row.channel);
        if (it == typed.cend())
            continue;
        if (!it->name.isEmpty()) {
            row.name->setText(it->name);
            row.name->setModified(true);
        }
        if (it->blur >= 0)
            row.blur->setValue(it->blur);
    }
}

void CamerasTab::refreshRows(bool fresh)
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    const QDateTime now = NativeContext::now();
    QString status;
    if (m_context.isBusy(m_id))
        status = QStringLiteral("Checking");
    else if (!d->health.checkedAt.isValid())
        status = QStringLiteral("Run Fetch device info to see which cameras are online and to fill in their names.");
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    for (CameraRow& row : m_rows) {
        const Native::Camera* cam = d->camera(row.channel);
        if (!cam)
            continue;
        const QString shown = cameraDisplayName(*cam);
        if (fresh || row.name->text() == row.lastName) {
            row.name->setText(shown);
            row.lastName = shown;
        }
        if (fresh)
            row.blur->setValue(cam->blur);
        row.dot->setState(!cam->onlineKnown ? Disc::Unknown : cam->online ? Disc::Up : Disc::Down);
        QStringList parts;
        if (cam->lastOnline.isValid())
            parts << QStringLiteral("Online %1").arg(shortTime(cam->lastOnline, now));
        if (cam->lastOffline.isValid())
            parts << QStringLiteral("Offline %1").arg(shortTime(cam->lastOffline, now));
        row.sub->setText(parts.join(QStringLiteral(" · ")));
        row.sub->setVisible(!parts.isEmpty());
    }
}

void CamerasTab::save()
{
    const std::optional<Native::Device> d = findDevice(m_context, m_id);
    if (!d)
        return;
    QList<Native::Camera> cameras;
    for (const CameraRow& row : m_rows) {
        Native::Camera c;
        c.channelId = row.channel;
        c.blur = row.blur->value();
        const QString typed = row.name->text().trimmed();
        const Native::Camera* stored = d->camera(row.channel);
        c.name = (typed == row.lastName && stored) ? stored->name : typed;
        cameras << c;
    }
    m_context.store->saveCameras(m_id, cameras);
    // Every row now shows what is stored and remembers that: a second save
    // of untouched rows writes the stored names back unchanged (the shown
    // name may lack its "3_" prefix, or be a "Camera 5" placeholder).
    refreshRows(true);
    NativeUi::info(this, QStringLiteral("Manage cameras"), QStringLiteral("Camera names updated."));
}

} // namespace kvr::screens
