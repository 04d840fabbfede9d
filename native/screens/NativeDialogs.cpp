#include "native/screens/NativeDialogs.h"

#include "app/core/ShownText.h"
#include "app/ui/Modal.h"
#include "native/screens/NativeStyle.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/NativeStore.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

namespace {

const QString kNewSite = QStringLiteral("__new__");

QSpinBox* spin(int min, int max, int value)
{
    auto* s = new QSpinBox;
    s->setRange(min, max);
    s->setValue(value);
    s->setButtonSymbols(QAbstractSpinBox::NoButtons);
    return s;
}

QHBoxLayout* row(std::initializer_list<std::pair<QWidget*, int>> items)
{
    auto* h = new QHBoxLayout;
    h->setSpacing(12);
    for (const auto& [w, stretch] : items)
        h->addWidget(w, stretch);
    return h;
}

// Asks for one line of text through the Modal seam.
bool askText(QWidget* parent, const QString& title, const QString& label, QString* answer)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(QString());
    if (Modal::exec(dialog) != QDialog::Accepted)
        return false;
    *answer = dialog.textValue();
    return true;
}

} // namespace

// ---- DeviceForm -------------------------------------------------------------------------

DeviceForm::DeviceForm(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    m_site = new QComboBox;
    m_name = new QLineEdit;
    m_name->setPlaceholderText(QStringLiteral("Defaults to the IP address"));
    m_address = new QLineEdit;
    m_address->setPlaceholderText(QStringLiteral("192.168.1.50"));
    m_httpPort = spin(1, 65535, 80);
    m_rtspPort = spin(1, 65535, 554);
    m_serverPort = spin(1, 65535, 8000);
    m_manufacturer = new QComboBox;
    m_manufacturer->addItems(NativeBrand::manufacturers());
    m_type = new QComboBox;
    m_type->addItems(NativeBrand::deviceTypes());
    m_channels = spin(Native::kMinChannels, Native::kMaxChannels, 4);
    m_username = new QLineEdit;
    m_username->setPlaceholderText(QStringLiteral("admin"));
    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::Password);
    m_showPassword = NativeUi::button(QStringLiteral("Show"), "NText");
    m_showPassword->setAccessibleName(QStringLiteral("Show password"));
    m_ignored = new QLineEdit;
    m_ignored->setPlaceholderText(QStringLiteral("For example 3, 5, 8-10"));

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(12);
    v->addWidget(NativeUi::captioned(QStringLiteral("Site"), m_site));
    v->addWidget(NativeUi::captioned(QStringLiteral("Device name"), m_name));
    QWidget* addressBox = NativeUi::captioned(QStringLiteral("IP address or host name"), m_address);
    m_addressError = NativeUi::label(QString(), "NError");
    m_addressError->hide();
    addressBox->layout()->addWidget(m_addressError);
    v->addWidget(addressBox);
    v->addLayout(row({{NativeUi::captioned(QStringLiteral("HTTP port"), m_httpPort), 0},
                      {NativeUi::captioned(QStringLiteral("RTSP port"), m_rtspPort), 0},
                      {NativeUi::captioned(QStringLiteral("Server port"), m_serverPort), 0}}));
    v->addLayout(row({{NativeUi::captioned(QStringLiteral("Manufacturer"), m_manufacturer), 2},
                      {NativeUi::captioned(QStringLiteral("Type"), m_type), 1},
                      {NativeUi::captioned(QStringLiteral("Channels"), m_channels), 1}}));
    auto* pw = new QWidget;
    auto* pwRow = new QHBoxLayout(pw);
    pwRow->setContentsMargins(0, 0, 0, 0);
    pwRow->setSpacing(4);
    pwRow->addWidget(m_password, 1);
    pwRow->addWidget(m_showPassword);
    QWidget* pwField = NativeUi::captioned(QStringLiteral("Password"), pw);
    // The caption names the field itself, not the row around it.
    if (auto* cap = pwField->findChild<QLabel*>())
        cap->setBuddy(m_password);
    m_password->setAccessibleName(QStringLiteral("Password"));
    v->addLayout(row({{NativeUi::captioned(QStringLiteral("Username"), m_username), 0}, {pwField, 0}}));
    v->addWidget(NativeUi::captioned(QStringLiteral("Ignored channels (hidden from cameras and checks)"), m_ignored));

    connect(m_showPassword, &QPushButton::clicked, this, [this] {
        const bool show = m_password->echoMode() == QLineEdit::Password;
        m_password->setEchoMode(show ? QLineEdit::Normal : QLineEdit::Password);
        m_showPassword->setText(show ? QStringLiteral("Hide") : QStringLiteral("Show"));
        m_showPassword->setAccessibleName(show ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
    });
    connect(m_address, &QLineEdit::textEdited, this, [this] { showProblem(QString()); });
    connect(m_manufacturer, &QComboBox::currentTextChanged, this, &DeviceForm::brandChanged);
    connect(m_type, &QComboBox::currentTextChanged, this, [this](const QString& type) {
        if (type == QLatin1String("ipcamera"))
            m_channels->setValue(1);
    });
    connect(m_site, &QComboBox::activated, this, &DeviceForm::onSiteActivated);
    reloadSites(QString());
}

void DeviceForm::reloadSites(const QString& siteId)
{
    m_site->clear();
    m_site->addItem(QStringLiteral("No site"), QString());
    if (m_context.store) {
        const QList<Native::Site> allSites = m_context.store->sites(); // const: no copy of the records
        for (const Native::Site& s : allSites)
            m_site->addItem(kvr::core::shownText(s.name), s.id);
    }
    m_site->addItem(QStringLiteral("New site…"), kNewSite);
    int at = 0;
    for (int i = 0; i < m_site->count(); ++i) {
        if (m_site->itemData(i).toString() == siteId) {
            at = i;
            break;
        }
    }
    m_site->setCurrentIndex(at);
    m_lastSiteId = m_site->itemData(at).toString();
}

void DeviceForm::onSiteActivated(int index)
{
    const QString data = m_site->itemData(index).toString();
    if (data != kNewSite) {
        m_lastSiteId = data;
        return;
    }
    QString name;
    if (askText(this, QStringLiteral("New site"), QStringLiteral("Site name"), &name) && !name.trimmed().isEmpty()
        && m_context.store) {
        Native::Site site;
        site.name = name.trimmed();
        reloadSites(m_context.store->addSite(site));
        return;
    }
    reloadSites(m_lastSiteId);
}

void DeviceForm::setDevice(const Native::Device& device)
{
    m_device = device;
    reloadSites(device.siteId);
    // Texts too long for a field (from a file written before they had a
    // bound) show cut, and stay whole unless the person changes them.
    using kvr::core::shownText;
    m_name->setText(shownText(device.name));
    m_address->setText(shownText(device.ip));
    m_httpPort->setValue(device.httpPort);
    m_rtspPort->setValue(device.rtspPort);
    m_serverPort->setValue(device.serverPort);
    m_username->setText(shownText(device.username));
    m_password->setText(shownText(device.password));
    const int brand = m_manufacturer->findText(device.manufacturer, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (brand >= 0)
        m_manufacturer->setCurrentIndex(brand);
    const int type = m_type->findText(device.type, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (type >= 0)
        m_type->setCurrentIndex(type);
    m_channels->setValue(device.channels);
    QStringList ignored;
    for (int c : device.ignored)
        ignored << QString::number(c);
    m_ignored->setText(ignored.join(QStringLiteral(", ")));
    m_shown = this->device();
    m_shownIgnored = m_ignored->text();
}

void DeviceForm::brandChanged()
{
    const QString brand = m_manufacturer->currentText();
    const int port = m_serverPort->value();
    if (port == 8000 || port == 37777)
        m_serverPort->setValue(NativeBrand::isDahuaStyle(brand) ? 37777 : 8000);
    m_device.manufacturer = brand;
}

Native::Device DeviceForm::device() const
{
    Native::Device d = m_device;
    const QString site = m_site->currentData().toString();
    d.siteId = site == kNewSite ? QString() : site;
    using kvr::core::editedText;
    d.ip = editedText(m_address->text().trimmed(), m_device.ip);
    d.name = editedText(m_name->text().trimmed(), m_device.name);
    if (d.name.isEmpty())
        d.name = d.ip;
    d.httpPort = m_httpPort->value();
    d.rtspPort = m_rtspPort->value();
    d.serverPort = m_serverPort->value();
    d.username = editedText(m_username->text().trimmed(), m_device.username);
    d.password = editedText(m_password->text(), m_device.password);
    d.manufacturer = m_manufacturer->currentText();
    d.type = m_type->currentText();
    d.channels = m_channels->value();
    d.ignored = parseChannels(m_ignored->text(), d.channels);
    return d;
}

Native::Device DeviceForm::changesOnto(const Native::Device& current) const
{
    const Native::Device edited = device();
    Native::Device d = current;
    const auto take = [&](auto member) {
        if (edited.*member != m_shown.*member)
            d.*member = edited.*member;
    };
    take(&Native::Device::siteId);
    take(&Native::Device::name);
    take(&Native::Device::ip);
    take(&Native::Device::httpPort);
    take(&Native::Device::rtspPort);
    take(&Native::Device::serverPort);
    take(&Native::Device::username);
    take(&Native::Device::password);
    take(&Native::Device::manufacturer);
    take(&Native::Device::type);
    take(&Native::Device::channels);
    // Read against the channels the device will have, not those the form
    // showed: a channel above the form's count is still a channel.
    if (m_ignored->text() != m_shownIgnored)
        d.ignored = parseChannels(m_ignored->text(), d.channels);
    return d;
}

bool DeviceForm::hasChanges() const
{
    return device() != m_shown || m_ignored->text() != m_shownIgnored;
}

QString DeviceForm::problem() const
{
    static const QRegularExpression kBad(QStringLiteral("[\\s/@]"));
    const QString address = m_address->text().trimmed();
    if (address.isEmpty() || address.contains(kBad))
        return QStringLiteral("Enter the device's IP address or host name.");
    // The store's own rules, checked here so that a dialog never closes on
    // input the store then refuses, losing what was typed.
    if (const QString problem = NativeAddress::problem(address); !problem.isEmpty())
        return problem;
    const int port = m_httpPort->value();
    const bool moved = m_device.id.isEmpty()
        || NativeAddress::recorderKey(address, port) != NativeAddress::recorderKey(m_device.ip, m_device.httpPort);
    if (moved && m_context.store)
        if (const std::optional<Native::Device> other = m_context.store->recorderAt(address, port, m_device.id))
            return NativeStore::duplicateProblem(*other);
    return {};
}

QList<int> DeviceForm::parseChannels(const QString& text, int channels)
{
    static const QRegularExpression kSplit(QStringLiteral("[,;\\s]+"));
    QList<int> out;
    auto add = [&out](int n) {
        if (!out.contains(n))
            out << n;
    };
    for (const QString& part : text.split(kSplit, Qt::SkipEmptyParts)) {
        const qsizetype dash = part.size() >= 2 ? part.indexOf(QLatin1Char('-'), 1) : -1;
        if (dash >= 1) {
            bool okA = false, okB = false;
            const int a = part.left(dash).toInt(&okA, 10);
            const int b = part.mid(dash + 1).toInt(&okB, 10);
            if (!okA || !okB)
                continue;
            for (int n = qMax(a, 1); n <= qMin(b, channels); ++n)
                add(n);
            continue;
        }
        bool ok = false;
        const int n = part.toInt(&ok, 10);
        if (ok && n >= 1 && n <= channels)
            add(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void DeviceForm::focusFirst()
{
    m_address->setFocus();
}

void DeviceForm::showProblem(const QString& problem)
{
    const bool wrong = !problem.isEmpty();
    m_addressError->setText(problem);
    m_addressError->setVisible(wrong);
    // A screen reader says why the field is marked.
    m_address->setAccessibleDescription(problem);
    if (m_address->property("invalid").toBool() != wrong) {
        m_address->setProperty("invalid", wrong);
        NativeStyle::repolish(m_address);
    }
}

// ---- DeviceDialog ------------------------------------------------------------------------

DeviceDialog::DeviceDialog(const NativeContext& context, const QString& siteId, QWidget* parent)
    : NativeDialogBase(parent)
{
    setWindowTitle(QStringLiteral("Add device"));
    setMinimumWidth(560);
    m_form = new DeviceForm(context);
    Native::Device fresh;
    fresh.siteId = siteId;
    m_form->setDevice(fresh);
    QHBoxLayout* buttons = NativeUi::frame(this, QStringLiteral("Add device"), m_form);
    QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
    QPushButton* add = NativeUi::button(QStringLiteral("Add device"), "NPrimary");
    add->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(add);
    connect(cancel, &QPushButton::clicked, this, &NativeDialogBase::discard);
    connect(add, &QPushButton::clicked, this, &DeviceDialog::submit);
    m_form->focusFirst();
}

void DeviceDialog::submit()
{
    const QString problem = m_form->problem();
    m_form->showProblem(problem);
    if (!problem.isEmpty()) {
        m_form->focusFirst();
        return;
    }
    accept();
}

// ---- SiteDialog --------------------------------------------------------------------------

SiteDialog::SiteDialog(const NativeContext& context, const QString& siteId, QWidget* parent) : NativeDialogBase(parent)
{
    const bool editing = !siteId.isEmpty();
    const QString title = editing ? QStringLiteral("Edit site") : QStringLiteral("Add site");
    setWindowTitle(title);
    setMinimumWidth(500);
    if (context.store)
        if (const std::optional<Native::Site> s = context.store->site(siteId))
            m_site = *s;
    // Texts too long for a field show cut, and stay whole unless changed.
    using kvr::core::shownText;
    using kvr::core::tun::kShownNoteChars;
    m_name = new QLineEdit(shownText(m_site.name));
    m_address = new QLineEdit(shownText(m_site.address, kShownNoteChars));
    m_contact = new QLineEdit(shownText(m_site.contact));
    m_contact->setPlaceholderText(QStringLiteral("Name and phone"));
    m_isp = new QLineEdit(shownText(m_site.isp));
    m_sim = new QLineEdit(shownText(m_site.sim, kShownNoteChars));
    m_notes = new QPlainTextEdit(shownText(m_site.notes, kShownNoteChars));
    m_notes->setTabChangesFocus(true); // Tab goes on to the buttons, as in every other field
    m_notes->setFixedHeight(80);
    auto* content = new QWidget;
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(12);
    v->addWidget(NativeUi::captioned(QStringLiteral("Site name"), m_name));
    v->addWidget(NativeUi::captioned(QStringLiteral("Address"), m_address));
    v->addWidget(NativeUi::captioned(QStringLiteral("Contact"), m_contact));
    v->addLayout(row({{NativeUi::captioned(QStringLiteral("Internet provider"), m_isp), 0},
                      {NativeUi::captioned(QStringLiteral("SIM notes"), m_sim), 0}}));
    v->addWidget(NativeUi::captioned(QStringLiteral("Notes"), m_notes));
    m_error = NativeUi::label(QString(), "NError");
    m_error->hide();
    v->addWidget(m_error);
    QHBoxLayout* buttons = NativeUi::frame(this, title, content);
    QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
    m_main = NativeUi::button(editing ? QStringLiteral("Save") : QStringLiteral("Add site"), "NPrimary");
    m_main->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(m_main);
    connect(cancel, &QPushButton::clicked, this, &NativeDialogBase::discard);
    connect(m_main, &QPushButton::clicked, this, &SiteDialog::submit);
    m_name->setFocus();
}

void SiteDialog::submit()
{
    if (m_name->text().trimmed().isEmpty()) {
        m_error->setText(QStringLiteral("Enter a site name."));
        m_error->show();
        return;
    }
    accept();
}

bool SiteDialog::hasChanges() const
{
    // What the fields held at opening, read as site() reads them.
    const Native::Site edited = site();
    const Native::Site& at = m_site;
    return edited.name != at.name.trimmed() || edited.address != at.address.trimmed()
        || edited.contact != at.contact.trimmed() || edited.isp != at.isp.trimmed() || edited.sim != at.sim.trimmed()
        || edited.notes != at.notes.trimmed();
}

Native::Site SiteDialog::site() const
{
    Native::Site s = m_site;
    using kvr::core::editedText;
    using kvr::core::tun::kShownNoteChars;
    s.name = editedText(m_name->text().trimmed(), m_site.name).trimmed();
    s.address = editedText(m_address->text().trimmed(), m_site.address, kShownNoteChars).trimmed();
    s.contact = editedText(m_contact->text().trimmed(), m_site.contact).trimmed();
    s.isp = editedText(m_isp->text().trimmed(), m_site.isp).trimmed();
    s.sim = editedText(m_sim->text().trimmed(), m_site.sim, kShownNoteChars).trimmed();
    s.notes = editedText(m_notes->toPlainText().trimmed(), m_site.notes, kShownNoteChars).trimmed();
    return s;
}

} // namespace kvr::screens
