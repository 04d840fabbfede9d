#pragma once

#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QString>

namespace kvr::view {

// Snapshot files of the server screens: PNG pictures in the user's pictures
// folder, named after the camera and the moment shown.
namespace snapshot {

inline const QString kSaved = QStringLiteral("Saved to Pictures/Kavira");
inline const QString kFailed = QStringLiteral("Could not save the snapshot");
inline const QString kNoPicture = QStringLiteral("No picture to save yet");

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
};
// Creates the folder with its parents and writes the picture as PNG,
// replacing a file of that name. A null picture is not written.
Outcome save(const QImage& picture, const QString& title, const QString& stamp);

} // namespace snapshot

} // namespace kvr::view
