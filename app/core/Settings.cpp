#include "app/core/Settings.h"

#include "app/core/Env.h"

#include <QSettings>

QString settingsAppName()
{
    static const QString name = envOr("KVR_SETTINGS_APP", QStringLiteral("Tavlo"));
    return name;
}

QSettings& NativeMode::prefs()
{
    // Main thread only.
    static QSettings settings(QStringLiteral("Kavira"), settingsAppName());
    return settings;
}
