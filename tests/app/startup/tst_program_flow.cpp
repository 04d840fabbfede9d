// The three windows of the program together, as a person uses them, against
// the fake organisation server and a real RTSP camera: a remembered sign-in
// lands in the main window, the catalogue loads, a camera plays live on the
// stage, and signing out stops its stream on the server and shows the
// sign-in form again.
#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "app/ui/TimelineBar.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/view/StagePages.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/shell/ShellTestSupport.h"
#include "tests/video/Peers.h"
#include "video/VideoStage.h"
#include "wall/SetupDialog.h"

#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <cmath>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::wall;
using namespace kvr::context;
using namespace kvr::view;
using namespace kvr::shell;
using namespace kvr::app;

class TestProgramFlow : public QObject {
    Q_OBJECT

    peers::Peer rtsp;

private Q_SLOTS:
    void initTestCase()
    {
        Theme::loadFonts();
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        if (BrandRegistry::instance().count() == 0)
            BrandRegistry::instance().add(std::make_unique<ImouProvider>());
        QVERIFY(peers::startRtsp(rtsp, {"--size", "640x360", "--no-audio"}));
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(rtsp.port));
        Modal::setStrict(true);
    }

    void rememberedSignInToLiveVideoAndSignOut()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        server.populateDemo();
        server.streamIdOverride = QStringLiteral("live");
        server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
        server.seedRefreshToken(QStringLiteral("remembered"), QStringLiteral("demo"));
        QVERIFY(SessionStore::save(
            {QStringLiteral("demo"), QStringLiteral("remembered"), QDateTime::currentDateTimeUtc()}));
        AppContext::instance().api.setBaseUrl(server.baseUrl());

        TopLevelWindows w;
        w.connectSwitches();
        w.showInitial();
        QTRY_VERIFY_WITH_TIMEOUT(w.shell.isVisible(), 10000);
        QVERIFY(!w.login.isVisible() && w.shell.catalogLoads() == 1);

        CatalogPane* pane = w.shell.catalogue();
        QTRY_VERIFY_WITH_TIMEOUT(pane->model()->indexOf(0, 0, 0).isValid() && !pane->rebuildPending(), 10000);

        // The video wall button opens the wall's set-up over this server's cameras.
        QTest::mouseClick(w.shell.videoWallButton(), Qt::LeftButton);
        VideoWall::SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = w.shell.findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
        const auto* tree = setup->findChild<VideoWall::CameraTree*>();
        QVERIFY(tree && !tree->findItems(QStringLiteral("Camera 1"), Qt::MatchRecursive).isEmpty());
        setup->reject();
        const QModelIndex camera = pane->model()->indexOf(0, 0, 0);
        QTest::mouseClick(pane->tree()->viewport(), Qt::LeftButton, {}, pane->tree()->visualRect(camera).center());
        auto* stage = w.shell.findChild<StagePages*>();
        QTRY_VERIFY_WITH_TIMEOUT(stage && stage->isVisible(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(stage->videoStage()->hasPicture(), 30000);
        QCOMPARE(server.countOf(QStringLiteral("/v2/api/start/live/stream/")), 1);

        // Device playback of the same camera, then its cloud archive: a
        // finished playlist the ffmpeg tool wrote, served by the fake server.
        DevicePage* page = w.shell.devicePage();
        QTest::mouseClick(page->playbackButton(), Qt::LeftButton);
        QTRY_COMPARE(stage->mode(), StagePages::DevicePlayback);
        // Yesterday's: the recorders hold nothing past the server's now, which
        // may be before today's 08:00.
        const QDate yesterday = QDate::currentDate().addDays(-1);
        Q_EMIT stage->playDevice(QDateTime(yesterday, QTime(8, 0)), QDateTime(yesterday, QTime(9, 0)));
        QTRY_COMPARE(server.countOf(QStringLiteral("/v2/api/start/playback/stream/")), 1);
        QTRY_VERIFY_WITH_TIMEOUT(stage->videoStage()->hasPicture(), 30000);

        QTemporaryDir archive;
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     peers::testPictureArgs(8)
                         + QStringList{"-f", "hls", "-hls_time", "2", "-hls_list_size", "0", "-hls_playlist_type",
                                       "vod", "-hls_segment_filename", archive.filePath("seg%03d.ts"),
                                       archive.filePath("index.m3u8")});
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
        server.hlsDir = archive.path();
        QTest::mouseClick(page->cloudButton(), Qt::LeftButton);
        // The latest archived day starts by itself, asked for once. Its
        // playlist names the segments relative to the server, as real ones
        // do, by the times of their first pictures; they are fetched from
        // there with the token, in ranges.
        QTRY_COMPARE(stage->mode(), StagePages::CloudPlayback);
        QTRY_COMPARE(server.countOf(QStringLiteral("/v2/api/cloud/playback/")), 1);
        const QString segment = QStringLiteral("/cloud/segments/%1_00-00-00.ts")
                                    .arg(QDateTime::currentDateTimeUtc().addSecs(19800).date().toString(Qt::ISODate));
        QTRY_VERIFY_WITH_TIMEOUT(server.countOf(segment) >= 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(stage->videoStage()->hasPicture(), 30000);
        QVERIFY2(stage->videoStage()->headlineText().isEmpty(), qPrintable(stage->videoStage()->headlineText()));
        // The timeline places the footage: the recording's 8 s at every
        // quarter hour recorded so far (the last one perhaps still under
        // way), the first at midnight.
        const auto footage = stage->timeline()->coverage();
        QVERIFY(stage->timeline()->coverageKnown() && !footage.isEmpty());
        QCOMPARE(footage.first().first, 0.0);
        for (qsizetype i = 0; i < footage.size(); ++i) {
            const auto [from, to] = footage.at(i);
            QVERIFY2(std::fmod(from, 900.0) == 0.0 && (to - from == 8.0 || i == footage.size() - 1),
                     qPrintable(TimelineBar::clock(from)));
        }
        const orgserver::Request fetched = server.requestsTo(segment).first();
        QVERIFY(fetched.header("authorization") == "Bearer " + AppContext::instance().api.accessToken().toUtf8());
        QVERIFY(fetched.header("range").startsWith("bytes="));

        // Sign out while playing: asked, then everything stops.
        Modal::respond([](QDialog& d) {
            shelltest::buttonNamed(&d, QStringLiteral("Sign out"))->click();
            return 0;
        });
        QTest::mouseClick(w.shell.signOutButton(), Qt::LeftButton);
        QTRY_VERIFY(w.login.isVisible());
        QVERIFY(!w.shell.isVisible());
        QCOMPARE(w.login.currentPage(), LoginWindow::FormPage);
        QVERIFY(!w.login.restoring());
        QVERIFY(!SessionStore::load());
        // Every stream given back, the recording's too.
        QTRY_VERIFY(server.streams.isEmpty());
        QCOMPARE(w.login.restoreAttempts(), 1);
        // Every request of the whole flow carried the credentials its kind asks for, and no other.
        QCOMPARE(shelltest::headerViolations(server.requests()), QStringList());
    }
};

KVR_TEST_MAIN(TestProgramFlow)

#include "tst_program_flow.moc"
