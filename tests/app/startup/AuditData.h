#pragma once

// What the screen audit shows the program: an organisation's catalogue and a
// fleet of native devices as real ones are (recorders of 24 and 32 channels,
// names of sixty characters, cameras down), the screen the run is on, the
// words of libraries that must never reach a screen, and the colour pairs
// of the theme that contrast by less than 4.5:1 on purpose.

#include "tests/support/ScreenAudit.h"

#include <QList>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QTcpServer>

#include <memory>

class QWidget;
namespace kvr::screens {
class NativeWindow;
} // namespace kvr::screens
namespace kvr::api {
struct Site;
} // namespace kvr::api
namespace kvr::view {
class GridPage;
struct WallCamera;
} // namespace kvr::view

namespace orgserver {
class FakeOrgServer;
}
namespace kvrtest {
class FakeDevice;
}

namespace auditdata {

// The screen of this run, from KVR_AUDIT_SCREEN ("1280x720" when unset).
QSize auditScreen();

// FFmpeg's own error texts.
QStringList libraryMessages();

// Text and background colours of the theme that contrast by less than 4.5:1
// and are kept so: muted and disabled looks, chips, the accent under white.
QList<screenaudit::ColourPair> themeColourPairs();

// Three sites of long names; the first holds recorders of 32 and 24 channels
// and one that is down; some cameras are offline, some answer with an error,
// a few answer slowly (their tiles are loading when looked at).
void populateOrganisation(orgserver::FakeOrgServer& server);
QSet<QString> slowCameras(const orgserver::FakeOrgServer& server);

// Camera walls of names alike, each with its tiles to a page and its name:
// a site's three fire exit recorders (16 to a page), two corridor recorders
// whose cameras are named alike (36), a preset of two recorders (36), and
// an estate's long names (36, tests/support/LongNames).
struct AlikeWall {
    QList<kvr::view::WallCamera> cameras;
    int perPage = 16;
    QString name;
};
QList<AlikeWall> alikeWalls();

// The catalogue of a wall of 120 (12 x 10) named alike (tests/support/
// LongNames manyAlike): as the organisation's server lists it, one site of
// its seven recorders; and as native devices in the process's inventory at
// a loopback address where nothing answers, their cameras named. Each gives
// the ids of the wall's 120 cameras, in their order (the server's channel
// ids, the native wall's keys).
QList<kvr::api::Site> manyAlikeSites(QStringList* wall);
QStringList addManyAlikeDevices();

// The tiles of the wall's page have shown what they will show: pictures
// aside, each has failed, is offline, or waits for a slow answer.
bool wallSettled(kvr::view::GridPage* wall, const QSet<QString>& slow);
// One loading tile receives a picture, one failed tile reconnects.
void showPictures(kvr::view::GridPage* wall, const QSet<QString>& slow);

// The native inventory: fifty devices over six sites, the first a recorder
// of 32 channels with a long name and its cameras named alike, recorders
// named alike for their first 40 characters and more, one of 200 characters,
// every one at a loopback address where nothing answers, but for one whose
// RTSP port answers in gibberish; events of the last minutes.
class AuditFleet {
public:
    AuditFleet();
    ~AuditFleet();
    bool build();
    // A round of checks comes in: some devices down a moment ago answer now,
    // so the page rebuilds its summaries.
    void checksArrive();
    // The live wall: 36 cameras, or the first cameras of three recorders
    // named alike and a second of one of them.
    void showAllCameras(kvr::screens::NativeWindow& window);
    void showFourCameras(kvr::screens::NativeWindow& window);
    // The device whose name runs to 200 characters.
    QString reportDevice() const;
    // The recorder of the car park's ramps, whose recordings of today a
    // fake recorder lists.
    QString calendarDevice() const;

    QStringList ids;

private:
    QStringList m_wall;
    QStringList m_four;
    std::unique_ptr<QTcpServer> m_gibberish;
    std::unique_ptr<kvrtest::FakeDevice> m_recorder;
};

} // namespace auditdata
