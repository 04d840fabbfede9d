#pragma once

// One CSV import as the window runs it: the file is read, decoded and
// checked on a thread of its own, so the window goes on answering however
// large or slow the file; the store then takes the plan in one step and the
// import ends once the inventory with it has reached the disk. It ends with
// nothing added when the file cannot be read to its end, stops arriving for
// longer than a bound (a pipe, a stalled network share), or when the save
// fails. Main thread only (the reading thread touches nothing but the file
// and its own state).

#include "native/services/CsvImport.h"

#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace kvr::services {

class NativeStore;

class CsvImportJob : public QObject {
    Q_OBJECT
public:
    enum class Stage { Reading, Checking, Saving, Done };

    // Opens the file to read; tests put a failing device in its place. Runs
    // on the reading thread. Empty: a plain file.
    using Opener = std::function<std::unique_ptr<QIODevice>(const QString& path)>;
    static void setOpener(Opener opener);

    CsvImportJob(NativeStore& store, const QString& path, QObject* parent = nullptr);
    // A job still reading leaves its thread to end by itself, unheard.
    ~CsvImportJob() override;

    void start();
    Stage stage() const { return m_stage; }
    // Bytes read so far, and the file's size (0 when it has none: a pipe).
    qint64 bytesRead() const;
    qint64 totalBytes() const;
    // Once done: what the notice says, and the devices that were added
    // (those only once on disk).
    const NativeCsv::ImportResult& result() const { return m_result; }
    const QStringList& addedIds() const { return m_added; }

Q_SIGNALS:
    // The stage or the bytes read moved on.
    void progress();
    void finished();

private:
    struct Shared;

    void poll();
    void take(NativeCsv::Plan plan);
    void finish(NativeCsv::ImportResult result);
    void fail(const QString& reason);

    QPointer<NativeStore> m_store;
    QString m_path;
    std::shared_ptr<Shared> m_shared;
    QTimer m_poll;
    Stage m_stage = Stage::Reading;
    qint64 m_lastBytes = -1;
    qint64 m_lastMoveMs = 0;
    quint64 m_generation = 0; // the store's change count with the import in it
    NativeCsv::ImportResult m_result;
    QStringList m_added;
    QStringList m_pendingIds;
};

} // namespace kvr::services
