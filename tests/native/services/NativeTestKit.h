#pragma once

// Helpers shared by the native device services suites: file modes, a disk
// that fills up, the folder of the native data files, and the device record
// that points at a fake device on loopback.

#include "native/services/NativeRecords.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace nativetest {

// The permission bits of a file, or -1 when it does not exist.
inline int modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// Makes every file write past `bytes` fail (as a full disk would) while it
// lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lim = saved;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit saved {};
};

// The folder native mode keeps its files in.
inline QString dataDir()
{
    return QFileInfo(SecureFile::path(QStringLiteral("x"))).path();
}

// Empties that folder (each test starts without files).
inline void clearDataDir()
{
    QDir(dataDir()).removeRecursively();
    QDir().mkpath(dataDir());
}

// Files (and folders) kept aside because they could not be read.
inline QStringList unreadCopies()
{
    return QDir(dataDir()).entryList({QStringLiteral("*.unread-*")}, QDir::Files | QDir::Dirs);
}

// A device record that reaches the fake device on loopback with its login
// (or with the given password).
inline Native::Device deviceFor(const kvrtest::FakeDevice &fake,
                                const QString &brand = QStringLiteral("HIKVISION"),
                                const QString &password = QString())
{
    Native::Device d;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = fake.httpPort();
    d.rtspPort = fake.rtspPort();
    d.username = fake.username;
    d.password = password.isNull() ? fake.password : password;
    d.manufacturer = brand;
    return d;
}

} // namespace nativetest
