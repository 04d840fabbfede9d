#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

namespace kvr::core {

// The settings store's application name: KVR_SETTINGS_APP when set and not
// empty, else "Tavlo". Worked out once and kept for the life of the process.
QString settingsAppName();

namespace NativeMode {
// The process-wide settings store (organisation "Kavira", application
// settingsAppName()), created on first use. There is no other QSettings over
// the store: everything reads and writes through this one, with the typed
// keys below. Its file, like the program's other files, is readable by its
// owner only: it may hold a server's address and a user's name.
QSettings& prefs();
} // namespace NativeMode

// Every key of the settings store, with its type and its default, in one
// place. Read and write them with Prefs::get / Prefs::set; a key that is
// absent, or holds something that does not read as its type, gives the
// default.
namespace Prefs {

template <typename T> struct Key {
    const char* name;
    T fallback;
};
struct TextKey {
    const char* name;
    const char* fallback;
};
struct ListKey {
    const char* name;
};

// Application core.
inline constexpr Key<bool> kNativeMode{"nativeMode", false}; // which window shows at start
inline constexpr TextKey kServerBase{"serverBase", ""};      // absent: the built-in server
inline constexpr TextKey kRelayAddress{"relayAddress", ""};  // "host[:port]"; absent: none configured
inline constexpr TextKey kSpaSecret{"spaSecret", ""};        // absent: KVR_SPA_SECRET or the built-in one
inline constexpr TextKey kRenderMode{"renderMode", "auto"};  // "auto", "gpu" or "cpu"

// Server screens.
inline constexpr Key<bool> kLiveMain{"liveMain", true};                  // Main (true) or Sub for live view
inline constexpr Key<int> kGridQuality{"gridQuality", 0};                // 0 Auto, 1 Main, 2 Sub
inline constexpr Key<bool> kGridMain{"gridMain", true};                  // camera wall's Main/Sub choice
inline constexpr Key<bool> kHardwareDecode{"hardwareDecode", true};      // KVR_HWDECODE decides when set
inline constexpr Key<int> kWallAdvanceSeconds{"wallAdvanceSeconds", 30}; // camera wall page interval
inline constexpr Key<int> kCatalogWidth{"catalogWidth", 300};            // catalogue pane width, px
inline constexpr Key<bool> kCatalogCollapsed{"catalogCollapsed", false};
inline constexpr TextKey kRememberUser{"rememberUser", ""}; // the last user name remembered

// Native mode.
inline constexpr Key<bool> kNativePoll{"native/poll", true};           // automatic checks
inline constexpr Key<int> kNativePollMinutes{"native/pollMinutes", 5}; // 1..60
inline constexpr Key<int> kNativeWindowDays{"native/windowDays", 30};
inline constexpr Key<bool> kNativeOverview{"native/vigilo/overview", true}; // problem overview shown
inline constexpr ListKey kNativeTableColumns{"native/vigilo/columns"};      // device table's widths, px
inline constexpr ListKey kNativeVmsWall{"native/vms/wall"};                 // camera keys on the live wall
inline constexpr Key<int> kNativeVmsLayout{"native/vms/layout", 0};
inline constexpr Key<int> kNativeVmsQuality{"native/vms/quality", 0};
inline constexpr Key<int> kNativeVmsTreeWidth{"native/vms/treeWidth", 300}; // camera tree's panel width, px

// The saved video wall of one camera source: "videowall/" + the source's id
// with every "/" of the id turned into "_", so that an id such as
// "server/host/org" stays one key instead of nested groups.
QString videoWallKey(const QString& sourceId);

bool get(const Key<bool>& key);
int get(const Key<int>& key);
QString get(const TextKey& key);
QStringList get(const ListKey& key);
// A text stored under a key made at run time (videoWallKey); empty when absent.
QString text(const QString& name);
// Bytes stored under a key made at run time; a text stored there reads as its
// UTF-8 bytes; empty when absent.
QByteArray bytes(const QString& name);

// Each change is written to the file at once; false when it could not be
// (a read-only file or folder, a full disk): the choice then holds only
// until the program ends, and notKeptText() says so in words.
bool set(const Key<bool>& key, bool value);
bool set(const Key<int>& key, int value);
bool set(const TextKey& key, const QString& value);
bool set(const ListKey& key, const QStringList& value);
bool setText(const QString& name, const QString& value);
bool setBytes(const QString& name, const QByteArray& value);

bool contains(const char* name);
bool remove(const char* name);

// Whether the last change reached the file.
bool lastKept();
// What to tell a person whose choice could not be kept.
QString notKeptText();

} // namespace Prefs

} // namespace kvr::core
