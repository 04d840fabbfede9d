#include "tests/app/startup/AuditData.h"

#include "app/core/Settings.h"
#include "native/live/VmsPage.h"
#include "native/screens/NativeWindow.h"
#include "native/services/AlertStream.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "server/api/ApiTypes.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/LongNames.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QTcpSocket>

extern "C" {
#include <libavutil/error.h>
}

using namespace kvr::core;
using namespace kvr::view;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

namespace auditdata {

QSize auditScreen()
{
    const QString named = qEnvironmentVariable("KVR_AUDIT_SCREEN", QStringLiteral("1280x720"));
    const QStringList sides = named.split(QLatin1Char('x'));
    return sides.size() == 2 ? QSize(sides.at(0).toInt(), sides.at(1).toInt()) : QSize(1280, 720);
}

QStringList libraryMessages()
{
    QStringList out;
    for (int code : {AVERROR_INVALIDDATA,
                     AVERROR_EOF,
                     AVERROR_EXIT,
                     AVERROR_PROTOCOL_NOT_FOUND,
                     AVERROR_STREAM_NOT_FOUND,
                     AVERROR_DEMUXER_NOT_FOUND,
                     AVERROR_DECODER_NOT_FOUND,
                     AVERROR_OPTION_NOT_FOUND,
                     AVERROR_PATCHWELCOME,
                     AVERROR_BUG,
                     AVERROR_UNKNOWN,
                     AVERROR_EXTERNAL,
                     AVERROR_BSF_NOT_FOUND,
                     AVERROR_FILTER_NOT_FOUND,
                     AVERROR_MUXER_NOT_FOUND,
                     AVERROR_ENCODER_NOT_FOUND,
                     AVERROR_HTTP_BAD_REQUEST,
                     AVERROR_HTTP_UNAUTHORIZED,
                     AVERROR_HTTP_FORBIDDEN,
                     AVERROR_HTTP_NOT_FOUND,
                     AVERROR_HTTP_OTHER_4XX,
                     AVERROR_HTTP_SERVER_ERROR,
                     AVERROR_INPUT_CHANGED,
                     AVERROR_OUTPUT_CHANGED,
                     AVERROR_BUFFER_TOO_SMALL}) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        if (av_strerror(code, text, sizeof text) == 0)
            out << QString::fromUtf8(text);
    }
    return out;
}

QList<screenaudit::ColourPair> themeColourPairs()
{
    const auto pair = [](const char* text, const char* background) {
        return screenaudit::ColourPair{QColor(QLatin1String(text)), QColor(QLatin1String(background))};
    };
    return {
        // Server mode and the sign-in window.
        pair("#ffffff", "#3b82f6"), // white on the accent: primary buttons, chosen segments, selected text (3.7:1)
        pair("#495057", "#11161d"), // a health check without a result, in its table (2.2:1)
        pair("#6b7688", "#11161d"), // catalogue rows of devices and cameras known to be offline (4.0:1)
        pair("#3b82f6", "#1c2a3f"), // the number of the display being edited, on the wall's display map (3.9:1)
        // Native mode.
        pair("#6c757d", "#f7f9fc"), // muted text on the page and dialogs (4.45:1)
        pair("#6c757d", "#f8f9fa"), // days of a recording calendar whose recordings are not known (4.45:1)
        pair("#ced4da", "#f7f9fc"), // days after today in a recording calendar, which cannot be chosen (1.4:1)
        pair("#6c757d", "#eef1f5"), // segments and page switches not chosen (4.1:1)
        pair("#6c757d", "#f1f3f5"), // a snapshot's place while it has none (4.2:1)
        pair("#117a8b", "#e4f4f7"), // the "info" chip (4.4:1)
        pair("#dc3545", "#fbe7e9"), // the "fail" chip (3.8:1)
        pair("#dc3545", "#f7f9fc"), // error text and problem counts on the page (4.3:1)
        pair("#28a745", "#e6f5e9"), // the "pass" chip, in labels and painted in the device table (2.8:1)
    };
}

namespace {

// Sixty characters each, as sites and cameras are named in the field.
const QStringList kSiteNames{
    QStringLiteral("Head Office · Andheri East Corporate Park, Tower B, Level 4"),
    QStringLiteral("Bhiwandi Distribution Centre, Warehouse 4 and the Cold Store"),
    QStringLiteral("Pune Retail Flagship Store, Phoenix Marketcity, Viman Nagar"),
};
const QString kLongRecorder = QStringLiteral("Reception and lobby recorder (32 channel), main building, B1");
const QStringList kLongCameras{
    QStringLiteral("Main entrance turnstiles, facing the street from the lobby"),
    QStringLiteral("Loading bay 3, north-east corner, facing the dock door (PTZ)"),
    QStringLiteral("Basement car park, ramp down from Level 1, looking at the gate"),
};

// Names that share their first 40 characters and more.
const QString kCarPark = QStringLiteral("Car park level B1 ramp and bay row %1");
const QString kTowerLobby = QStringLiteral("Tower B second floor lift lobby east, camera %1 of 24");
const QString kFireExitRecorder = QStringLiteral("Warehouse fire exit recorder number %1");

QJsonObject preset(int id, const QString& name, const QList<orgserver::FakeCamera>& cameras)
{
    QJsonArray ids;
    for (const orgserver::FakeCamera& c : cameras)
        ids.append(c.id.toLongLong());
    return {{QStringLiteral("id"), id},
            {QStringLiteral("preset_name"), name},
            {QStringLiteral("updated_at"), QStringLiteral("2026-01-05T10:00:00Z")},
            {QStringLiteral("cameras"), ids}};
}

} // namespace

void populateOrganisation(orgserver::FakeOrgServer& server)
{
    server.populate(3, 3, 8);
    for (int i = 0; i < kSiteNames.size(); ++i)
        server.sites[i].name = kSiteNames.at(i);
    orgserver::FakeSite& head = server.sites[0];
    // A recorder of 32 channels, one of 24, and one that is down.
    const auto grow = [](orgserver::FakeDevice& d, int channels) {
        const qsizetype had = d.cameras.size();
        for (int c = int(had) + 1; c <= channels; ++c) {
            orgserver::FakeCamera cam = d.cameras.first();
            cam.id = QString::number(d.id.toLongLong() * 100 + c);
            cam.name = QStringLiteral("Camera %1").arg(c);
            cam.channel = c;
            d.cameras.append(cam);
        }
    };
    grow(head.devices[0], 32);
    grow(head.devices[1], 24);
    head.devices[0].name = kLongRecorder;
    for (int i = 0; i < kLongCameras.size(); ++i)
        head.devices[0].cameras[i * 5].name = kLongCameras.at(i);
    // Cameras named alike at their start and apart at their end: twelve of a
    // car park's bays, and a tower's 24 lobby cameras.
    for (int c = 0; c < 12; ++c)
        head.devices[0].cameras[11 + c].name = kCarPark.arg(c + 1);
    head.devices[1].name = QStringLiteral("Warehouse gate and yard recorder (24 channel), east block");
    for (int c = 0; c < 24; ++c)
        head.devices[1].cameras[c].name = kTowerLobby.arg(c + 1, 2, 10, QLatin1Char('0'));
    // A site of 72 cameras on three recorders, all at its loading docks.
    for (int d = 0; d < 3; ++d) {
        orgserver::FakeDevice& dock = server.sites[1].devices[d];
        grow(dock, 24);
        dock.name = kFireExitRecorder.arg(d + 1);
        for (int c = 0; c < 24; ++c)
            dock.cameras[c].name =
                QStringLiteral("Gala 12 to 15 loading docks, door %1 camera %2").arg(d + 12).arg(c + 1);
    }
    head.devices[2].online = false;
    for (orgserver::FakeCamera& c : head.devices[2].cameras)
        c.online = false;
    for (int c = 3; c < 32; c += 9)
        head.devices[0].cameras[c].online = false;
    server.sites[1].devices[2].online = false;
    for (orgserver::FakeCamera& c : server.sites[1].devices[2].cameras)
        c.online = false;
    // Recordings on and off.
    for (int c = 0; c < 32; c += 2)
        head.devices[0].cameras[c].recording = false;

    server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
    server.addUser(QStringLiteral("otp"), QStringLiteral("secret"), true);
    server.presets = QJsonArray{
        preset(1, QStringLiteral("Night shift: every entrance, gate and loading bay, all sites"),
               head.devices[0].cameras.mid(0, 24)),
        preset(2, QStringLiteral("Lobby"), head.devices[0].cameras.mid(0, 1)),
        preset(3, QStringLiteral("Perimeter, car parks and the ramps to the basement, Pune store"),
               server.sites[2].devices[0].cameras),
        // Seventy characters each, alike but for their last words.
        preset(4, QStringLiteral("Night shift rounds: every entrance, gate and loading bay, north block"),
               head.devices[1].cameras.mid(0, 9)),
        preset(5, QStringLiteral("Night shift rounds: every entrance, gate and loading bay, south block"),
               head.devices[1].cameras.mid(9, 9)),
    };
    // A few cameras the server cannot start.
    server.scriptHandler(QStringLiteral("/v2/api/start/live/stream/"), [&server](const orgserver::Request& r) {
        const QString id = r.queryValue(QStringLiteral("camera_id"));
        const orgserver::FakeDevice& d = server.sites[0].devices[0];
        for (int c = 6; c < 32; c += 11)
            if (d.cameras.at(c).id == id)
                return orgserver::Answer::json(
                    503,
                    {{QStringLiteral("message"), QStringLiteral("The recorder did not answer the server in time.")}});
        return server.modelAnswer(r);
    });
}

QList<AlikeWall> alikeWalls()
{
    orgserver::FakeOrgServer server;
    populateOrganisation(server);
    const auto titled = [](const orgserver::FakeDevice& d, const orgserver::FakeCamera& c) {
        return WallCamera{c.id, d.name + QStringLiteral(" · ") + c.name, QString(), !c.online};
    };
    AlikeWall site{{}, 16, QStringLiteral("alike-wall-site")};
    for (const orgserver::FakeDevice& d : server.sites[1].devices)
        for (const orgserver::FakeCamera& c : d.cameras)
            site.cameras << titled(d, c);
    AlikeWall corridors{{}, 36, QStringLiteral("alike-wall-corridors")};
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 18; ++c)
            corridors.cameras << WallCamera{QString::number(900000 + r * 100 + c),
                                            QStringLiteral("Tower B corridor recorder number %1 · Corridor camera %2 "
                                                           "view of the lift lobby and the meeting rooms")
                                                .arg(r)
                                                .arg(c, 2, 10, QLatin1Char('0')),
                                            QString(), false};
    AlikeWall preset{{}, 36, QStringLiteral("alike-wall-preset")};
    const orgserver::FakeSite& head = server.sites[0];
    for (const orgserver::FakeCamera& c : head.devices[0].cameras)
        preset.cameras << titled(head.devices[0], c);
    for (qsizetype c = 0; c < 4; ++c)
        preset.cameras << titled(head.devices[1], head.devices[1].cameras.at(c));
    // A site's wall of an estate's long names, alike at their start.
    AlikeWall estate{{}, 36, QStringLiteral("alike-wall-estate")};
    const QList<longnames::Camera> cameras = longnames::estate();
    const QStringList titles = longnames::titles(cameras);
    for (qsizetype i = 0; i < cameras.size(); ++i)
        estate.cameras << WallCamera{QString::number(800000 + i), titles.at(i), QString(), false};
    return {site, corridors, preset, estate};
}

QList<kvr::api::Site> manyAlikeSites(QStringList* wall)
{
    const QList<longnames::Camera> catalogue = longnames::manyAlike();
    const QList<longnames::Camera> shown = longnames::wallOf120(catalogue);
    kvr::api::Site site;
    site.id = QStringLiteral("site-many");
    site.name = QStringLiteral("Distribution centre");
    for (const longnames::Camera& c : catalogue) {
        if (site.devices.isEmpty() || site.devices.last().name != c.recorder) {
            kvr::api::Device d;
            d.id = QStringLiteral("rec-many-%1").arg(site.devices.size() + 1);
            d.siteId = site.id;
            d.name = c.recorder;
            d.online = d.onlineKnown = true;
            site.devices << d;
        }
        kvr::api::Device& d = site.devices.last();
        kvr::api::Channel ch;
        ch.id = QStringLiteral("%1-ch%2").arg(d.id).arg(d.channels.size() + 1);
        ch.deviceId = d.id;
        ch.name = c.name;
        ch.number = int(d.channels.size()) + 1;
        ch.online = ch.onlineKnown = true;
        d.channels << ch;
        if (shown.contains(c))
            *wall << ch.id;
    }
    return {site};
}

QStringList addManyAlikeDevices()
{
    NativeController::setPollEnabled(false);
    NativeStore& store = NativeStore::instance();
    const QList<longnames::Camera> catalogue = longnames::manyAlike();
    const QList<longnames::Camera> shown = longnames::wallOf120(catalogue);
    const quint16 closed = kvrtest::closedPort();
    QStringList keys;
    for (qsizetype first = 0; first < catalogue.size();) {
        qsizetype end = first;
        while (end < catalogue.size() && catalogue.at(end).recorder == catalogue.at(first).recorder)
            ++end;
        Native::Device d;
        d.name = catalogue.at(first).recorder;
        d.ip = QStringLiteral("127.0.0.1");
        d.httpPort = d.rtspPort = closed;
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("s3cret");
        d.manufacturer = QStringLiteral("DAHUA");
        d.type = QStringLiteral("nvr");
        d.channels = int(end - first);
        const QString id = store.addDevice(d);
        store.applyProbe(id, nativetest::checkedRecorder(true, 20, false, d.channels, [](int) { return true; }));
        QList<Native::Camera> cams = store.device(id)->cameras;
        for (qsizetype c = 0; c < cams.size(); ++c) {
            cams[c].name = catalogue.at(first + c).name;
            if (shown.contains(catalogue.at(first + c)))
                keys << QStringLiteral("%1#%2").arg(id).arg(c + 1);
        }
        store.saveCameras(id, cams);
        first = end;
    }
    return keys;
}

QSet<QString> slowCameras(const orgserver::FakeOrgServer& server)
{
    QSet<QString> out;
    const orgserver::FakeDevice& d = server.sites[0].devices[0];
    // Late on the page, so that they hold the start queue last.
    for (int c : {22, 24})
        out.insert(d.cameras.at(c).id);
    return out;
}

bool wallSettled(GridPage* wall, const QSet<QString>& slow)
{
    const QList<CameraTile*> tiles = wall->findChildren<CameraTile*>();
    if (tiles.isEmpty())
        return false;
    for (CameraTile* t : tiles) {
        if (!t->isVisible())
            continue;
        // A slow one has asked the server (it loads), every other has failed.
        if (slow.contains(t->cameraId()) ? !t->isStarted() : !t->isFailed())
            return false;
    }
    return true;
}

namespace {

// A picture as a camera gives one: sky, a wall, a door.
QImage scene(QSize size, int seed)
{
    QImage img(size, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(img.rect(), QColor(70 + seed * 9 % 60, 110, 150));
    p.fillRect(QRect(0, size.height() / 2, size.width(), size.height() / 2), QColor(120, 118, 110));
    p.fillRect(QRect(size.width() / 3, size.height() / 3, size.width() / 6, size.height() / 2), QColor(60, 48, 40));
    return img;
}

} // namespace

void showPictures(GridPage* wall, const QSet<QString>& slow)
{
    // The first tile still loading plays; the others keep loading. A tile
    // that failed is back on its way: it reconnects.
    bool played = false;
    bool reconnected = false;
    for (CameraTile* t : wall->findChildren<CameraTile*>()) {
        if (!t->isVisible() || !t->player())
            continue;
        if (!played && slow.contains(t->cameraId())) {
            Q_EMIT t->player()->frameReady(scene(QSize(640, 360), 1));
            played = true;
        } else if (!reconnected && t->isFailed() && !t->isOffline()) {
            Q_EMIT t->player()->reconnecting(2, 3, QStringLiteral("The stream stopped"));
            reconnected = true;
        }
    }
}

// ---- Native fleet -------------------------------------------------------------------

namespace {

// The fleet's names as they are in the field: a recorder of 32 channels
// with a long name, three fire exit recorders named alike but for their
// number, two docks' recorders alike for their first 40 characters, one
// whose name runs to 200 characters, and plain ones.
QString nativeName(int i)
{
    switch (i) {
    case 0:
        return kLongRecorder;
    case 1:
    case 2:
    case 3:
        return kFireExitRecorder.arg(i);
    case 4:
        return QStringLiteral(
            "Bhiwandi Distribution Centre, Warehouse 4, cold store annexe, ground floor: recorder for "
            "the freezer door, the dispatch ramp, the blast chillers and the compressor room, "
            "installed by the facility team");
    case 5:
        return QStringLiteral("Bhiwandi Distribution Centre, Warehouse 4 north dock recorder");
    case 6:
        return QStringLiteral("Bhiwandi Distribution Centre, Warehouse 4 south dock recorder");
    case 7:
        return QStringLiteral("Car park ramps recorder");
    default:
        return QStringLiteral("Recorder %1").arg(i + 1);
    }
}

} // namespace

AuditFleet::AuditFleet() = default;
AuditFleet::~AuditFleet() = default;

bool AuditFleet::build()
{
    // Checks run only when asked; every device is at a loopback address
    // where nothing listens, so pictures and probes fail as they would on a
    // network where the recorders are off.
    NativeController::setPollEnabled(false);
    // One recorder's RTSP port answers, but not in RTSP.
    m_gibberish = std::make_unique<QTcpServer>();
    if (!m_gibberish->listen(QHostAddress::LocalHost))
        return false;
    QObject::connect(m_gibberish.get(), &QTcpServer::newConnection, m_gibberish.get(), [this] {
        while (QTcpSocket* s = m_gibberish->nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
                s->readAll();
                s->write("\x13\x37 not a stream \x01\x02\r\n\r\n");
                s->disconnectFromHost();
            });
        }
    });
    // One recorder answers, with recordings of today at each quarter hour of
    // the night.
    m_recorder = std::make_unique<kvrtest::FakeDevice>(kvrtest::FakeDevice::Kind::Isapi);
    if (!m_recorder->start())
        return false;
    const QDate today = QDate::currentDate();
    for (int q = 0; q < 24; ++q) {
        const QDateTime from(today, QTime(q / 4, q % 4 * 15));
        m_recorder->clips.append({from, from.addSecs(14 * 60 + 30)});
    }
    m_recorder->password = QStringLiteral("s3cret");
    m_recorder->recorded.insert(today);
    NativeStore& store = NativeStore::instance();
    const quint16 closed = kvrtest::closedPort();
    QStringList siteIds;
    for (const QString& name : kSiteNames
             + QStringList{QStringLiteral("Nashik Cold Storage"), QStringLiteral("Thane Service Centre"),
                           QStringLiteral("Goa Resort · Beach Gate")}) {
        Native::Site s;
        s.name = name;
        s.isp = QStringLiteral("FiberNet Business 200 Mbps");
        siteIds << store.addSite(s);
    }
    const QStringList brands{QStringLiteral("HIKVISION"), QStringLiteral("DAHUA"), QStringLiteral("CPPLUS"),
                             QStringLiteral("UNIVIEW")};
    for (int i = 0; i < 50; ++i) {
        Native::Device d;
        d.name = nativeName(i);
        d.siteId = siteIds.at(i % siteIds.size());
        d.ip = QStringLiteral("127.0.0.1");
        d.httpPort = closed;
        d.rtspPort = i == 1 ? m_gibberish->serverPort() : closed;
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("s3cret");
        d.manufacturer = brands.at(i % brands.size());
        if (i == 7) {
            d.manufacturer = QStringLiteral("HIKVISION");
            d.httpPort = m_recorder->httpPort();
        }
        d.type = i % 6 == 5 ? QStringLiteral("ipcamera") : QStringLiteral("nvr");
        d.channels = i == 0 ? 32 : (i % 6 == 5 ? 1 : 4);
        const QString id = store.addDevice(d);
        if (id.isEmpty())
            return false;
        ids << id;
        if (i % 11 == 3)
            continue; // never checked
        store.applyProbe(
            id, nativetest::checkedRecorder(i % 5 != 2, 12 + i, i % 9 == 4, d.channels, [](int c) { return c != 3; }));
        if (i % 13 == 7)
            store.setEnabled(id, false, QStringLiteral("Moved to the new building; waiting for its network"));
    }
    // The first recorder watches a car park: all 32 of its cameras are named
    // alike but for their last word.
    QList<Native::Camera> cams = store.device(ids.first())->cameras;
    for (qsizetype c = 0; c < cams.size(); ++c)
        cams[c].name = kCarPark.arg(c + 1);
    store.saveCameras(ids.first(), cams);
    QList<Native::Camera> ramps = store.device(calendarDevice())->cameras;
    for (qsizetype c = 0; c < ramps.size(); ++c)
        ramps[c].name = kCarPark.arg(c + 1) + QStringLiteral(", looking down the ramp from the barrier");
    store.saveCameras(calendarDevice(), ramps);
    // Events of the last minutes, from cameras, recorders and sites named alike.
    NativeEvents& events = NativeEvents::instance();
    for (int i = 0; i < 12; ++i) {
        AlertStream::Alert a;
        a.type = i % 3 ? QStringLiteral("VMD") : QStringLiteral("linedetection");
        a.channel = 1 + (i * 5) % 32;
        a.description = QStringLiteral("Motion alarm");
        events.ingest(ids.at(i % 4 == 3 ? 3 : 0), {a});
    }

    // The live wall: 36 cameras, the last four from the recorder that
    // answers in gibberish.
    for (int c = 1; c <= 32; ++c)
        m_wall << QStringLiteral("%1#%2").arg(ids.first()).arg(c);
    for (int c = 1; c <= 4; ++c)
        m_wall << QStringLiteral("%1#%2").arg(ids.at(1)).arg(c);
    // Three recorders' first cameras, each named "Camera 1", and a second of
    // the recorder that answers in gibberish.
    m_four = {QStringLiteral("%1#1").arg(ids.at(1)), QStringLiteral("%1#1").arg(ids.at(2)),
              QStringLiteral("%1#1").arg(ids.at(3)), QStringLiteral("%1#2").arg(ids.at(1))};
    Prefs::set(Prefs::kNativeVmsWall, m_wall);
    Prefs::set(Prefs::kNativeVmsLayout, 5); // 6 x 6
    return true;
}

void AuditFleet::checksArrive()
{
    NativeStore& store = NativeStore::instance();
    for (int i = 2; i < 50; i += 10) {
        Native::ProbeResult r;
        r.health.internet = Native::Passed;
        r.health.device = r.health.httpPort = r.health.rtspPort = Native::Passed;
        r.health.latencyMs = 30;
        r.health.quality = QStringLiteral("Good");
        r.health.hdd = QStringLiteral("OK");
        store.applyProbe(ids.at(i), r);
    }
}

void AuditFleet::showAllCameras(NativeWindow& window)
{
    window.findChild<VmsPage*>()->setWall(m_wall);
}

void AuditFleet::showFourCameras(NativeWindow& window)
{
    window.findChild<VmsPage*>()->setWall(m_four);
}

QString AuditFleet::reportDevice() const
{
    return ids.at(4);
}

QString AuditFleet::calendarDevice() const
{
    return ids.at(7);
}

} // namespace auditdata
