#pragma once

// Files the user asks the native screens to write (reports, the sample
// import file): written whole to a temporary file beside the target and
// moved over it only when every byte and the commit succeeded, so a failed
// write never leaves a truncated file or destroys the one that was there.

#include "app/core/WholeFile.h"

#include <QByteArray>
#include <QString>

namespace kvr::screens {

namespace NativeFiles {

// On any failure (no folder, no permission, a full disk) the previous file,
// if any, is untouched, and the outcome says why.
kvr::core::WholeFile::Outcome writeReplacing(const QString& path, const QByteArray& bytes);

// The folder the file choosers start in: the user's Documents folder, or the
// home folder where there is none (a fresh account has none; a chooser given
// a folder that does not exist starts in the working folder, wherever that is).
QString proposedFolder();

} // namespace NativeFiles

} // namespace kvr::screens
