#pragma once

#include <QDateTime>
#include <QFileDevice>
#include <QString>

#include <functional>
#include <optional>

namespace kvr::core {

// A remembered server sign-in.
struct SavedSession {
    QString username;
    QString refreshToken;
    QDateTime signedInAt; // UTC
};

// Remembers one server sign-in between starts in session.json, which holds a
// refresh token and is therefore never readable by anyone but its owner.
class SessionStore {
public:
    // Remembers the sign-in and writes the file; true when it was written
    // owner-only.
    static bool save(const SavedSession& session);
    // The remembered sign-in when the file holds one that is valid, less than
    // seven calendar days old and at most 300 s in the future. A file that
    // cannot be opened is left alone; an invalid or stale one is deleted.
    static std::optional<SavedSession> load();
    // Forgets the remembered sign-in and deletes the file.
    static void clear();
    // Replaces the remembered refresh token while a sign-in is in force.
    static void updateToken(const QString& refreshToken);
    static bool active();
    // Why the last write of the file failed, in plain words ("the disk is
    // full"); empty when it succeeded.
    static QString lastWriteProblem();

    // Full path of session.json; creates its folder.
    static QString filePath();
    // Tests: called with the file being written just before the sign-in's
    // bytes go into it (none: nothing is called).
    static void setWriteObserver(std::function<void(const QFileDevice& file)> observer);

    // Acceptance rule, apart from any file: calendar days (UTC) since the
    // sign-in below 7, and the sign-in at most 300 s ahead of now.
    static bool acceptable(const QDateTime& signedInAtUtc, const QDateTime& nowUtc);

    static constexpr int kMaxAgeDays = 7;
    static constexpr int kFutureToleranceSeconds = 300;
};

} // namespace kvr::core
