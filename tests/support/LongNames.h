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
};

// A site's 36 cameras on two recorders named alike for their first 30
// letters: reception desks of twelve floors that differ in the floor alone,
// lift lobbies of five of those floors, the lift lobby cameras of one
// recorder numbered as the other's (six of them share their names), and a
// car park's rows.
QList<Camera> estate();

// Titles as the walls show them: "recorder · camera".
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
