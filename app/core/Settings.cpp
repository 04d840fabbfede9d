#include "app/core/Settings.h"

#include "app/core/Env.h"
#include "app/core/Logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <functional>

namespace kvr::core {

QString settingsAppName()
{
    static const QString name = envOr("KVR_SETTINGS_APP", QStringLiteral("Tavlo"));
    return name;
}

// Main thread only: the store is read and written by the screens and the
// native services, never by the decode threads.
namespace {

// Readable by its owner alone, before anything is written to it: the store
// writes a new file beside the old one and gives it the old one's
// permissions, so a file made owner-only here stays so.
void ownerOnly(const QString& path)
{
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    if (!file.exists()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        file.close();
    }
    if (file.permissions() != mode && !file.setPermissions(mode))
        qCWarning(lcCore).noquote() << "[settings] could not make" << path << "readable by its owner only";
}

bool g_lastKept = true;

} // namespace

QSettings& NativeMode::prefs()
{
    // Main thread only.
    static QSettings settings(QStringLiteral("Kavira"), settingsAppName());
    static const bool narrowed = (ownerOnly(settings.fileName()), true);
    Q_UNUSED(narrowed);
    return settings;
}

namespace Prefs {

namespace {

QVariant read(const char* name)
{
    return NativeMode::prefs().value(QLatin1String(name));
}

// Writes the change through at once and says whether it reached the file.
bool keep(const std::function<void(QSettings&)>& change)
{
    QSettings& settings = NativeMode::prefs();
    // The store keeps the first error it met for good: once it has failed,
    // a write is judged by whether the file was written anew.
    const bool failedBefore = settings.status() != QSettings::NoError;
    const QDateTime before = QFileInfo(settings.fileName()).lastModified();
    change(settings);
    settings.sync();
    const bool kept = failedBefore ? QFileInfo(settings.fileName()).lastModified() != before
                                   : settings.status() == QSettings::NoError;
    if (!kept && g_lastKept)
        qCWarning(lcCore).noquote() << "[settings] could not write" << settings.fileName()
                                    << "; choices hold until the program ends";
    g_lastKept = kept;
    return kept;
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

bool set(const Key<bool>& key, bool value)
{
    return keep([&](QSettings& s) { s.setValue(QLatin1String(key.name), value); });
}

bool set(const Key<int>& key, int value)
{
    return keep([&](QSettings& s) { s.setValue(QLatin1String(key.name), value); });
}

bool set(const TextKey& key, const QString& value)
{
    return keep([&](QSettings& s) { s.setValue(QLatin1String(key.name), value); });
}

bool set(const ListKey& key, const QStringList& value)
{
    return keep([&](QSettings& s) { s.setValue(QLatin1String(key.name), value); });
}

bool setText(const QString& name, const QString& value)
{
    return keep([&](QSettings& s) { s.setValue(name, value); });
}

bool setBytes(const QString& name, const QByteArray& value)
{
    return keep([&](QSettings& s) { s.setValue(name, value); });
}

bool contains(const char* name)
{
    return NativeMode::prefs().contains(QLatin1String(name));
}

bool remove(const char* name)
{
    return keep([&](QSettings& s) { s.remove(QLatin1String(name)); });
}

bool lastKept()
{
    return g_lastKept;
}

QString notKeptText()
{
    return QStringLiteral("This choice could not be saved: the settings file %1 can't be written. It holds until "
                          "the app is closed.")
        .arg(QDir::toNativeSeparators(NativeMode::prefs().fileName()));
}

} // namespace Prefs

} // namespace kvr::core
