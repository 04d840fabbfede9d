// The native window's files: adding a device (said as added once it is
// saved), importing devices from a CSV file, saving the sample file, and
// saying what became of the program's own files (a save that failed, a file
// that could not be read at start).

#include "app/ui/Modal.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeFiles.h"
#include "native/screens/NativeUi.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/NoticeStrip.h"
#include "native/services/CsvImportJob.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

namespace {

// Topics of the notice strip; each file's save has its own, so that one
// file's trouble (or its end) never stands in for another's.
const QString kUnread = QStringLiteral("1-unread");
const QString kUnreadEvents = QStringLiteral("2-unread-events");
const QString kSave = QStringLiteral("3-save-");
const QString kSaveEvents = QStringLiteral("3-save-events");

} // namespace

void NativeWindow::watchFiles()
{
    if (m_context.store) {
        connect(m_context.store, &NativeStore::unreadFiles, this, &NativeWindow::takeUnreadNotices);
        connect(m_context.store, &NativeStore::saveProblem, this,
                [this](const QString& file, const QString& sentence) { m_notices->say(kSave + file, sentence); });
    }
    if (m_context.events) {
        connect(m_context.events, &NativeEvents::unreadFile, this, &NativeWindow::takeUnreadNotices);
        connect(m_context.events, &NativeEvents::saveProblem, this,
                [this](const QString& sentence) { m_notices->say(kSaveEvents, sentence); });
    }
    takeUnreadNotices();
}

void NativeWindow::takeUnreadNotices()
{
    // Each is said once, by the first window that takes it; the history is
    // read after the inventory, so its sentence may come later.
    if (m_context.store)
        for (const QString& sentence : m_context.store->takeUnreadNotices())
            m_notices->say(kUnread + sentence, sentence);
    if (m_context.events)
        if (const QString sentence = m_context.events->takeUnreadNotice(); !sentence.isEmpty())
            m_notices->say(kUnreadEvents, sentence);
}

void NativeWindow::addDevice()
{
    DeviceDialog dialog(m_context, selectedSite(), this);
    if (Modal::exec(dialog) != QDialog::Accepted)
        return;
    QString error;
    const QString id = m_context.store->addDevice(dialog.form()->device(), &error);
    if (id.isEmpty()) {
        // The form checks the address as the store does; this is a last guard.
        NativeUi::info(this, QStringLiteral("Can’t save"), error);
        return;
    }
    selectDevice(id);
    // Said as added, and checked, only once it is on disk: a save that fails
    // undoes it, and says why.
    whenSaved(
        m_context.store->editGeneration(),
        [this, id] {
            if (m_context.controller)
                m_context.controller->run(id, NativeController::Fetch);
            toast(QStringLiteral("Device added. Checking it now."));
        },
        [this](const QString& sentence) { NativeUi::info(this, QStringLiteral("Can’t save"), sentence); });
    m_context.store->flush();
}

void NativeWindow::whenSaved(quint64 generation, std::function<void()> saved,
                             std::function<void(const QString& sentence)> notSaved)
{
    // One outcome, taken outside the store's signal (a notice is modal).
    auto* waiter = new QObject(this);
    const auto done = [this, waiter](std::function<void()> then) {
        disconnect(m_context.store, nullptr, waiter, nullptr);
        waiter->deleteLater();
        QTimer::singleShot(0, this, std::move(then));
    };
    connect(m_context.store, &NativeStore::inventorySaved, waiter, [=](quint64 written) {
        if (written >= generation)
            done(saved);
    });
    connect(m_context.store, &NativeStore::inventoryNotSaved, waiter,
            [=](const QString& sentence) { done([notSaved, sentence] { notSaved(sentence); }); });
}

void NativeWindow::importCsv()
{
    if (m_import || !m_context.store)
        return;
    const QString path = Modal::openFileName(this, QStringLiteral("Import devices"), NativeFiles::proposedFolder(),
                                             QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty() || !m_context.store)
        return;
    // Read and checked away from the window, which goes on answering; it
    // says the import is under way until the notice.
    auto* job = new CsvImportJob(*m_context.store, path, this);
    m_import = job;
    connect(job, &CsvImportJob::progress, this, &NativeWindow::showImportProgress);
    connect(job, &CsvImportJob::finished, this,
            [this, job] { QTimer::singleShot(0, this, [this, job] { importDone(job); }); });
    job->start();
    showImportProgress();
}

void NativeWindow::showImportProgress()
{
    const bool running = m_import && m_import->stage() != CsvImportJob::Stage::Done;
    m_importButton->setEnabled(!running);
    m_importing->setVisible(running);
    if (!running)
        return;
    QString text = QStringLiteral("Importing…");
    const qint64 total = m_import->totalBytes();
    if (m_import->stage() == CsvImportJob::Stage::Reading && total > 0)
        text = QStringLiteral("Importing… %1 %").arg(std::min<qint64>(100, m_import->bytesRead() * 100 / total));
    m_importing->setText(text);
}

void NativeWindow::importDone(CsvImportJob* job)
{
    const NativeCsv::ImportResult result = job->result();
    const QStringList fresh = job->addedIds();
    job->deleteLater();
    m_import = nullptr;
    showImportProgress();
    // Every device the import added is diagnosed, a slice per turn, the
    // count of busy devices worked out once per slice.
    m_toDiagnose += fresh;
    diagnoseImported();
    NativeUi::info(this, QStringLiteral("Import devices"), FleetRules::importMessage(result));
}

void NativeWindow::diagnoseImported()
{
    if (!m_context.controller) {
        m_toDiagnose.clear();
        return;
    }
    const qsizetype n = std::min<qsizetype>(m_toDiagnose.size(), FleetCache::kWorkPerUpdate);
    m_holdBusy = true;
    for (qsizetype i = 0; i < n; ++i)
        m_context.controller->run(m_toDiagnose.at(i), NativeController::Diagnose);
    m_holdBusy = false;
    m_toDiagnose.remove(0, n);
    refreshBusy();
    if (!m_toDiagnose.isEmpty())
        QTimer::singleShot(0, this, &NativeWindow::diagnoseImported);
}

void NativeWindow::saveSampleCsv()
{
    const QString path =
        Modal::saveFileName(this, QStringLiteral("Save sample CSV"),
                            NativeFiles::proposedFolder() + QStringLiteral("/vigilo-devices-sample.csv"),
                            QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    const WholeFile::Outcome written = NativeFiles::writeReplacing(path, NativeStore::sampleCsv().toUtf8());
    if (!written.ok()) {
        NativeUi::info(
            this, QStringLiteral("Can’t save"),
            QStringLiteral("That file can't be written: %1. Pick another place.").arg(WholeFile::reason(written)));
        return;
    }
    toast(QStringLiteral("Sample CSV saved"));
}

} // namespace kvr::screens
