#pragma once

// What the native screen suites share: a fleet read from prepared files, a
// probe scheduler whose probes finish only when the test says so, the event
// service over them, and short builders for devices in each state.

#include "app/ui/Modal.h"
#include "native/screens/NativeContext.h"
#include "native/screens/ReportDialog.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeSeed.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

namespace screenskit {

// The moment every suite runs at (local time is UTC in the test process).
inline QDateTime testNow()
{
    return QDateTime(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC);
}

struct Bench {
    explicit Bench(const QList<kvr::services::Native::Device>& devices = {},
                   const QList<kvr::services::Native::Site>& sites = {},
                   const kvr::services::Native::UptimeHistory& history = {})
        : fleet(testNow())
    {
        load(devices, sites, history);
    }

    nativeseed::Fleet fleet;
    std::unique_ptr<kvr::services::NativeController> controller;
    std::unique_ptr<kvr::services::NativeEvents> events;
    QList<QPair<QString, kvr::services::NativeController::Done>> pending;

    void load(const QList<kvr::services::Native::Device>& devices, const QList<kvr::services::Native::Site>& sites = {},
              const kvr::services::Native::UptimeHistory& history = kvr::services::Native::UptimeHistory())
    {
        kvr::ui::Modal::reset();
        kvr::services::NativeInsights::clearUptimeCache();
        events.reset();
        controller.reset();
        fleet.load(devices, sites, history);
        controller = std::make_unique<kvr::services::NativeController>(
            fleet.store.get(),
            [this](const kvr::services::Native::Device& d, kvr::services::NativeController::Kind, int,
                   kvr::services::NativeController::Done done) {
                pending.append({d.id, std::move(done)});
            });
        controller->setDelayFunction([](std::chrono::milliseconds, std::function<void()>) {});
        events = std::make_unique<kvr::services::NativeEvents>(fleet.store.get(), controller.get());
    }

    kvr::screens::NativeContext context() const { return {fleet.store.get(), controller.get(), events.get()}; }
    kvr::services::NativeStore& store() const { return *fleet.store; }

    // Ends every probe that is running with this result.
    void finishProbes(const kvr::services::Native::ProbeResult& result)
    {
        const auto jobs = std::exchange(pending, {});
        for (const auto& [id, done] : jobs)
            done(result);
    }
};

inline kvr::services::Native::Site site(const QString& name, const QString& isp = {}, const QString& contact = {})
{
    return {nativeseed::newId(), name, {}, contact, isp, {}, {}}; // id, name, address, contact, isp, sim, notes
}

// A loopback port nothing listens on: a window that is shown opens event
// streams, and those may only ever reach this machine.
inline quint16 refusingPort()
{
    static const quint16 port = kvrtest::closedPort();
    return port;
}

// A device created long ago, never checked, at a loopback address that
// refuses connections.
inline kvr::services::Native::Device fresh(const QString& name, const QString& siteId = {}, int channels = 4)
{
    kvr::services::Native::Device d = nativeseed::device(name, siteId, channels, testNow().addDays(-60));
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = refusingPort();
    return d;
}

// Checked a minute before the test's moment and found up on every count.
inline kvr::services::Native::Device up(const QString& name, const QString& siteId = {}, int channels = 4)
{
    kvr::services::Native::Device d = fresh(name, siteId, channels);
    kvr::services::Native::Health& h = d.health;
    h.checkedAt = testNow().addSecs(-60);
    h.internet = h.device = h.httpPort = h.rtspPort = h.digest = kvr::services::Native::Passed;
    h.latencyMs = 12;
    h.lossPercent = 0;
    h.quality = QStringLiteral("Good");
    h.hdd = QStringLiteral("OK");
    h.lastUp = h.fetchedAt = h.checkedAt;
    h.model = QStringLiteral("DS-7608NI");
    h.deviceName = name;
    h.serial = QStringLiteral("SN-") + name;
    h.firmware = QStringLiteral("V4.1");
    h.mac = QStringLiteral("44:19:b6:00:00:01");
    h.deviceTime = h.fetchedAt.toLocalTime().toString(Qt::ISODate);
    for (kvr::services::Native::Camera& c : d.cameras) {
        c.onlineKnown = true;
        c.online = true;
    }
    return d;
}

// Checked and found not answering.
inline kvr::services::Native::Device down(const QString& name, const QString& siteId = {}, int channels = 4)
{
    kvr::services::Native::Device d = fresh(name, siteId, channels);
    d.health.checkedAt = testNow().addSecs(-60);
    d.health.internet = d.health.device = kvr::services::Native::Failed;
    d.health.error = QStringLiteral("Device is offline.");
    return d;
}

inline kvr::services::Native::Device disabled(const QString& name, const QString& reason = {})
{
    kvr::services::Native::Device d = fresh(name);
    d.enabled = false;
    d.disabledReason = reason;
    return d;
}

// The user's documents folder, made if missing.
inline QString documents()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(dir);
    return dir;
}

// Answers the next report dialog as a person does: exports, picking `path`.
inline void exportNextReportTo(const QString& path)
{
    kvr::ui::Modal::respond([path](QDialog& d) {
        auto& dialog = dynamic_cast<kvr::screens::ReportDialog&>(d);
        kvr::ui::Modal::chooseFile(path);
        dialog.exportReport();
        return dialog.result();
    });
}

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Each item of `list` as one line, for comparing a whole list at once.
template <typename List, typename F> QStringList lines(const List& list, F line)
{
    QStringList out;
    for (const auto& item : list)
        out << line(item);
    return out;
}

// The first child widget of `root` whose text or accessible name is `text`.
template <typename W> W* findByText(QWidget* root, const QString& text)
{
    for (W* w : root->findChildren<W*>()) {
        if (w->accessibleName() == text)
            return w;
        if constexpr (requires { w->text(); })
            if (w->text() == text)
                return w;
    }
    return nullptr;
}

// The longest text that `root` and its children hold for showing: texts,
// tool tips, accessible names and descriptions, titles, drop-down entries,
// edit fields, and every text of every item in the models of its views.
inline qsizetype longestShownText(QWidget* root, QString* where = nullptr)
{
    qsizetype most = 0;
    const auto take = [&](const QString& text, const QObject* of) {
        if (text.size() > most) {
            most = text.size();
            if (where)
                *where = QString::fromLatin1(of->metaObject()->className()) + QLatin1Char(' ') + of->objectName();
        }
    };
    const auto walkModel = [&](const QAbstractItemModel* model, const QObject* of) {
        std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
            for (int r = 0; r < model->rowCount(parent); ++r)
                for (int c = 0; c < model->columnCount(parent); ++c) {
                    const QModelIndex i = model->index(r, c, parent);
                    for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::AccessibleTextRole),
                                     int(Qt::AccessibleDescriptionRole), int(Qt::EditRole)}) {
                        const QVariant v = model->data(i, role);
                        if (v.typeId() == QMetaType::QString)
                            take(v.toString(), of);
                    }
                    if (c == 0)
                        walk(i);
                }
        };
        walk(QModelIndex());
    };
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : std::as_const(widgets)) {
        take(w->toolTip(), w);
        take(w->accessibleName(), w);
        take(w->accessibleDescription(), w);
        take(w->windowTitle(), w);
        if (auto* l = qobject_cast<QLabel*>(w))
            take(l->text(), w);
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            take(b->text(), w);
        if (auto* e = qobject_cast<QLineEdit*>(w))
            take(e->text(), w);
        if (auto* e = qobject_cast<QPlainTextEdit*>(w))
            take(e->toPlainText(), w);
        if (auto* c = qobject_cast<QComboBox*>(w))
            walkModel(c->model(), w);
        if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model())
            walkModel(v->model(), w);
    }
    return most;
}

// A text far longer than any screen shows (a cell pasted by mistake, kept
// by a file written before names had a bound).
inline QString overLong(const QString& start)
{
    return start + QString(10 * 1000, QLatin1Char('x')) + QStringLiteral(" end");
}

} // namespace screenskit
