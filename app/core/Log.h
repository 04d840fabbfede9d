#pragma once

#include <QString>
#include <QtGlobal>

namespace kvr::core {

// The diagnostic log: every Qt message of the process becomes one stamped
// line on standard error and in kvr.log, rotated to kvr.log.1 past 8 MiB.
namespace Log {

// The folder of the log: ~/Library/Logs/Kavira on macOS, the XDG state
// folder ($XDG_STATE_HOME/Kavira, default ~/.local/state/Kavira) elsewhere.
// Does not create it.
QString directory();

// Prepares the folder and file, installs the message handler and logs the
// start banner. Called once, right after the application object exists.
void install();

// Restores Qt's default handler and closes the file. Lets a test start a
// fresh log; the application never calls it.
void uninstall();

// Size past which the file is rotated before the next line is written.
inline constexpr qint64 kRotateBytes = 8 * 1024 * 1024;
inline constexpr char kBanner[] = "---- Kavira started ----";

} // namespace Log

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace kvr::core
