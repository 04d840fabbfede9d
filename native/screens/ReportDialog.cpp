#include "native/screens/ReportDialog.h"

#include "native/screens/Tunables.h"

#include "app/ui/Fitting.h"
#include "app/ui/Modal.h"
#include "native/screens/NativeFiles.h"
#include "native/services/NativeStore.h"
#include "native/services/Reports.h"
#include "native/services/Verdicts.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

namespace NativeReportText {

QString kindWord(int kind)
{
    switch (kind) {
    case NativeReports::Uptime:
        return QStringLiteral("uptime");
    case NativeReports::Downtime:
        return QStringLiteral("downtime");
    case NativeReports::Cameras:
        return QStringLiteral("cameras");
    case NativeReports::Storage:
        return QStringLiteral("storage");
    default:
        return {};
    }
}

QString description(int kind)
{
    switch (kind) {
    case NativeReports::Uptime:
        return QStringLiteral("Percent up per day for the internet, the device and each camera. History is kept for "
                              "about 40 days. Hours when the app was closed are not counted.");
    case NativeReports::Downtime:
        return QStringLiteral(
            "Runs of hours that were checked and found down. Hours when the app was closed are left out.");
    case NativeReports::Cameras:
        return QStringLiteral("Each camera's last known state, with when it was last seen online and offline.");
    case NativeReports::Storage:
        return QStringLiteral(
            "Disk health, firmware and recorded days for each device, from the last Fetch device info.");
    default:
        return {};
    }
}

QString proposedPath(const QString& documents, int kind, const QDate& today)
{
    return QStringLiteral("%1/vigilo-%2-%3.csv")
        .arg(documents, kindWord(kind), today.toString(QStringLiteral("yyyyMMdd")));
}

QString exportedText(const QString& path)
{
    return QStringLiteral("Report exported to %1").arg(QDir::toNativeSeparators(path));
}

bool usesDates(int kind)
{
    return kind == NativeReports::Uptime || kind == NativeReports::Downtime;
}

} // namespace NativeReportText

ReportDialog::ReportDialog(const NativeContext& context, const QString& deviceId, QWidget* parent)
    : NativeDialogBase(parent),
      m_context(context),
      m_deviceId(deviceId)
{
    setWindowTitle(QStringLiteral("Reports"));
    setMinimumWidth(500);
    m_kind = new QComboBox;
    m_kind->addItem(QStringLiteral("Uptime report"), int(NativeReports::Uptime));
    m_kind->addItem(QStringLiteral("Downtime report"), int(NativeReports::Downtime));
    m_kind->addItem(QStringLiteral("Camera status report"), int(NativeReports::Cameras));
    m_kind->addItem(QStringLiteral("Storage and recording report"), int(NativeReports::Storage));
    m_devices = new QComboBox;
    m_devices->addItem(QStringLiteral("All devices"), QString());
    if (context.store)
        if (const std::optional<Native::Device> d = context.store->device(deviceId)) {
            m_devices->addItem(Native::deviceLabel(*d), d->id);
            m_devices->setCurrentIndex(1);
        }
    // The dialog widens for a long device name, within what a laptop's
    // screen leaves; a longer one is shortened, whole in its tool tip.
    fitItemsApart(m_devices, tun::kReportDeviceText_px);
    fitToItems(m_devices);
    const QDate today = NativeContext::today();
    auto dateField = [today](const QDate& value) {
        auto* e = new QDateEdit;
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("d MMM yyyy"));
        e->setDateRange(today.addDays(-40), today);
        e->setDate(value);
        e->setMinimumHeight(36);
        return e;
    };
    m_from = dateField(today.addDays(-6));
    m_to = dateField(today);
    m_description = NativeUi::label(QString(), "NMuted");
    m_error = NativeUi::label(QString(), "NError");
    m_error->hide();

    auto* content = new QWidget;
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(12);
    v->addWidget(NativeUi::captioned(QStringLiteral("Report"), m_kind));
    v->addWidget(NativeUi::captioned(QStringLiteral("Devices"), m_devices));
    auto* dates = new QHBoxLayout;
    dates->setSpacing(12);
    dates->addWidget(NativeUi::captioned(QStringLiteral("From"), m_from));
    dates->addWidget(NativeUi::captioned(QStringLiteral("To"), m_to));
    v->addLayout(dates);
    v->addWidget(m_description);
    v->addWidget(m_error);

    QHBoxLayout* buttons = NativeUi::frame(this, QStringLiteral("Reports"), content);
    QPushButton* close = NativeUi::button(QStringLiteral("Close"), "NSecondary");
    QPushButton* exportButton = NativeUi::button(QStringLiteral("Export"), "NPrimary");
    exportButton->setDefault(true);
    buttons->addWidget(close);
    buttons->addWidget(exportButton);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(exportButton, &QPushButton::clicked, this, &ReportDialog::exportReport);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &ReportDialog::updateDescription);
    updateDescription();
}

void ReportDialog::updateDescription()
{
    const int kind = m_kind->currentData().toInt();
    m_from->setEnabled(NativeReportText::usesDates(kind));
    m_to->setEnabled(NativeReportText::usesDates(kind));
    m_description->setText(NativeReportText::description(kind));
}

void ReportDialog::exportReport()
{
    m_error->hide();
    const int kind = m_kind->currentData().toInt();
    if (m_from->date() > m_to->date()) {
        m_error->setText(QStringLiteral("The start date is after the end date."));
        m_error->show();
        return;
    }
    const QString proposed =
        NativeReportText::proposedPath(NativeFiles::proposedFolder(), kind, NativeContext::today());
    const QString path =
        Modal::saveFileName(this, QStringLiteral("Export report"), proposed, QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    const QString chosen = m_devices->currentData().toString();
    const QStringList ids = chosen.isEmpty() ? QStringList() : QStringList{chosen};
    const QString text = NativeReports::build(*m_context.store, NativeReports::Kind(kind), ids, m_from->date(),
                                              m_to->date(), NativeContext::now());
    const WholeFile::Outcome written = NativeFiles::writeReplacing(path, QByteArray("\xEF\xBB\xBF") + text.toUtf8());
    if (!written.ok()) {
        m_error->setText(
            QStringLiteral("Can't write that file: %1. Pick another place.").arg(WholeFile::reason(written)));
        m_error->show();
        return;
    }
    m_savedPath = path;
    accept();
}

} // namespace kvr::screens
