#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QScreen;

namespace kvr::wall {

namespace VideoWall {

// Stream quality of a display, as saved.
inline constexpr int kQualityAuto = 0;
inline constexpr int kQualitySub = 1;
inline constexpr int kQualityMain = 2;

// The wall of one display. Holds exactly one cell entry (a camera id, ""
// for an empty cell) per cell of its layout: whoever changes the layout
// resizes the cells (fitCells).
struct ScreenConfig {
    QString key;   // screenKey of the display; never empty in a Config
    QString label; // the display's title when last seen
    bool enabled = true;
    QString layout = QStringLiteral("2x2");
    QList<QString> cells;
    int quality = kQualityAuto;

    // Cells that hold a camera.
    int assignedCount() const;
    bool operator==(const ScreenConfig&) const = default;
};

// Cuts or pads the cells with "" to the cell count of the layout.
void fitCells(ScreenConfig& screen);

// The saved wall of one camera source: every display it knows, connected
// now or not, each key at most once.
struct Config {
    QList<ScreenConfig> screens;

    ScreenConfig* find(const QString& key);
    const ScreenConfig* find(const QString& key) const;
    // The entry with that key, its label refreshed; appended with the
    // defaults (enabled, "2x2", four empty cells, Auto) when missing. Points
    // into the list: valid until the list next changes.
    ScreenConfig* ensure(const QString& key, const QString& label);
    // ensure() for a connected display, by its screenKey and screenTitle.
    ScreenConfig* forScreen(QScreen* screen);

    bool operator==(const Config&) const = default;
};

// The saved form: compact JSON {"version":1,"screens":[...]}.
QByteArray toJson(const Config& config);
// Reads the saved form; anything unreadable degrades to defaults member by
// member, an entry without a key is dropped, and of entries with the same key
// only the first is kept.
Config fromJson(const QByteArray& json);

// The saved wall of a camera source, under "videowall/<id with / as _>".
Config load(const QString& sourceId);
void save(const QString& sourceId, const Config& config);

} // namespace VideoWall

} // namespace kvr::wall
