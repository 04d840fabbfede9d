#pragma once

// Snapshots of both modes as PNG files: the picture is encoded in memory and
// the file written whole or not at all, so that "Saved" only ever stands
// over a whole picture and a failure leaves no empty or broken file behind.
// What a person is told, either way.

#include "app/core/WholeFile.h"

#include <QImage>
#include <QString>

namespace kvr::ui {

namespace SnapshotFile {

inline const QString kSaved = QStringLiteral("Saved to Pictures/Kavira");
inline const QString kNoPicture = QStringLiteral("No picture to save yet");

// Writes the picture as a PNG file at `path` (its folder made when
// missing), replacing a file of that name only once the new one is whole.
kvr::core::WholeFile::Outcome save(const QString& path, const QImage& picture);

// "Could not save the snapshot: the disk is full."
QString failedText(const kvr::core::WholeFile::Outcome& outcome);

} // namespace SnapshotFile

} // namespace kvr::ui
