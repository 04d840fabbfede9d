#pragma once

// A real estate's camera names, long and alike at their start, as walls of
// 36 show them on a laptop, and the checks a person's reading makes of their
// titles: no two alike, and each keeping a word that tells it from every
// other.

#include <QList>
#include <QString>
#include <QStringList>

namespace longnames {

struct Camera {
    QString recorder;
    QString name;
    bool operator==(const Camera&) const = default;
};

// A site's 36 cameras on two recorders named alike for their first 30
// letters: reception desks of twelve floors that differ in the floor alone,
// lift lobbies of five of those floors, the lift lobby cameras of one
// recorder numbered as the other's (six of them share their names), and a
// car park's rows.
QList<Camera> estate();

// A catalogue of many cameras named alike, as a wall of 120 (12 x 10)
// shows them: three recorders whose names differ only at their end, each
// with "Camera 01" to "Camera 50", and recorders of Arabic, Hebrew, French
// and German names whose cameras are named alike at their start.
QList<Camera> manyAlike();
// The 120 cameras of such a wall: the first 30 of each of the three
// recorders (every camera name there three times), then those of the
// other four recorders.
QList<Camera> wallOf120(const QList<Camera>& catalogue);

// Titles as the walls show them: "recorder · camera", each part of
// right-to-left letters isolated as the program isolates it.
QStringList titles(const QList<Camera>& cameras);

// Whether another camera of a different recorder has the same name.
bool sharesItsName(const QList<Camera>& cameras, qsizetype i);

// What a person reading `shown` (the titles as shortened) cannot tell apart
// of `wholes` (the whole titles): two that read alike, or nearly (one
// shortened at its end reading as the start of the other). One line per
// fault.
QStringList alikeFaults(const QStringList& wholes, const QStringList& shown);
// Those, and a title that keeps no whole word, nor run of whole words
// ("camera 12" beside "door 12 camera 1"), that another's whole title lacks.
QStringList apartFaults(const QStringList& wholes, const QStringList& shown);

} // namespace longnames
