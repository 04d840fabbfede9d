#pragma once

// The graphics probe's answer held by a test: the copy of the program that
// answers it is stood in for, and answers when the test lets it.

#include "video/GpuProbe.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>

namespace probetest {

// An answer as the copy of the program writes it: a graphics chip that may
// draw, whose contexts may be made on any thread.
inline const QByteArray kChipAnswer = "context=1\ncurrent=1\nrenderer=Example Vision 9000\nversion=3.1 Example\n"
                                      "vendor=Example\nes=0\nmajor=3\nshaders=1\nthreaded=1\n";

// Stands in for the copy of the program that answers the graphics probe: a
// shell that notes each start, then answers once the test lets it, with what
// the test gave it. Until then it answers nothing, however long anyone waits.
struct HeldProbe {
    QTemporaryDir dir;

    explicit HeldProbe(std::chrono::milliseconds bound = std::chrono::minutes(10))
    {
        kvr::video::GpuProbe::restartForTest(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("echo started >> \"$1\"; while [ ! -e \"$2\" ]; do sleep 0.02; done; cat \"$2\""),
             QStringLiteral("probe"), dir.filePath(QStringLiteral("starts")), dir.filePath(QStringLiteral("answer"))},
            bound);
    }
    ~HeldProbe() { kvr::video::GpuProbe::restartForTest(); }

    // Lets it answer `text`, whole at once.
    bool answer(const QByteArray& text = kChipAnswer)
    {
        QFile part(dir.filePath(QStringLiteral("answer.part")));
        return part.open(QIODevice::WriteOnly) && part.write(text) == text.size() && part.flush()
            && part.rename(dir.filePath(QStringLiteral("answer")));
    }
    int starts() const
    {
        QFile f(dir.filePath(QStringLiteral("starts")));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
    }
};

} // namespace probetest
