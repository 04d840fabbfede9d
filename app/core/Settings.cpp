#include "app/core/Settings.h"

#include "app/core/Env.h"

#include <QSettings>

namespace kvr::core {

QString settingsAppName()
{
    static const QString name = envOr("KVR_SETTINGS_APP", QStringLiteral("Tavlo"));
    return name;
}

// Main thread only: the store is read and written by the screens and the
// native services, never by the decode threads.
QSettings& NativeMode::prefs()
{
    // Main thread only.
    static QSettings settings(QStringLiteral("Kavira"), settingsAppName());
    return settings;
}

namespace Prefs {

namespace {

QVariant read(const char* name)
{
    return NativeMode::prefs().value(QLatin1String(name));
}

} // namespace

QString videoWallKey(const QString& sourceId)
{
    QString id = sourceId;
    id.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("videowall/") + id;
}

bool get(const Key<bool>& key)
{
    const QVariant v = read(key.name);
    // QSettings hands back "true"/"false" texts from its files; anything else
    // that does not read as a flag is the default.
    if (!v.isValid())
        return key.fallback;
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    return key.fallback;
}

int get(const Key<int>& key)
{
    bool ok = false;
    const int n = read(key.name).toInt(&ok);
    return ok ? n : key.fallback;
}

QString get(const TextKey& key)
{
    const QVariant v = read(key.name);
    return v.isValid() ? v.toString() : QString::fromUtf8(key.fallback);
}

QStringList get(const ListKey& key)
{
    return read(key.name).toStringList();
}

QString text(const QString& name)
{
    return NativeMode::prefs().value(name).toString();
}

QByteArray bytes(const QString& name)
{
    const QVariant v = NativeMode::prefs().value(name);
    if (!v.isValid())
        return {};
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return v.toString().toUtf8();
}

void set(const Key<bool>& key, bool value)
{
    NativeMode::prefs().setValue(QLatin1String(key.name), value);
}

void set(const Key<int>& key, int value)
{
    NativeMode::prefs().setValue(QLatin1String(key.name), value);
}

void set(const TextKey& key, const QString& value)
{
    NativeMode::prefs().setValue(QLatin1String(key.name), value);
}

void set(const ListKey& key, const QStringList& value)
{
    NativeMode::prefs().setValue(QLatin1String(key.name), value);
}

void setText(const QString& name, const QString& value)
{
    NativeMode::prefs().setValue(name, value);
}

void setBytes(const QString& name, const QByteArray& value)
{
    NativeMode::prefs().setValue(name, value);
}

bool contains(const char* name)
{
    return NativeMode::prefs().contains(QLatin1String(name));
}

void remove(const char* name)
{
    NativeMode::prefs().remove(QLatin1String(name));
}

} // namespace Prefs

} // namespace kvr::core
