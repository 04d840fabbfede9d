#include "tests/support/SmallDisk.h"

#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace kvrtest {

namespace {

const QString kFiller = QStringLiteral(".kvrtest-filler");
const QString kGap = QStringLiteral(".kvrtest-gap");

bool privateMounts()
{
    return enterOwnNamespaces(CLONE_NEWNS) && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Made before main, while the process has one thread: a suite that uses
// small disks links this file, and with it this.
const bool g_mounts = privateMounts();

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// Writes until the disk takes no more; true when it then took nothing.
bool fillUp(QFile& file)
{
    const QByteArray page(4096, 'x');
    while (file.write(page) > 0) {}
    return file.error() != QFileDevice::NoError;
}

} // namespace

bool SmallDisk::available()
{
    return g_mounts;
}

SmallDisk::SmallDisk(const QString& folder, int kib) : m_folder(QDir(folder).absolutePath())
{
    if (!g_mounts)
        return;
    QDir().mkpath(m_folder);
    const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0700";
    m_mounted = ::mount("tmpfs", encoded(m_folder).constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(encoded(m_folder).constData(), MNT_DETACH);
}

bool SmallDisk::fillLeaving(qint64 room)
{
    empty();
    QFile gap(m_folder + QLatin1Char('/') + kGap);
    if (room > 0) {
        if (!gap.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || gap.write(QByteArray(room, 'g')) != room)
            return false;
        gap.close();
    }
    QFile filler(m_folder + QLatin1Char('/') + kFiller);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !fillUp(filler))
        return false;
    filler.close();
    return room <= 0 || gap.remove();
}

void SmallDisk::empty()
{
    QFile::remove(m_folder + QLatin1Char('/') + kFiller);
    QFile::remove(m_folder + QLatin1Char('/') + kGap);
}

bool SmallDisk::bring(Trouble trouble)
{
    switch (trouble) {
    case Trouble::PageToSpare:
        return fillLeaving(4096);
    case Trouble::NoRoom:
        return fillLeaving(0);
    case Trouble::ReadOnly:
        empty();
        return setReadOnly(true);
    }
    return false;
}

QString SmallDisk::describe(Trouble trouble)
{
    switch (trouble) {
    case Trouble::PageToSpare:
        return QStringLiteral("a page to spare");
    case Trouble::NoRoom:
        return QStringLiteral("no room at all");
    case Trouble::ReadOnly:
        break;
    }
    return QStringLiteral("read-only");
}

QImage busyPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    return picture;
}

bool SmallDisk::setReadOnly(bool readOnly)
{
    return m_mounted
        && ::mount(nullptr, encoded(m_folder).constData(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0), nullptr)
        == 0;
}

QStringList SmallDisk::files() const
{
    QStringList out = QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    out.removeAll(kFiller);
    out.removeAll(kGap);
    return out;
}

ReadOnlyFolder::ReadOnlyFolder(const QString& folder) : m_folder(QDir(folder).absolutePath())
{
    if (!g_mounts)
        return;
    QDir().mkpath(m_folder);
    const QByteArray path = encoded(m_folder);
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0)
        return;
    m_bound = ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (!m_bound)
        ::umount2(path.constData(), MNT_DETACH);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (m_bound)
        ::umount2(encoded(m_folder).constData(), MNT_DETACH);
}

} // namespace kvrtest
