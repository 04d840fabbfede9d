#pragma once

#include "app/ui/SnapshotFile.h"

#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QString>

namespace kvr::view {

// Snapshot files of the server screens: PNG pictures in the user's pictures
// folder, named after the camera and the moment shown.
namespace snapshot {

inline const QString kSaved = kvr::ui::SnapshotFile::kSaved;
inline const QString kNoPicture = kvr::ui::SnapshotFile::kNoPicture;

// The pictures folder followed by "/Kavira" (not created here).
QString folder();
// Letters of any script, digits, ".", "_" and "-" stay, every run of other
// characters becomes one "_", and a leading dot becomes "_" (no hidden file).
QString safeTitle(const QString& title);
// A live picture: the computer's local time as "yyyyMMdd-HHmmss".
QString liveStamp(const QDateTime& localNow);
// A recorded picture: the IST day and the clock of the shown second,
// "yyyyMMdd_HHmmss".
QString playbackStamp(const QDate& day, double second);
// "<safe title>_<stamp>.png", the title cut (at a whole character) so that
// the name fits every file system, the stamp whole.
QString fileName(const QString& title, const QString& stamp);
// The computer's local time now, by the project clock.
QDateTime localNow();

struct Outcome {
    bool saved = false;
    QString path;
    QString said;   // what the person is told: kSaved, or why it failed
    QString detail; // the system's words when it failed, for the log
};
// Creates the folder with its parents and writes the picture as PNG,
// whole or not at all, replacing a file of that name only once the new one
// is whole. A null picture is not written.
Outcome save(const QImage& picture, const QString& title, const QString& stamp);

} // namespace snapshot

} // namespace kvr::view
