// The server main window's catalogue tree filling with 500 sites, 5,000
// devices and 40,000 channels from the fake organisation server (a separate
// process on loopback): time from the first answer (the site list) until the
// first site shows its devices, until the whole tree shows, the longest stall
// of the main thread while it fills, and the stall of search keystrokes.
#include "app/context/AppContext.h"
#include "app/ui/Theme.h"
#include "bench/support/BenchKit.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/ShellWindow.h"
#include "tests/support/TestKit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::shell;

namespace {

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// Whether a top-level row of the tree is a site with its devices.
bool anySiteShown(CatalogModel* m)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (CatalogModel::kindAt(m->index(r, 0)) == CatalogModel::Kind::Site)
            return true;
    return false;
}

bool nothingLoading(CatalogModel* m)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (CatalogModel::kindAt(m->index(r, 0)) != CatalogModel::Kind::Site)
            return false;
    return m->rowCount() > 0;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_catalog_tree");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    Theme::loadFonts();

    const QString serverPath = QStringLiteral(KVR_FAKE_SERVER_PROGRAM);
    const quint16 port = freePort();
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVR_FAKE_PORT", QString::number(port));
    env.insert("KVR_FAKE_POPULATE", "500x10x8");
    server.setProcessEnvironment(env);
    server.start(serverPath, {});
    if (!server.waitForStarted(5000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(serverPath));
        return 1;
    }

    AppContext& ctx = AppContext::instance();
    ctx.api.setBaseUrl(QString("http://127.0.0.1:%1").arg(port));
    bool signedIn = false;
    ctx.api.login("demo", "demo", false, [&](const LoginStart& r) {
        ctx.api.setAccessToken(r.accessToken);
        ctx.user = r.user;
        signedIn = r.step == LoginStart::SignedIn;
        app.quit();
    });
    app.exec();
    if (!signedIn) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }

    ShellWindow window;
    window.resize(1440, 900);
    window.show();
    CatalogPane* pane = window.catalogue();
    CatalogModel* model = pane->model();

    // The main thread's longest gap between turns of its event loop, and its
    // own longest work in one turn.
    bench::StallMeter stall;
    stall.stop();

    QElapsedTimer clock;
    qint64 firstAnswer = -1, firstSite = -1, allShown = -1;
    int resets = 0, rowChanges = 0;
    qint64 longestReset = 0;
    QElapsedTimer resetTime;
    auto siteShown = [&] {
        if (firstSite < 0 && anySiteShown(model))
            firstSite = clock.elapsed();
    };
    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, [&] { resetTime.start(); });
    QObject::connect(model, &QAbstractItemModel::modelReset, [&] {
        longestReset = std::max(longestReset, resetTime.elapsed());
        ++resets;
        if (firstAnswer < 0 && model->rowCount() > 1)
            firstAnswer = clock.elapsed(); // the site list arrived
        siteShown();
    });
    // Completed sites change their own rows in place.
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] {
        ++rowChanges;
        siteShown();
    });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, [&] { ++rowChanges; });
    // The whole tree counts as shown once it has been painted.
    QTimer done;
    done.setInterval(5);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (allShown < 0 && nothingLoading(model) && pane->loadingLabel()->text().isEmpty()
            && !pane->rebuildPending()) {
            pane->tree()->viewport()->repaint();
            allShown = clock.elapsed();
            app.quit();
        }
    });

    clock.start();
    stall.start();
    done.start();
    window.loadCatalog();
    QTimer::singleShot(120000, &app, &QApplication::quit);
    app.exec();
    stall.stop();
    const int fillResets = resets;
    const qint64 fillLongestReset = longestReset;

    // Search keystrokes: each one filters the tree at once.
    struct Key {
        const char* text;
        qint64 ms = 0;
        double cpuMs = 0; // of the main thread
        int rows = 0;
    };
    Key keys[] = {{"C"}, {"Ca"}, {"Camera 7"}, {"Recorder 250-"}, {"Site 49"}, {"zzz"}, {""}};
    qint64 longestKey = 0;
    for (Key& k : keys) {
        QElapsedTimer t;
        t.start();
        const double cpu = bench::threadCpuMs();
        pane->searchField()->setText(QString::fromLatin1(k.text));
        pane->tree()->viewport()->repaint();
        k.ms = t.elapsed();
        k.cpuMs = bench::threadCpuMs() - cpu;
        k.rows = model->shownRowCount();
        longestKey = std::max(longestKey, k.ms);
    }

    server.kill();
    server.waitForFinished(3000);

    std::printf("catalogue tree: 500 sites, 5000 devices, 40000 channels (%d rows in the tree)\n",
                model->shownRowCount());
    std::printf("  site list shown after          %6lld ms (from loadCatalog)\n", firstAnswer);
    std::printf("  first site with devices after  %6lld ms from the first answer (target 300)\n",
                firstSite >= 0 && firstAnswer >= 0 ? firstSite - firstAnswer : -1);
    std::printf("  whole tree shown after         %6lld ms from the first answer\n",
                allShown >= 0 && firstAnswer >= 0 ? allShown - firstAnswer : -1);
    std::printf("  model resets while filling     %6d, longest %lld ms\n", fillResets, fillLongestReset);
    std::printf("  row inserts/removals           %6d\n", rowChanges);
    std::printf("  longest main-thread stall      %6.0f ms while filling (target 50)\n", stall.longestMs());
    std::printf("  its own work a turn, at most   %6.0f ms (processor time of the main thread)\n",
                stall.longestWorkMs());
    for (const Key& k : keys)
        std::printf("  search \"%s\": %lld ms (own work %.0f ms), %d rows\n", k.text, k.ms, k.cpuMs, k.rows);
    std::printf("  longest search keystroke       %6lld ms (target 50)\n", longestKey);
    return allShown >= 0 ? 0 : 1;
}
