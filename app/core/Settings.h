#pragma once

#include <QString>

class QSettings;

// The settings store's application name: KVR_SETTINGS_APP when set and not
// empty, else "Tavlo". Worked out once and kept for the life of the process.
QString settingsAppName();

namespace NativeMode {
// The process-wide settings store (organisation "Kavira", application
// settingsAppName()), created on first use.
QSettings& prefs();
} // namespace NativeMode
