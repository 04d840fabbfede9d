#include "app/core/SessionStore.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace kvr::core;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

void writeRaw(const QByteArray& bytes)
{
    QFile f(SessionStore::filePath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray sessionJson(const char* token, const char* at)
{
    return QByteArray(R"({"username":"asha","refresh_token":")") + token + R"(","signed_in_at":")" + at + "\"}";
}

QByteArray readFile()
{
    QFile f(SessionStore::filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ownerOnly()
{
    constexpr QFileDevice::Permissions others =
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    return (QFile::permissions(SessionStore::filePath()) & others) == 0;
}

} // namespace

class TestSessionStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        SessionStore::clear();
        QDir(SessionStore::filePath()).removeRecursively();
    }

    void saveWritesCompactSortedOwnerOnlyFile()
    {
        kvrtest::TestClock clock(utc(2026, 1, 31, 9, 0));
        // A file left world-readable by an older build, and a permissive
        // umask: the new file is owner-only all the same, and already so
        // while the token is being written into it (also with no file before).
        QList<mode_t> modesWhileWriting;
        SessionStore::setWriteObserver([&](const QFileDevice& file) {
            struct stat st {};
            modesWhileWriting << (::fstat(file.handle(), &st) == 0 ? st.st_mode & 0777 : 0777);
        });
        const mode_t oldMask = ::umask(0);
        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("r-0"), utc(2026, 1, 31, 8, 15)}));
        writeRaw("{}");
        QFile::setPermissions(SessionStore::filePath(), QFileDevice::Permissions(0x6644));
        const bool ok = SessionStore::save({QStringLiteral("asha"), QStringLiteral("r-1"), utc(2026, 1, 31, 8, 15)});
        ::umask(oldMask);
        SessionStore::setWriteObserver({});
        QCOMPARE(modesWhileWriting, (QList<mode_t>{0600, 0600}));
        QVERIFY(ok && SessionStore::active() && ownerOnly());
        QCOMPARE(readFile(),
                 QByteArray(R"({"refresh_token":"r-1","signed_in_at":"2026-01-31T08:15:00Z","username":"asha"})"));
    }

    // Age counts calendar days, not hours; a little clock skew is forgiven.
    void ageCountsCalendarDays()
    {
        const QList<std::tuple<QDateTime, QDateTime, bool>> rows{
            {utc(2026, 3, 1, 0, 1), utc(2026, 3, 7, 23, 59), true},     // six dates back
            {utc(2026, 3, 1, 23, 59), utc(2026, 3, 8, 0, 1), false},    // seven dates back, under 7 x 24 h
            {utc(2026, 3, 1, 12, 4, 59), utc(2026, 3, 1, 12, 0), true}, // 299 s ahead
            {utc(2026, 3, 1, 12, 5, 1), utc(2026, 3, 1, 12, 0), false}, // 301 s ahead
            {utc(2026, 3, 1, 12, 0), utc(2026, 3, 1, 12, 0), true}};
        for (const auto& [signedIn, now, accepted] : rows)
            QVERIFY2(SessionStore::acceptable(signedIn, now) == accepted, qPrintable(signedIn.toString(Qt::ISODate)));
    }

    // Files that are unreadable as a sign-in, or too old, are deleted and
    // leave the store inactive.
    void badFilesAreTreatedAsAbsentAndFoldersLeftAlone()
    {
        kvrtest::TestClock clock(utc(2026, 3, 1, 12, 0));
        for (const QByteArray& bytes :
             {QByteArray("this is not json"), sessionJson("tok", "2026-03-01T10:00:00Z").left(30), QByteArray(),
              QByteArray("[1,2,3]"), sessionJson("", "2026-03-01T10:00:00Z"), sessionJson("tok", "yesterday"),
              QByteArray("\x00\xff\xfe{\"refresh_token\":", 19), sessionJson("tok", "2026-02-22T12:00:00Z")}) {
            writeRaw(bytes);
            QVERIFY2(!SessionStore::load() && !SessionStore::active(), bytes.constData());
            QVERIFY(!QFile::exists(SessionStore::filePath()));
        }
        // A folder in place of the file is left alone.
        QDir().mkpath(SessionStore::filePath());
        QVERIFY(!SessionStore::load() && QFileInfo(SessionStore::filePath()).isDir());
        // Saving cannot replace a folder; it reports failure and stays inactive.
        QVERIFY(!SessionStore::save({QStringLiteral("a"), QStringLiteral("t"), utc(2026, 1, 1, 0, 0)})
                && !SessionStore::active());
    }

    void updateTokenOnlyWhileActiveAndChanged()
    {
        kvrtest::TestClock clock(utc(2026, 3, 1, 12, 0));
        // Nothing remembered: no file appears.
        SessionStore::updateToken(QStringLiteral("new"));
        QVERIFY(!QFile::exists(SessionStore::filePath()));

        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("old"), utc(2026, 3, 1, 11, 0)}));
        const QDateTime before = QFileInfo(SessionStore::filePath()).lastModified();
        const QByteArray original = readFile();
        SessionStore::updateToken(QString());
        SessionStore::updateToken(QStringLiteral("old"));
        QVERIFY(readFile() == original && QFileInfo(SessionStore::filePath()).lastModified() == before);

        SessionStore::updateToken(QStringLiteral("rotated"));
        const auto loaded = SessionStore::load();
        QVERIFY(loaded && loaded->username == "asha" && loaded->refreshToken == "rotated" && ownerOnly());
        QCOMPARE(loaded->signedInAt, utc(2026, 3, 1, 11, 0)); // age still counts from the sign-in

        // Clearing forgets and deletes; later tokens bring nothing back.
        SessionStore::clear();
        QVERIFY(!SessionStore::active() && !QFile::exists(SessionStore::filePath()));
        SessionStore::updateToken(QStringLiteral("later"));
        QVERIFY(!QFile::exists(SessionStore::filePath()));
    }
};

KVR_TEST_MAIN(TestSessionStore)

#include "tst_session_store.moc"
