// A CSV import as a person makes it: the fleet window open over the store,
// the probe scheduler (its own checks off) and the live event streams, an
// import of 5,000 rows and one of 100,000 (two thirds ISAPI-style recorders
// with event streams, a third Dahua-style, each with a site of 50 rows, all
// on loopback addresses where nothing listens), each from the menu's action
// to the notice that ends it and the window's rebuild that shows the
// devices. Prints the time to the notice, the main thread's longest stall
// (wall-clock gap and its own work) and the devices the store holds after
// it. Targets: 5,000 rows in a few seconds, 100,000 within a few minutes,
// the window never stalling over a few hundred ms.
//
// The 100,000 rows run without the event streams, which then open a stream
// to each of 66,000 recorders (the streams' own scale, measured by
// bench_native_events); "--streams" runs them with the streams too.
// The first argument sets the larger count (0: the 5,000 alone).

#include "app/ui/Modal.h"
#include "bench/support/BenchKit.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::ui;

namespace {

// Rows of distinct loopback recorders: 127.x.y.z with z from 1 to 250, so
// that no two rows name the same address and port.
QByteArray makeCsv(int rows)
{
    QByteArray csv = "site,name,ip,http_port,username,password,manufacturer,type,channels\n";
    csv.reserve(rows * 80);
    for (int i = 0; i < rows; ++i) {
        const int host = i % 250 + 1, mid = (i / 250) % 250, high = i / (250 * 250) + 1;
        csv += "Branch " + QByteArray::number(i / 50) + ",Recorder " + QByteArray::number(i) + ",127."
            + QByteArray::number(high) + '.' + QByteArray::number(mid) + '.' + QByteArray::number(host)
            + ",18080,admin,pw-" + QByteArray::number(i) + (i % 3 == 2 ? ",DAHUA,dvr,8\n" : ",HIKVISION,nvr,16\n");
    }
    return csv;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_import");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    Modal::setStrict(false);
    const QStringList args = app.arguments();
    const int largest = args.size() > 1 && !args.at(1).startsWith(QLatin1Char('-')) ? args.at(1).toInt() : 100000;
    const bool largeStreams = args.contains(QStringLiteral("--streams"));

    QTemporaryDir dir;
    const struct {
        int rows;
        bool streams;
    } runs[] = {{5000, true}, {largest, largeStreams}};
    for (const auto& run : runs) {
        const int rows = run.rows;
        if (rows <= 0)
            continue;
        SecureFile::remove(QLatin1String(Native::kInventoryFile));
        SecureFile::remove(QLatin1String(Native::kUptimeFile));
        const QString path = dir.filePath(QStringLiteral("devices-%1.csv").arg(rows));
        {
            QFile f(path);
            const QByteArray csv = makeCsv(rows);
            if (!f.open(QIODevice::WriteOnly) || f.write(csv) != csv.size()) {
                out << "could not write " << path << Qt::endl;
                return 1;
            }
        }
        NativeStore store;
        store.waitForWrites();
        NativeController controller(&store,
                                    [](const Native::Device&, NativeController::Kind, int, NativeController::Done) {
                                    }); // no probe leaves the process
        NativeEvents events(&store, &controller);
        NativeWindow window(NativeContext{&store, &controller, run.streams ? &events : nullptr});
        window.resize(1440, 900);
        window.show();
        controller.suspend();
        QCoreApplication::processEvents();

        Modal::reset();
        Modal::chooseFile(path);
        Modal::answer(QMessageBox::Ok);
        bench::StallMeter stall;
        QElapsedTimer t;
        t.start();
        window.importCsv();
        const auto noticed = [] {
            for (const QString& s : Modal::shown())
                if (s.startsWith(QLatin1String("Import devices: ")))
                    return true;
            return false;
        };
        const double ms = bench::waitUntil(noticed, 15 * 60 * 1000);
        const double toNotice = double(t.elapsed());
        // The window shows what was added: the rebuild the import set off.
        bench::waitUntil([&] { return !window.rebuildTimer()->isActive(); }, 60000);
        stall.stop();
        QString notice;
        for (const QString& s : Modal::shown())
            if (s.startsWith(QLatin1String("Import devices: ")))
                notice = s.section(QLatin1Char('\n'), 0, 0);
        out << "import " << rows << " rows" << (run.streams ? " (event streams on)" : " (no event streams)") << ": "
            << (ms < 0 ? "no notice" : "notice") << " after " << toNotice << " ms (" << notice << "), store "
            << store.devices().size() << " devices, worst main-thread stall " << stall.text() << Qt::endl;
        store.flush();
        store.waitForWrites();
    }
    SecureFile::remove(QLatin1String(Native::kInventoryFile));
    SecureFile::remove(QLatin1String(Native::kUptimeFile));
    return 0;
}
