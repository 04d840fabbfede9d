// The details tab of the device panel: the last check's results, the
// device's details and its login, or the device form while editing.

#include "app/core/ShownText.h"
#include "native/screens/DevicePanel.h"

#include "app/ui/Fitting.h"
#include "app/ui/LayoutTools.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

using namespace NativeStyle;
using namespace DevicePanelRules;

namespace {

QWidget* sectionHeader(const QString& title, QWidget* trailing = nullptr)
{
    auto* w = new QWidget;
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(NativeUi::label(title, "NSection"));
    h->addStretch();
    if (trailing)
        h->addWidget(trailing);
    return w;
}

// A stored value (a device's answer, a name from an old file) is cut to what
// the panel shows before the label measures it: one line's worth, or for
// notes, several lines' worth.
QLabel* valueLabel(const QString& text, const char* objectName, qsizetype most = kvr::core::tun::kShownLineChars)
{
    auto* l = new QLabel(kvr::core::shownText(text, most));
    l->setObjectName(QLatin1String(objectName));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QWidget* fieldGrid(const QList<QPair<QString, QWidget*>>& entries)
{
    auto* w = new QWidget;
    auto* g = new QGridLayout(w);
    g->setContentsMargins(0, 0, 0, 0);
    g->setHorizontalSpacing(24);
    g->setVerticalSpacing(10);
    g->setColumnStretch(0, 1);
    g->setColumnStretch(1, 1);
    for (int i = 0; i < entries.size(); ++i) {
        auto* cell = new QWidget;
        auto* v = new QVBoxLayout(cell);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(2);
        QLabel* caption = NativeUi::label(entries.at(i).first, "NMuted");
        caption->setBuddy(entries.at(i).second);
        v->addWidget(caption);
        v->addWidget(entries.at(i).second);
        g->addWidget(cell, i / 2, i % 2, Qt::AlignTop);
    }
    return w;
}

QLabel* chipOf(const ChipText& c)
{
    QLabel* l = NativeStyle::chip(c.text, c.kind);
    if (!c.tip.isEmpty())
        l->setToolTip(c.tip);
    return l;
}

QWidget* checkTile(const QString& caption, QLabel* chip)
{
    auto* w = new QWidget;
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    v->addWidget(NativeUi::label(caption, "NMuted"));
    v->addWidget(chip, 0, Qt::AlignLeft);
    NativeStyle::captionChip(chip, caption);
    return w;
}

} // namespace

void DevicePanel::rebuildDetails()
{
    emptyLayout(m_detailsLayout, OldWidgets::Deleted);
    m_form = nullptr;
    const std::optional<Native::Device> d = device();
    if (!d)
        return;
    if (m_editing) {
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Edit device")));
        auto* form = new DeviceForm(m_context);
        form->setDevice(*d);
        m_form = form;
        m_detailsLayout->addWidget(form);
        auto* row = new QHBoxLayout;
        QPushButton* remove = NativeUi::button(QStringLiteral("Remove device"), "NDangerText");
        QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
        QPushButton* update = NativeUi::button(QStringLiteral("Update"), "NPrimary");
        row->addWidget(remove);
        row->addStretch();
        row->addWidget(cancel);
        row->addWidget(update);
        m_detailsLayout->addLayout(row);
        m_detailsLayout->addStretch();
        connect(remove, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, &DevicePanel::removeDevice); });
        connect(cancel, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, [this] { finishEdit(false); }); });
        connect(update, &QPushButton::clicked, this,
                [this] { QTimer::singleShot(0, this, [this] { finishEdit(true); }); });
        return;
    }

    const Native::Health& h = d->health;
    const bool busy = m_context.isBusy(m_id);

    // Diagnostic.
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Diagnostic")));
    auto* tiles = new QWidget;
    auto* flow = new WrapRow(tiles, 14, 8, WrapRow::Sizing::AtHint);
    const QString notChecked = QStringLiteral("Not checked");
    const QString loginUnknown =
        (h.checkedAt.isValid() && h.httpPort == Native::Passed) ? QStringLiteral("Not offered") : notChecked;
    struct Tile {
        const char* caption;
        int state;
        const char* pass;
        const char* fail;
        QString unknown;
    };
    const Tile defs[] = {
        {"Internet", h.internet, "Online", "Offline", notChecked},
        {"HTTP port", h.httpPort, "Open", "Closed", notChecked},
        {"RTSP port", h.rtspPort, "Open", "Closed", notChecked},
    };
    for (const Tile& t : defs)
        flow->addWidget(checkTile(
            QString::fromLatin1(t.caption),
            chipOf(checkChip(t.state, QString::fromLatin1(t.pass), QString::fromLatin1(t.fail), t.unknown, busy))));
    flow->addWidget(checkTile(QStringLiteral("Digest login"), chipOf(loginChip(h.digest, h, loginUnknown, busy))));
    flow->addWidget(checkTile(QStringLiteral("Basic login"), chipOf(loginChip(h.basic, h, loginUnknown, busy))));
    flow->addWidget(checkTile(QStringLiteral("Network"), chipOf(networkChip(h, busy))));
    m_detailsLayout->addWidget(tiles);
    if (!busy && !h.error.isEmpty() && h.checkedAt.isValid()) {
        auto* error = new QLabel(kvr::core::shownText(h.error, kvr::core::tun::kShownNoteChars));
        error->setObjectName(QStringLiteral("NError"));
        error->setWordWrap(true);
        m_detailsLayout->addWidget(error);
    }

    // Device health.
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Device health")));
    const QString blank = emptyField(h);
    auto text = [&blank](const QString& value, const char* name) {
        return valueLabel(value.isEmpty() ? blank : value, name);
    };
    QWidget* recording = nullptr;
    const ChipText rec = recordingChip(*d);
    if (rec.text.isEmpty())
        recording = valueLabel(QStringLiteral("Not available for this brand"), "NMuted");
    else
        recording = chipOf(rec);
    m_detailsLayout->addWidget(fieldGrid({
        {QStringLiteral("Model"), text(h.model, "NValue")},
        {QStringLiteral("Device name"), text(h.deviceName, "NValue")},
        {QStringLiteral("Serial number"), text(h.serial, "NMono")},
        {QStringLiteral("Firmware"), text(h.firmware, "NValue")},
        {QStringLiteral("MAC address"), text(h.mac, "NMono")},
        {QStringLiteral("Device time (IST)"), text(h.deviceTime, "NMono")},
        {QStringLiteral("Disk"), chipOf(diskChip(h))},
        {QStringLiteral("Recording kept"), recording},
    }));

    // Site.
    const std::optional<Native::Site> site = m_context.store->site(d->siteId);
    if (site) {
        QPushButton* edit = NativeUi::button(QStringLiteral("Edit site"), "NText");
        const QString siteId = site->id;
        // The site dialog runs a modal loop during which a notice rebuilds
        // these details (and deletes this button): leave the handler first.
        connect(edit, &QPushButton::clicked, this,
                [this, siteId] { QTimer::singleShot(0, this, [this, siteId] { Q_EMIT editSiteRequested(siteId); }); });
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Site"), edit));
        auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("—") : s; };
        m_detailsLayout->addWidget(fieldGrid({
            {QStringLiteral("Site"), valueLabel(site->name, "NValue")},
            {QStringLiteral("Address"), valueLabel(orDash(site->address), "NValue", kvr::core::tun::kShownNoteChars)},
            {QStringLiteral("Contact"), valueLabel(orDash(site->contact), "NValue")},
            {QStringLiteral("Internet provider"), valueLabel(orDash(site->isp), "NValue")},
            {QStringLiteral("SIM notes"), valueLabel(orDash(site->sim), "NValue", kvr::core::tun::kShownNoteChars)},
            {QStringLiteral("Notes"), valueLabel(orDash(site->notes), "NValue", kvr::core::tun::kShownNoteChars)},
        }));
    } else {
        m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Site")));
        m_detailsLayout->addWidget(
            NativeUi::label(QStringLiteral("This device isn't in a site. Edit the device to choose one."), "NMuted"));
    }

    // Connection.
    QPushButton* edit = NativeUi::button(QStringLiteral("Edit"), "NText");
    edit->setAccessibleName(QStringLiteral("Edit connection"));
    connect(edit, &QPushButton::clicked, this, &DevicePanel::startEdit);
    m_detailsLayout->addWidget(sectionHeader(QStringLiteral("Connection"), edit));
    auto* pw = new QWidget;
    auto* pwRow = new QHBoxLayout(pw);
    pwRow->setContentsMargins(0, 0, 0, 0);
    pwRow->setSpacing(4);
    const QString pwText = d->password.isEmpty() ? QStringLiteral("—")
        : m_passwordShown                        ? kvr::core::shownText(d->password)
                                                 : QString(8, QChar(0x2022));
    QLabel* pwLabel = valueLabel(pwText, "NMono");
    // Said as it shows: hidden, or the password the person chose to show.
    pwLabel->setAccessibleName(m_passwordShown || d->password.isEmpty() ? QStringLiteral("Password: %1").arg(pwText)
                                                                        : QStringLiteral("Password: hidden"));
    pwRow->addWidget(pwLabel);
    if (!d->password.isEmpty()) {
        QPushButton* toggle =
            NativeUi::button(m_passwordShown ? QStringLiteral("Hide") : QStringLiteral("Show"), "NText");
        toggle->setAccessibleName(m_passwordShown ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
        connect(toggle, &QPushButton::clicked, this, [this] {
            m_passwordShown = !m_passwordShown;
            rebuildLater();
        });
        pwRow->addWidget(toggle);
    }
    pwRow->addStretch();
    QStringList ignored;
    for (int c : d->ignored)
        ignored << QString::number(c);
    m_detailsLayout->addWidget(fieldGrid({
        {QStringLiteral("IP address"), valueLabel(d->ip, "NMono")},
        {QStringLiteral("HTTP port"), valueLabel(QString::number(d->httpPort), "NMono")},
        {QStringLiteral("RTSP port"), valueLabel(QString::number(d->rtspPort), "NMono")},
        {QStringLiteral("Server port"), valueLabel(QString::number(d->serverPort), "NMono")},
        {QStringLiteral("Username"), valueLabel(d->username.isEmpty() ? QStringLiteral("—") : d->username, "NValue")},
        {QStringLiteral("Password"), pw},
        {QStringLiteral("Manufacturer"), valueLabel(d->manufacturer, "NValue")},
        {QStringLiteral("Type"), valueLabel(typeLabel(d->type), "NValue")},
        {QStringLiteral("Channels"), valueLabel(QString::number(d->channels), "NValue")},
        {QStringLiteral("Ignored channels"),
         valueLabel(ignored.isEmpty() ? QStringLiteral("None") : ignored.join(QStringLiteral(", ")), "NValue")},
    }));
    m_detailsLayout->addStretch();
}

} // namespace kvr::screens
