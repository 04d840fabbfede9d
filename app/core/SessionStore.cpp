#include "app/core/SessionStore.h"

#include "app/core/Clock.h"
#include "app/core/Logging.h"
#include "app/core/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace kvr::core {

namespace {

struct State {
    std::optional<SavedSession> remembered;
    bool active = false;
    std::function<void(const QFileDevice&)> writeObserver;
    WholeFile::Outcome lastWrite;
};

State& state()
{
    static State s; // main thread only
    return s;
}

bool widerThanOwner(const QString& path)
{
    const QFileDevice::Permissions p = QFile::permissions(path);
    return p
        & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
           | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

QByteArray encode(const SavedSession& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("username"), s.username);
    o.insert(QStringLiteral("refresh_token"), s.refreshToken);
    o.insert(QStringLiteral("signed_in_at"), s.signedInAt.toUTC().toString(Qt::ISODate));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The token must never sit in a file others can read, not even for the
// moment between writing and narrowing the permissions: the temporary save
// file is narrowed before any byte goes in, and a file that still ends up
// wider than owner-only is removed. A write that fails (a full disk) leaves
// the sign-in remembered before as it was.
bool writeFile(const SavedSession& s)
{
    const QString path = SessionStore::filePath();
    State& st = state();
    st.lastWrite = WholeFile::write(path, encode(s), WholeFile::Access::OwnerOnly, st.writeObserver);
    if (!st.lastWrite.ok() && QFileInfo::exists(path) && !QFileInfo(path).isDir() && widerThanOwner(path))
        QFile::remove(path);
    return st.lastWrite.ok();
}

} // namespace

QString SessionStore::filePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    return dir + QStringLiteral("/session.json");
}

void SessionStore::setWriteObserver(std::function<void(const QFileDevice& file)> observer)
{
    state().writeObserver = std::move(observer);
}

bool SessionStore::acceptable(const QDateTime& signedInAtUtc, const QDateTime& nowUtc)
{
    const QDateTime at = signedInAtUtc.toUTC();
    const QDateTime now = nowUtc.toUTC();
    // Midnights passed, not 24-hour periods.
    if (at.date().daysTo(now.date()) >= kMaxAgeDays)
        return false;
    return now >= at.addSecs(-kFutureToleranceSeconds);
}

bool SessionStore::save(const SavedSession& session)
{
    State& s = state();
    s.remembered = session;
    s.active = writeFile(session);
    return s.active;
}

std::optional<SavedSession> SessionStore::load()
{
    QFile file(filePath());
    if (QFileInfo(file.fileName()).isDir() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(64 * 1024);
    file.close();

    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    SavedSession saved;
    saved.username = o.value(QStringLiteral("username")).toString();
    saved.refreshToken = o.value(QStringLiteral("refresh_token")).toString();
    saved.signedInAt = QDateTime::fromString(o.value(QStringLiteral("signed_in_at")).toString(), Qt::ISODate);
    const bool valid = !saved.refreshToken.isEmpty() && saved.signedInAt.isValid();
    if (!valid || !acceptable(saved.signedInAt, kvr::core::Clock::instance().nowUtc())) {
        clear();
        return std::nullopt;
    }
    saved.signedInAt = saved.signedInAt.toUTC();
    State& s = state();
    s.remembered = saved;
    s.active = true;
    return saved;
}

void SessionStore::clear()
{
    State& s = state();
    s.remembered.reset();
    s.active = false;
    const QString path = filePath();
    if (!QFileInfo(path).isDir())
        QFile::remove(path);
}

void SessionStore::updateToken(const QString& refreshToken)
{
    State& s = state();
    if (!s.active || !s.remembered || refreshToken.isEmpty() || refreshToken == s.remembered->refreshToken)
        return;
    s.remembered->refreshToken = refreshToken;
    if (!writeFile(*s.remembered))
        qCWarning(lcCore).noquote() << "[session] could not remember the renewed sign-in in" << filePath() << "("
                                    << WholeFile::reason(s.lastWrite)
                                    << "); the sign-in remembered before stays in its place";
}

QString SessionStore::lastWriteProblem()
{
    return WholeFile::reason(state().lastWrite);
}

bool SessionStore::active()
{
    return state().active;
}

} // namespace kvr::core
