#include "app/core/Settings.h"

#include "app/core/Env.h"
#include "app/core/Logging.h"
#include "app/core/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>

#include <optional>

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

// Choices the file could not keep (a value, or none for a removed key), by
// key: read before the store, and written again with every later change,
// until the file takes them. The store itself may have dropped them: a file
// put back after a write that was not whole is read again at the next
// write.
QMap<QString, std::optional<QVariant>>& unkept()
{
    static QMap<QString, std::optional<QVariant>> held;
    return held;
}

// Writes every change still held and `name`'s (none: nothing new) through
// at once, and says whether the file took them.
bool keep(const QString& name, const std::optional<QVariant>& value, bool changes = true)
{
    QSettings& settings = NativeMode::prefs();
    QMap<QString, std::optional<QVariant>>& held = unkept();
    if (changes)
        held.insert(name, value);
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        if (it.value())
            settings.setValue(it.key(), *it.value());
        else
            settings.remove(it.key());
    }
    const bool kept = SettingsFile::sync(settings);
    if (kept)
        held.clear();
    if (!kept && g_lastKept)
        qCWarning(lcCore).noquote() << "[settings] could not write" << settings.fileName() << "("
                                    << WholeFile::reason(SettingsFile::lastProblem())
                                    << "); choices hold until the program ends";
    g_lastKept = kept;
    return kept;
}

} // namespace

QSettings& NativeMode::prefs()
{
    // Main thread only.
    static SettingsFile::Store settings(QStringLiteral("Kavira"), settingsAppName());
    static const bool prepared = [] {
        ownerOnly(settings.fileName());
        // Choices the file could not keep are tried once more at the end.
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
                if (unkept().isEmpty())
                    return;
                if (!keep(QString(), std::nullopt, false))
                    qCWarning(lcCore).noquote() << "[settings] at the end: the choices not yet kept are lost";
            });
        return true;
    }();
    Q_UNUSED(prepared);
    return settings;
}

namespace Prefs {

namespace {

QVariant read(const QString& name)
{
    const auto& held = unkept();
    if (const auto it = held.constFind(name); it != held.cend())
        return it.value().value_or(QVariant());
    return NativeMode::prefs().value(name);
}

QVariant read(const char* name)
{
    return read(QLatin1String(name));
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
    return read(name).toString();
}

QByteArray bytes(const QString& name)
{
    const QVariant v = read(name);
    if (!v.isValid())
        return {};
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return v.toString().toUtf8();
}

bool set(const Key<bool>& key, bool value)
{
    return keep(QLatin1String(key.name), QVariant(value));
}

bool set(const Key<int>& key, int value)
{
    return keep(QLatin1String(key.name), QVariant(value));
}

bool set(const TextKey& key, const QString& value)
{
    return keep(QLatin1String(key.name), QVariant(value));
}

bool set(const ListKey& key, const QStringList& value)
{
    return keep(QLatin1String(key.name), QVariant(value));
}

bool setText(const QString& name, const QString& value)
{
    return keep(name, QVariant(value));
}

bool setBytes(const QString& name, const QByteArray& value)
{
    return keep(name, QVariant(value));
}

bool contains(const char* name)
{
    const auto& held = unkept();
    if (const auto it = held.constFind(QLatin1String(name)); it != held.cend())
        return it.value().has_value();
    return NativeMode::prefs().contains(QLatin1String(name));
}

bool remove(const char* name)
{
    return keep(QLatin1String(name), std::nullopt);
}

bool lastKept()
{
    return g_lastKept;
}

QString notKeptText()
{
    return QStringLiteral("This choice could not be saved in the settings file %1 (%2). It holds until the app is "
                          "closed.")
        .arg(QDir::toNativeSeparators(NativeMode::prefs().fileName()), WholeFile::reason(SettingsFile::lastProblem()));
}

} // namespace Prefs

} // namespace kvr::core
