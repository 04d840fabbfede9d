#include "native/services/CsvImportJob.h"

#include "app/core/Clock.h"
#include "native/services/Logging.h"
#include "native/services/NativeStore.h"
#include "native/services/Tunables.h"

#include <QFile>
#include <QMutex>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace kvr::services {

namespace {

CsvImportJob::Opener& opener()
{
    static CsvImportJob::Opener o;
    return o;
}

qint64 nowMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

// What the file has now, up to `max` bytes: a plain file is read at its
// descriptor, which gives what a pipe or a slow share has sent so far (the
// file class would wait until the whole chunk came). 0 at the end, -1 on
// an error with its reason.
qint64 readSome(QIODevice& device, char* data, qint64 max, QString* error)
{
    auto* file = qobject_cast<QFile*>(&device);
    if (!file || file->handle() < 0) {
        const qint64 n = device.read(data, max);
        if (n < 0)
            *error = device.errorString();
        return n;
    }
    for (;;) {
        const ssize_t n = ::read(file->handle(), data, size_t(max));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            *error = QString::fromStdString(std::generic_category().message(errno));
            return -1;
        }
    }
}

} // namespace

// What the reading thread and the job share; either may end first.
struct CsvImportJob::Shared {
    std::atomic<qint64> bytes{0};
    std::atomic<qint64> lines{0};
    std::atomic<qint64> total{0};
    std::atomic<int> stage{int(Stage::Reading)}; // Reading, Checking, then Done
    std::atomic<bool> abandoned{false};
    QMutex mutex; // over the plan
    NativeCsv::Plan plan;
};

void CsvImportJob::setOpener(Opener o)
{
    opener() = std::move(o);
}

CsvImportJob::CsvImportJob(NativeStore& store, const QString& path, QObject* parent)
    : QObject(parent),
      m_store(&store),
      m_path(path),
      m_shared(std::make_shared<Shared>())
{
    m_poll.setInterval(tun::kImportPoll);
    connect(&m_poll, &QTimer::timeout, this, &CsvImportJob::poll);
}

CsvImportJob::~CsvImportJob()
{
    m_shared->abandoned = true;
}

qint64 CsvImportJob::bytesRead() const
{
    return m_shared->bytes;
}

qint64 CsvImportJob::totalBytes() const
{
    return m_shared->total;
}

void CsvImportJob::start()
{
    if (!m_store) {
        fail(QStringLiteral("Can't open the file."));
        return;
    }
    // The inventory as it stands: copies that share their data, safe to
    // read on the other thread while the store goes on changing its own.
    const QList<Native::Site> sites = m_store->sites();
    const QList<Native::Device> devices = m_store->devices();
    const QDateTime now = kvr::core::Clock::instance().nowUtc().toLocalTime();
    m_lastMoveMs = nowMs();
    m_poll.start();
    // A thread of its own, let go of: a read that blocks (a pipe nobody
    // writes to) holds that thread alone, and the window goes on.
    std::thread([shared = m_shared, path = m_path, open = opener(), sites, devices, now] {
        std::unique_ptr<QIODevice> file = open ? open(path) : std::make_unique<QFile>(path);
        auto done = [&](NativeCsv::Plan plan) {
            QMutexLocker lock(&shared->mutex);
            shared->plan = std::move(plan);
            shared->stage = int(Stage::Done);
        };
        if (!file->isOpen() && !file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            done(NativeCsv::refusal(QStringLiteral("Can't open the file.")));
            return;
        }
        if (!file->isSequential())
            shared->total = file->size();
        QByteArray bytes;
        QByteArray chunk(tun::kImportChunk_bytes, Qt::Uninitialized);
        for (;;) {
            if (shared->abandoned)
                return;
            QString error;
            const qint64 n = readSome(*file, chunk.data(), chunk.size(), &error);
            if (n < 0) {
                done(NativeCsv::refusal(
                    QStringLiteral("The file could not be read past line %1 (%2). Nothing was imported; import it "
                                   "again once it can be read whole.")
                        .arg(bytes.count('\n') + 1)
                        .arg(error)));
                return;
            }
            if (n == 0)
                break;
            if (bytes.size() + n > NativeCsv::kMaxFileBytes) {
                done(NativeCsv::refusal(QStringLiteral("The file is too large to import.")));
                return;
            }
            bytes.append(chunk.constData(), n);
            shared->lines += QByteArrayView(chunk.constData(), n).count('\n');
            shared->bytes = bytes.size();
        }
        shared->stage = int(Stage::Checking);
        NativeCsv::Plan plan = NativeCsv::plan(sites, devices, bytes, now);
        if (!shared->abandoned)
            done(std::move(plan));
    }).detach();
}

void CsvImportJob::poll()
{
    const Stage stage = Stage(m_shared->stage.load());
    if (stage == Stage::Done) {
        m_poll.stop();
        NativeCsv::Plan plan;
        {
            QMutexLocker lock(&m_shared->mutex);
            plan = std::move(m_shared->plan);
        }
        take(std::move(plan));
        return;
    }
    const qint64 bytes = m_shared->bytes;
    if (stage != m_stage || bytes != m_lastBytes) {
        m_stage = stage;
        m_lastBytes = bytes;
        m_lastMoveMs = nowMs();
        Q_EMIT progress();
        return;
    }
    if (stage == Stage::Reading && nowMs() - m_lastMoveMs >= tun::kImportStall.count()) {
        m_shared->abandoned = true;
        m_poll.stop();
        const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(tun::kImportStall).count();
        fail(QStringLiteral("Nothing more of the file arrived for %1 s (it stopped at line %2). Nothing was "
                            "imported; import it again once it can be read whole.")
                 .arg(seconds)
                 .arg(m_shared->lines + 1));
    }
}

void CsvImportJob::take(NativeCsv::Plan plan)
{
    if (!m_store) {
        fail(QStringLiteral("Can't open the file."));
        return;
    }
    NativeCsv::ImportResult result = m_store->addImported(std::move(plan), &m_pendingIds);
    if (result.added == 0) {
        finish(std::move(result));
        return;
    }
    // Said as added only once on disk: a failed save undoes the import.
    m_result = std::move(result);
    m_generation = m_store->editGeneration();
    m_stage = Stage::Saving;
    Q_EMIT progress();
    connect(m_store, &NativeStore::inventorySaved, this, [this](quint64 generation) {
        if (m_stage != Stage::Saving || generation < m_generation)
            return;
        m_added = std::exchange(m_pendingIds, {});
        finish(m_result);
    });
    connect(m_store, &NativeStore::inventoryNotSaved, this, [this](const QString& sentence) {
        if (m_stage != Stage::Saving)
            return;
        qCWarning(lcServices).noquote() << "csv import: undone, the inventory could not be saved";
        NativeCsv::ImportResult undone = m_result;
        undone.added = 0;
        undone.errors.prepend(sentence);
        m_pendingIds.clear();
        finish(std::move(undone));
    });
    m_store->flush();
}

void CsvImportJob::fail(const QString& reason)
{
    finish(NativeCsv::refusal(reason).result);
}

void CsvImportJob::finish(NativeCsv::ImportResult result)
{
    m_result = std::move(result);
    m_stage = Stage::Done;
    if (m_store)
        disconnect(m_store, nullptr, this, nullptr);
    Q_EMIT finished();
}

} // namespace kvr::services
