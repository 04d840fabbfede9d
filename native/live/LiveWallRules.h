#pragma once

// The rules of the native live wall, apart from its widgets: camera keys, the
// layout table, stream quality, frame-rate caps and hardware decoding by the
// number of cameras shown, the wall's order and its 256-camera limit, pages,
// the camera tree's rows and filter, and the toolbar's texts. Plain values in,
// plain values out.

#include "native/services/NativeRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace kvr::live {

namespace LiveWallRules {

// ---- Camera keys ("<device id>#<channel>") ----
QString tileKey(const QString& deviceId, int channel);

struct TileKey {
    QString deviceId; // the text before the "#" at position 1 or later, also when the channel is bad
    int channel = 0;
    bool valid = false; // a "#" at position 1 or later and a channel of 1 or more
};
// Splits at the last "#". A channel that is not a decimal integer, does not
// fit an int or is below 1 makes the key invalid.
TileKey parseTileKey(const QString& key);

// ---- Layouts ----
// The eight layout choices; 0 is Auto.
inline constexpr int kLayoutCount = 8;
QStringList layoutLabels();
int clampLayout(int layout);   // stored values: 0..7
int clampQuality(int quality); // stored values: 0 Auto, 1 Sub, 2 Main
enum Quality : int { Auto = 0, Sub = 1, Main = 2 };

// Cameras per page: the table for 1..7, Auto otherwise (16 live, 4 playback).
int perPage(int layout, bool playback);
// Columns for n cameras on a page: the table for 1..7, max(1, ceil(sqrt(n)))
// for Auto.
int columnsFor(int layout, int n);
// max(1, ceil(n / columns)).
int rowsFor(int n, int columns);
// The rows the grid shares its height between: a layout of the table keeps
// all of its rows however few cameras fill them (four cameras on "4×4" take
// the top row at a quarter of the height, not the whole of it); Auto fits
// its rows to the cameras.
int gridRowsFor(int layout, int n, int columns);

// ---- Load limits ----
// Live stream of a page of n cameras: Main while focused; Sub for quality 1,
// Main for 2, and for Auto Main only below 5 cameras.
bool tileUsesMain(int n, int quality, bool focused);
// Playback: Main unless quality is Sub (or always when focused).
bool tileUsesMainPlayback(int quality, bool focused);
// Frame-rate cap for n cameras shown: 0 (none) below 5, 15 for 5..9, 10 from 10.
double fpsCapFor(int n);
// Hardware decoding (as far as the setting allows) for at most 6 tiles.
bool hardwareDecodeFor(int n);

// ---- Pages ----
// ceil(size / perPage); 0 for an empty wall.
int pageCount(int wallSize, int perPage);
// A page below 0 becomes 0; otherwise at most the last page (max 1 page).
int clampPage(int page, int wallSize, int perPage);
// The keys of one page.
QStringList pageSlice(const QStringList& wall, int page, int perPage);

// ---- The wall's order ----
struct WallMerge {
    QStringList wall;
    bool over = false; // more than 256 keys were ticked; the rest dropped
};
// Keys of `wall` still ticked, in wall order, then the ticked keys not yet on
// it, in tree order; at most 256.
WallMerge mergeTicked(const QStringList& wall, const QStringList& tickedInTreeOrder);

// "Add all online": the wall followed by every online camera (known and up,
// not ignored) of every enabled device, in inventory order, not yet on it,
// while the list holds fewer than 256 keys.
QStringList addAllOnline(const QStringList& wall, const QList<services::Native::Device>& devices);

// The wall as the page keeps it when it shows (`strict`: also without disabled
// devices, channels above the device's count and ignored channels) or after
// an inventory change (only keys that parse and whose device exists).
using DeviceLookup = std::function<const services::Native::Device*(const QString& id)>;
QStringList reduceWall(const QStringList& wall, const DeviceLookup& lookup, bool strict);

// ---- Titles of the tiles ----
// The names a tile shows: its camera's label, or "Camera <channel>" where the
// device or the camera record is missing; its device's label, or nothing
// where the device is missing.
struct TileNames {
    QString camera;
    QString device;
};
TileNames tileNames(const services::Native::Device* device, int channel);
// "<device> · <camera>", each isolated for its direction: the title a tile is
// told apart by where its camera's name alone does not tell it.
QString tileTitle(const TileNames& names);
// The titles of the wall's cameras, in wall order (keys that do not parse
// left out): given to the tiles of a wall that has pages, so that a page
// whose camera names recur on other pages names their recorders.
QStringList wallTitles(const QStringList& wall, const DeviceLookup& lookup);

// ---- The camera tree ----
struct TreeCamera {
    QString key;
    QString text; // "<channel>  <name>", or "<channel>  Camera <channel>"
    bool ticked = false;
    bool offline = false; // known and down: drawn red with a tool tip
};
struct TreeDevice {
    QString name;
    QString toolTip; // "<address>:<http port>"
    QList<TreeCamera> cameras;
};
struct TreeSite {
    QString name;
    bool named = true; // false for the "No site" group
    QList<TreeDevice> devices;
};
// Sites in inventory order, each with its enabled devices that list at least
// one camera; then "No site" with the enabled devices whose site id is empty,
// when some enabled device's site has no name. Empty groups are left out.
QList<TreeSite> buildTree(const QList<services::Native::Site>& sites, const QList<services::Native::Device>& devices,
                          const QStringList& wall);

// The tree filter: which items of one device show for the trimmed filter text.
struct DeviceFilter {
    bool deviceShown = false;
    QList<bool> camerasShown;
};
DeviceFilter filterDevice(const QString& filter, const QString& siteText, const QString& deviceText,
                          const QStringList& cameraTexts);

// ---- Toolbar texts ----
QString wallHint(int wallSize);
QString titleText(bool focused, bool playback, int wallSize);
QString capNotice(); // "The wall holds up to 256 cameras"
QString nothingOnlineNotice();
QString emptyText(bool haveDevices);
QString emptyAction(bool haveDevices);

} // namespace LiveWallRules

} // namespace kvr::live
