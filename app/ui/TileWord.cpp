#include "app/ui/TileWord.h"

#include "app/ui/Tunables.h"

#include <QLabel>

#include <algorithm>

namespace kvr::ui {

QString tileFaultWord(TileFault fault)
{
    switch (fault) {
    case TileFault::Offline:
        return QStringLiteral("Offline");
    case TileFault::NoAnswer:
        return QStringLiteral("No answer");
    case TileFault::Failed:
        break;
    }
    return QStringLiteral("Failed");
}

TileFault tileFaultOf(core::PlayerFailure failure)
{
    switch (failure) {
    case core::PlayerFailure::TimedOut:
    case core::PlayerFailure::Refused:
    case core::PlayerFailure::Unreachable:
        return TileFault::NoAnswer;
    default:
        return TileFault::Failed;
    }
}

bool showFaultWord(QLabel* word, QWidget* dot, bool say, TileFault fault)
{
    const QString text = say ? tileFaultWord(fault) : QString();
    if (text == word->text() && say == !word->isHidden())
        return false;
    word->setText(text);
    word->setVisible(say);
    dot->setVisible(!say);
    return true;
}

void PictureWatch::picture(qint64 nowMs)
{
    if (m_lastMs >= 0 && stopped(nowMs)) {
        // A gap that was a stop is no measure of the stream's pace, and one
        // picture after it is no stream that flows again.
        if (m_stopFromMs < 0)
            m_stopFromMs = m_lastMs;
        m_resumedMs = nowMs;
    } else if (m_lastMs >= 0) {
        const qint64 gap = std::max<qint64>(0, nowMs - m_lastMs);
        m_gapMs = std::max(gap, (m_gapMs * 7 + gap) / 8);
        if (m_stopFromMs >= 0 && nowMs - m_resumedMs >= std::chrono::milliseconds(tun::kPictureStoppedAfter).count())
            m_stopFromMs = -1;
    }
    m_lastMs = nowMs;
}

void PictureWatch::reset()
{
    m_lastMs = m_stopFromMs = m_resumedMs = -1;
    m_gapMs = 0;
}

qint64 PictureWatch::stopAfterMs() const
{
    return std::max<qint64>(std::chrono::milliseconds(tun::kPictureStoppedAfter).count(),
                            m_gapMs * tun::kPictureStoppedGaps);
}

bool PictureWatch::stopped(qint64 nowMs) const
{
    return m_lastMs >= 0 && nowMs - m_lastMs >= stopAfterMs();
}

QString waitedFor(const QString& what, qint64 elapsedMs)
{
    return QStringLiteral("%1 \u00B7 %2 s").arg(what).arg(std::max<qint64>(0, elapsedMs) / 1000);
}

QString pictureStoppedHeadline()
{
    return QStringLiteral("Picture stopped");
}

QString pictureStoppedWords()
{
    return QStringLiteral("No new picture");
}

QString noPictureYetWords()
{
    return QStringLiteral("No picture yet");
}

bool waitWorthCounting(qint64 elapsedMs)
{
    return elapsedMs >= std::chrono::milliseconds(tun::kPictureStoppedAfter).count();
}

} // namespace kvr::ui
