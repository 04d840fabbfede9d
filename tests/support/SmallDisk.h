#pragma once

// Disks that fill up and folders that take no writes, for the program's
// writers to meet as people's machines have them: a small tmpfs over a
// folder, filled to the last few pages, and a folder bound read-only over
// itself. The mounts live in a mount namespace of the suite's own process
// (made before main, while the process has one thread: as root a mount
// namespace, otherwise one of a user namespace of its own), so none
// outlives the suite whatever happens to it, and nothing outside sees them.

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace kvrtest {

class SmallDisk {
public:
    // Whether the platform gave the process a mount namespace of its own.
    static bool available();

    // A tmpfs of `kib` KiB over `folder` (made when missing) while this lives.
    explicit SmallDisk(const QString& folder, int kib = 1024);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // The ways a disk turns a write away, as the suites walk them: a page
    // to spare (too little for a file of some size), no room at all, and
    // read-only.
    enum class Trouble { PageToSpare, NoRoom, ReadOnly };
    static inline const QList<Trouble> kTroubles{Trouble::PageToSpare, Trouble::NoRoom, Trouble::ReadOnly};
    // Brings the disk into that state (from a writable one); false when it could not.
    bool bring(Trouble trouble);
    static QString describe(Trouble trouble);

    bool mounted() const { return m_mounted; }
    const QString& folder() const { return m_folder; }
    // Takes all the room but `room` bytes (whole pages of it stay free);
    // false when it could not.
    bool fillLeaving(qint64 room = 0);
    // Gives back what fillLeaving took.
    void empty();
    // Read-only, or writable again; false when it could not.
    bool setReadOnly(bool readOnly);
    // The files in it, hidden ones included, but for what fills it.
    QStringList files() const;

private:
    QString m_folder;
    bool m_mounted = false;
};

// A picture of many colours, whose PNG takes some pages of a disk.
QImage busyPicture(int width = 320, int height = 180);

// `folder` read-only while this lives (bound read-only over itself).
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool ok() const { return m_bound; }

private:
    QString m_folder;
    bool m_bound = false;
};

} // namespace kvrtest

// Skips the case where the platform gives the suite no mounts of its own.
#define KVR_NEEDS_SMALL_DISKS()                                                                                        \
    do {                                                                                                               \
        if (!kvrtest::SmallDisk::available())                                                                          \
            QSKIP("this platform gives the process no mount namespace of its own for a small disk");                   \
    } while (false)
