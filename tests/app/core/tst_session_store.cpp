#include "app/core/SessionStore.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {

const QFileDevice::Permissions kOthers =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;

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

QByteArray sessionJson(const QString& token, const QString& at)
{
    QJsonObject o;
    o.insert(QStringLiteral("username"), QStringLiteral("asha"));
    o.insert(QStringLiteral("refresh_token"), token);
    o.insert(QStringLiteral("signed_in_at"), at);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray readFile()
{
    QFile f(SessionStore::filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
        // umask: the new file is owner-only all the same.
        writeRaw("{}");
        QFile::setPermissions(SessionStore::filePath(), QFileDevice::Permissions(0x6644));
        const mode_t oldMask = ::umask(0);
        const bool ok = SessionStore::save({QStringLiteral("asha"), QStringLiteral("r-1"), utc(2026, 1, 31, 8, 15)});
        ::umask(oldMask);
        QVERIFY(ok);
        QVERIFY(SessionStore::active());
        QCOMPARE(readFile(),
                 QByteArray(R"({"refresh_token":"r-1","signed_in_at":"2026-01-31T08:15:00Z","username":"asha"})"));
        QCOMPARE(QFile::permissions(SessionStore::filePath()) & kOthers, QFileDevice::Permissions());
        const auto loaded = SessionStore::load();
        QVERIFY(loaded);
        QCOMPARE(loaded->username, QStringLiteral("asha"));
        QCOMPARE(loaded->signedInAt, utc(2026, 1, 31, 8, 15));
    }

    void ageCountsCalendarDays_data()
    {
        QTest::addColumn<QDateTime>("signedIn");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("six dates back") << utc(2026, 3, 1, 0, 1) << utc(2026, 3, 7, 23, 59) << true;
        QTest::newRow("seven dates back, under 7x24h") << utc(2026, 3, 1, 23, 59) << utc(2026, 3, 8, 0, 1) << false;
        QTest::newRow("299 s ahead") << utc(2026, 3, 1, 12, 4, 59) << utc(2026, 3, 1, 12, 0) << true;
        QTest::newRow("301 s ahead") << utc(2026, 3, 1, 12, 5, 1) << utc(2026, 3, 1, 12, 0) << false;
        QTest::newRow("just now") << utc(2026, 3, 1, 12, 0) << utc(2026, 3, 1, 12, 0) << true;
    }

    void ageCountsCalendarDays()
    {
        QFETCH(QDateTime, signedIn);
        QFETCH(QDateTime, now);
        QFETCH(bool, accepted);
        kvrtest::TestClock clock(now);
        writeRaw(sessionJson(QStringLiteral("tok"), signedIn.toString(Qt::ISODate)));
        QCOMPARE(SessionStore::load().has_value(), accepted);
        QCOMPARE(QFile::exists(SessionStore::filePath()), accepted); // rejected files are deleted
        QCOMPARE(SessionStore::active(), accepted);
    }

    void badFilesAreTreatedAsAbsent_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not json") << QByteArray("this is not json");
        QTest::newRow("truncated")
            << sessionJson(QStringLiteral("tok"), QStringLiteral("2026-03-01T10:00:00Z")).left(30);
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("array") << QByteArray("[1,2,3]");
        QTest::newRow("empty token") << sessionJson(QString(), QStringLiteral("2026-03-01T10:00:00Z"));
        QTest::newRow("bad time") << sessionJson(QStringLiteral("tok"), QStringLiteral("yesterday"));
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{\"refresh_token\":", 19);
    }

    void badFilesAreTreatedAsAbsent()
    {
        QFETCH(QByteArray, bytes);
        kvrtest::TestClock clock(utc(2026, 3, 1, 12, 0));
        writeRaw(bytes);
        QVERIFY(!SessionStore::load());
        QVERIFY(!QFile::exists(SessionStore::filePath()));
        QVERIFY(!SessionStore::active());
    }

    void aFolderInPlaceOfTheFileIsLeftAlone()
    {
        QDir().mkpath(SessionStore::filePath());
        QVERIFY(!SessionStore::load());
        QVERIFY(QFileInfo(SessionStore::filePath()).isDir());
        // Saving cannot replace a folder; it reports failure and stays inactive.
        QVERIFY(!SessionStore::save({QStringLiteral("a"), QStringLiteral("t"), utc(2026, 1, 1, 0, 0)}));
        QVERIFY(!SessionStore::active());
        QDir(SessionStore::filePath()).removeRecursively();
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
        QCOMPARE(readFile(), original);
        QCOMPARE(QFileInfo(SessionStore::filePath()).lastModified(), before);

        SessionStore::updateToken(QStringLiteral("rotated"));
        const auto loaded = SessionStore::load();
        QVERIFY(loaded);
        QCOMPARE(loaded->refreshToken, QStringLiteral("rotated"));
        QCOMPARE(loaded->signedInAt, utc(2026, 3, 1, 11, 0)); // age still counts from the sign-in
        QCOMPARE(QFile::permissions(SessionStore::filePath()) & kOthers, QFileDevice::Permissions());

        // Clearing forgets and deletes; later tokens bring nothing back.
        SessionStore::clear();
        QVERIFY(!SessionStore::active());
        QVERIFY(!QFile::exists(SessionStore::filePath()));
        SessionStore::updateToken(QStringLiteral("later"));
        QVERIFY(!QFile::exists(SessionStore::filePath()));
    }
};

KVR_TEST_MAIN(TestSessionStore)
#include "tst_session_store.moc"
