#include "native/screens/DevicePanel.h"

#include "app/core/ShownText.h"
#include "app/core/TextDirection.h"
#include "app/ui/DiscardGuard.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Fitting.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/WheelGuard.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeUi.h"
#include "native/screens/ReportDialog.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

using namespace NativeStyle;
using namespace DevicePanelRules;

DevicePanel::DevicePanel(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    setObjectName(QStringLiteral("NPane"));
    setAttribute(Qt::WA_StyledBackground);
    m_stack = new QStackedLayout(this);

    auto* empty = new QWidget;
    auto* ev = new QVBoxLayout(empty);
    QLabel* emptyLabel = NativeUi::label(QStringLiteral("Select a device."), "NEmpty");
    emptyLabel->setAlignment(Qt::AlignCenter);
    ev->addWidget(emptyLabel, 0, Qt::AlignCenter);
    m_stack->addWidget(empty);

    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(20, 18, 20, 12);
    v->setSpacing(14);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    m_title = NativeUi::label(QString(), "NScreenTitle");
    m_subtitle = NativeUi::label(QString(), "NMuted");
    left->addWidget(m_title);
    left->addWidget(m_subtitle);
    header->addLayout(left, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    statusRow->addStretch();
    m_dot = new DiscDot(Disc::Unknown);
    statusRow->addWidget(m_dot);
    m_statusText = NativeUi::label(QString(), "NValue");
    m_statusText->setWordWrap(false);
    statusRow->addWidget(m_statusText);
    right->addLayout(statusRow);
    m_note = NativeUi::label(QString(), "NMuted");
    m_note->setAlignment(Qt::AlignRight);
    right->addWidget(m_note);
    header->addLayout(right);
    v->addLayout(header);

    auto* actionsHost = new QWidget;
    auto* flow = new WrapRow(actionsHost, 8, 8, WrapRow::Sizing::AtHint);
    const std::pair<const char*, const char*> defs[] = {
        {"Run diagnostic", "NSecondary"},     {"Fetch device info", "NPrimary"}, {"Get snapshots", "NSecondary"},
        {"Recording calendar", "NSecondary"}, {"Test live", "NSecondary"},       {"Reports", "NSecondary"},
        {"Deactivate", "NDangerText"},
    };
    for (const auto& [text, name] : defs) {
        QPushButton* b = NativeUi::button(QString::fromLatin1(text), name);
        flow->addWidget(b);
        m_actions << b;
    }
    v->addWidget(actionsHost);

    m_tabs = new QTabWidget;
    m_tabs->setDocumentMode(true);
    m_tabs->setAccessibleName(QStringLiteral("Device pages"));
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setAccessibleName(QStringLiteral("Details"));
    // The edit form's drop-downs and port fields pass under the pointer.
    WheelGuard::guard(scroll);
    m_details = new QWidget;
    m_detailsLayout = new QVBoxLayout(m_details);
    m_detailsLayout->setContentsMargins(0, 16, 6, 8);
    m_detailsLayout->setSpacing(14);
    scroll->setWidget(m_details);
    m_tabs->addTab(scroll, QStringLiteral("Details"));
    m_uptime = new UptimeTab(m_context);
    m_tabs->addTab(m_uptime, QStringLiteral("View uptime"));
    m_cameras = new CamerasTab(m_context);
    m_tabs->addTab(m_cameras, QStringLiteral("Manage cameras"));
    v->addWidget(m_tabs, 1);
    m_stack->addWidget(page);
    m_stack->setCurrentIndex(0);

    connect(m_actions[RunDiagnostic], &QPushButton::clicked, this, [this] { run(false); });
    connect(m_actions[FetchInfo], &QPushButton::clicked, this, [this] { run(true); });
    connect(m_actions[Snapshots], &QPushButton::clicked, this, [this] { openMedia(Snapshots); });
    connect(m_actions[Calendar], &QPushButton::clicked, this, [this] { openMedia(Calendar); });
    connect(m_actions[TestLive], &QPushButton::clicked, this, [this] { openMedia(TestLive); });
    connect(m_actions[Reports], &QPushButton::clicked, this, [this] {
        const QString id = m_id;
        QTimer::singleShot(0, this, [this, id] { Q_EMIT reportRequested(id); });
    });
    connect(m_actions[Enable], &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, this, &DevicePanel::toggleEnabled); });

    auto follow = [this](const QString& id) {
        if (id != m_id || m_id.isEmpty())
            return;
        refreshHeader();
        if (!m_editing)
            rebuildDetails();
    };
    if (m_context.store) {
        connect(m_context.store, &NativeStore::deviceUpdated, this, follow);
        connect(m_context.store, &NativeStore::changed, this, [this] {
            if (!m_id.isEmpty() && !device()) {
                setDevice(QString());
                Q_EMIT deviceGone();
            }
        });
        // A change made here that could not be saved was undone: the panel
        // shows the device as it is kept, and says why, over itself.
        connect(m_context.store, &NativeStore::inventoryNotSaved, this, [this](const QString& sentence) {
            QTimer::singleShot(0, this, [this, sentence] {
                if (m_id.isEmpty() || !isVisible())
                    return;
                refreshHeader();
                if (!m_editing)
                    rebuildDetails();
                NativeUi::info(this, QStringLiteral("Can’t save"), sentence);
            });
        });
    }
    if (m_context.controller)
        connect(m_context.controller, &NativeController::busyChanged, this,
                [follow](const QString& id, bool) { follow(id); });
}

std::optional<Native::Device> DevicePanel::device() const
{
    return findDevice(m_context, m_id);
}

int DevicePanel::currentPage() const
{
    return m_stack->currentIndex();
}

void DevicePanel::setDevice(const QString& id)
{
    if (id != m_id) {
        m_editing = false;
        m_passwordShown = false;
    }
    m_id = id;
    if (!id.isEmpty() && device()) {
        m_stack->setCurrentIndex(1);
        m_uptime->setDevice(id);
        m_cameras->clearSignature();
        m_cameras->setDevice(id);
        refreshHeader();
        rebuildDetails();
        return;
    }
    m_id.clear();
    m_stack->setCurrentIndex(0);
}

void DevicePanel::refresh()
{
    refreshHeader();
    if (!m_editing)
        rebuildDetails();
}

void DevicePanel::refreshHeader()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const bool busy = m_context.isBusy(m_id);
    m_title->setText(Native::deviceLabel(*d));
    QStringList parts;
    if (!d->siteId.isEmpty()) {
        const QString site = kvr::core::shownText(m_context.store->siteName(d->siteId));
        if (!site.isEmpty())
            parts << kvr::core::TextDirection::isolate(site);
    }
    parts << kvr::core::shownText(NativeAddress::withPort(d->ip, d->httpPort)) << kvr::core::shownText(d->manufacturer)
          << typeLabel(d->type);
    m_subtitle->setText(parts.join(QStringLiteral("  ·  ")));
    const HeaderStatus s = headerStatus(*d, busy, NativeContext::now());
    m_dot->setState(s.dot);
    m_statusText->setText(s.text);
    m_note->setText(s.note);
    m_note->setVisible(!s.note.isEmpty());
    const bool on = d->enabled;
    m_actions[RunDiagnostic]->setEnabled(on && !busy);
    m_actions[FetchInfo]->setEnabled(on && !busy);
    m_actions[Snapshots]->setEnabled(on);
    m_actions[TestLive]->setEnabled(on);
    m_actions[Calendar]->setEnabled(on);
    m_actions[Calendar]->setVisible(NativeBrand::calendarSupported(*d));
    m_actions[Enable]->setText(on ? QStringLiteral("Deactivate") : QStringLiteral("Activate"));
    const QString tip = on ? QString() : QStringLiteral("This device is deactivated.");
    for (int a : {RunDiagnostic, FetchInfo, Snapshots, Calendar, TestLive})
        m_actions[a]->setToolTip(tip);
}

void DevicePanel::run(bool fetch)
{
    if (!m_context.controller || m_id.isEmpty())
        return;
    m_context.controller->clearRefused(m_id);
    m_context.controller->run(m_id, fetch ? NativeController::Fetch : NativeController::Diagnose);
}

void DevicePanel::openMedia(int action)
{
    const QString id = m_id;
    QTimer::singleShot(0, this, [this, id, action] {
        const std::optional<Native::Device> d = findDevice(m_context, id);
        if (!d)
            return;
        const NativeMedia::Hooks& hooks = NativeMedia::hooks();
        if (action == Snapshots && hooks.snapshots)
            hooks.snapshots(this, id, 0);
        else if (action == Calendar && hooks.calendar)
            hooks.calendar(this, id);
        else if (action == TestLive && hooks.openLive)
            hooks.openLive(this, id, testLiveChannel(*d));
    });
}

void DevicePanel::toggleEnabled()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const QString id = m_id;
    if (!d->enabled) {
        m_context.store->setEnabled(id, true, QString());
        return;
    }
    QInputDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Deactivate device"));
    dialog.setLabelText(
        QStringLiteral("Checks and uptime history stop until it is activated again.\nReason (optional)"));
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(QString());
    if (Modal::exec(dialog) != QDialog::Accepted)
        return;
    m_context.store->setEnabled(id, false, dialog.textValue().trimmed());
}

void DevicePanel::removeDevice()
{
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    const QString id = m_id;
    // Cancel is the default, so that Enter never removes a device.
    if (NativeUi::confirmDestructive(
            this, QStringLiteral("Remove device"),
            QStringLiteral("Remove %1? Its camera names and uptime history are deleted from this computer.")
                .arg(Native::deviceLabel(*d)),
            QStringLiteral("Remove"), QStringLiteral("Cancel")))
        m_context.store->removeDevice(id);
}

void DevicePanel::rebuildLater()
{
    QTimer::singleShot(0, this, [this] {
        if (!m_id.isEmpty())
            rebuildDetails();
    });
}

void DevicePanel::startEdit()
{
    m_editing = true;
    rebuildLater();
}

void DevicePanel::finishEdit(bool save)
{
    if (save && m_form) {
        const QString problem = m_form->problem();
        if (!problem.isEmpty()) {
            NativeUi::info(this, QStringLiteral("Can’t save"), problem);
            return;
        }
        // Onto the device as it stands now: a probe may have changed it
        // while the form was open.
        const Native::Device now = device().value_or(m_form->device());
        QString error;
        if (!m_context.store->updateDevice(m_form->changesOnto(now), &error)) {
            NativeUi::info(this, QStringLiteral("Can’t save"), error);
            return;
        }
        if (m_context.controller)
            m_context.controller->clearRefused(m_id);
    }
    m_editing = false;
    refreshHeader();
    // Now, not later: this runs after the button's own handler, and a form
    // left standing until a later rebuild would still take typing, which the
    // rebuild then throws away (on a busy machine a person can press Edit
    // connection again and type before it comes).
    rebuildDetails();
}

// ---- DeviceDetailsDialog -------------------------------------------------------------------------

DeviceDetailsDialog::DeviceDetailsDialog(const NativeContext& context, const QString& deviceId, QWidget* parent)
    : QDialog(parent),
      m_context(context)
{
    // Its reject() asks before typed changes go.
    DiscardGuard::asksItself(this);
    // The title follows the device's name, renamed in the dialog or elsewhere.
    auto retitle = [this, deviceId] {
        const std::optional<Native::Device> d = findDevice(m_context, deviceId);
        setWindowTitle(QStringLiteral("Device details · %1")
                           .arg(d ? kvr::core::TextDirection::isolate(Native::deviceLabel(*d)) : QString()));
    };
    retitle();
    if (m_context.store)
        connect(m_context.store, &NativeStore::deviceUpdated, this, [retitle, deviceId](const QString& id) {
            if (id == deviceId)
                retitle();
        });
    ScreenFit::keepWithin(this, QSize(780, 560));
    resize(ScreenFit::bounded(this, QSize(980, 800)));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    m_panel = new DevicePanel(context);
    m_panel->setObjectName(QStringLiteral("NPaneFlat"));
    m_panel->setDevice(deviceId);
    v->addWidget(m_panel, 1);
    auto* foot = new QFrame;
    foot->setObjectName(QStringLiteral("NFoot"));
    auto* h = new QHBoxLayout(foot);
    h->setContentsMargins(24, 12, 24, 12);
    h->addStretch();
    QPushButton* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    h->addWidget(close);
    v->addWidget(foot);
    connect(close, &QPushButton::clicked, this, [this] {
        if (mayClose())
            accept();
    });
    // A panel to look at: Enter closes it, whichever of its actions the
    // focus stands on as it opens.
    ui::setEnterButton(this, close);
    connect(m_panel, &DevicePanel::deviceGone, this, &QDialog::accept);
    connect(m_panel, &DevicePanel::reportRequested, this, [this](const QString& id) {
        ReportDialog dialog(m_context, id, this);
        if (Modal::exec(dialog) == QDialog::Accepted && !dialog.savedPath().isEmpty())
            m_toast->popUp(NativeReportText::exportedText(dialog.savedPath()));
    });
    connect(m_panel, &DevicePanel::editSiteRequested, this, [this](const QString& siteId) {
        SiteDialog dialog(m_context, siteId, this);
        if (Modal::exec(dialog) != QDialog::Accepted)
            return;
        m_context.store->updateSite(dialog.site());
        // A site change is announced as a change of the list, not of this
        // device: show the new site details at once.
        m_panel->refresh();
    });
    m_toast = new Toast(this);
}

bool DeviceDetailsDialog::mayClose()
{
    const DeviceForm* form = m_panel->isEditing() ? m_panel->form() : nullptr;
    const bool changed = (form && form->hasChanges()) || m_panel->camerasTab()->hasChanges();
    return !changed || NativeUi::mayDiscard(this);
}

void DeviceDetailsDialog::reject()
{
    if (mayClose())
        QDialog::reject();
}

} // namespace kvr::screens
