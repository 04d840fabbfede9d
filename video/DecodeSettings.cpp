#include "video/DecodeSettings.h"

#include "app/core/Env.h"
#include "app/core/Settings.h"
#include "video/GpuProbe.h"
#include "video/GpuVideoView.h"
#include "video/Tunables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <optional>
#include <utility>

using namespace kvr::core;

namespace kvr::video {

DecodeSettings DecodeSettings::current()
{
    return {hardwareDecodeAllowed(), drawingChosen()};
}

bool DecodeSettings::hardwareDecodeAllowed()
{
    // KVR_HWDECODE, when set, decides instead of the setting: an integer in
    // C notation ("0x" hexadecimal, a leading 0 octal, else decimal),
    // non-zero for on; a text that is not a number reads as off.
    if (envSet("KVR_HWDECODE"))
        return envOr("KVR_HWDECODE", QString()).trimmed().toLongLong(nullptr, 0) != 0;
    return Prefs::get(Prefs::kHardwareDecode);
}

bool DecodeSettings::gpuRenderFor(const QString& mode, bool probeUsable, const QString& probeRenderer)
{
    if (mode == QLatin1String("cpu"))
        return false;
    if (probeUsable)
        return true;
    return mode == QLatin1String("gpu") && !probeRenderer.isEmpty();
}

DecodeSettings::Drawing DecodeSettings::drawingChosen()
{
    const QString mode = Prefs::get(Prefs::kRenderMode);
    if (mode == QLatin1String("cpu"))
        return Drawing::Processor; // no need to ask OpenGL just to be told no
    if (!GpuProbe::start())
        return Drawing::Processor; // no application to draw with yet
    const std::optional<GpuProbe> probe = GpuProbe::known();
    if (!probe)
        return Drawing::ProcessorUntilReady;
    if (!gpuRenderFor(mode, probe->usable, probe->renderer))
        return Drawing::Processor;
    GpuVideoView::prepareContexts(probe->threadedContexts);
    return GpuVideoView::drawingReady() ? Drawing::GraphicsChip : Drawing::ProcessorUntilReady;
}

void DecodeSettings::whenDrawingSettles(QObject* context, std::function<void()> then)
{
    if (drawingChosen() != Drawing::ProcessorUntilReady) {
        then();
        return;
    }
    // One step at a time: the probe's answer, then the views' drawing in the
    // shared context.
    auto again = [context, then = std::move(then)]() mutable { whenDrawingSettles(context, std::move(then)); };
    if (!GpuProbe::known())
        GpuProbe::whenKnown(context, std::move(again));
    else
        GpuVideoView::whenDrawingReady(context, std::move(again));
}

bool DecodeSettings::chipAhead()
{
    const QString mode = Prefs::get(Prefs::kRenderMode);
    const QString forced = envOr("KVR_RENDER");
    if (mode == QLatin1String("cpu") || forced.compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0)
        return false;
    if (const std::optional<GpuProbe> probe = GpuProbe::known())
        return gpuRenderFor(mode, probe->usable, probe->renderer);
    return mode == QLatin1String("gpu") || forced.compare(QLatin1String("gpu"), Qt::CaseInsensitive) == 0;
}

namespace {

QElapsedTimer s_probedAhead;                    // since probeAhead started the probe; GUI thread
std::chrono::milliseconds s_firstWindowWait{0}; // a test's wait in place of the tunable

// Whether a window shown now is made as it will draw its video.
bool windowSettled()
{
    if (DecodeSettings::chipAhead())
        return GpuVideoView::contextsReady();
    return GpuProbe::known().has_value();
}

// One wait of whenWindowCanBeReady: ends at the first of the answer (and the
// context), the bound and its context's end.
class WindowWait : public QObject {
public:
    WindowWait(QObject* context, std::function<void()> then) : QObject(context), m_then(std::move(then)) {}

    void recheck()
    {
        if (windowSettled())
            finish();
        else if (GpuProbe::known())
            GpuVideoView::whenContextsReady(this, [this] { recheck(); });
    }
    void finish()
    {
        if (!m_then)
            return;
        const std::function<void()> then = std::exchange(m_then, {});
        deleteLater();
        then();
    }

private:
    std::function<void()> m_then;
};

} // namespace

void DecodeSettings::probeAhead()
{
    if (Prefs::get(Prefs::kRenderMode) == QLatin1String("cpu") || !GpuProbe::start())
        return;
    if (!GpuProbe::known())
        s_probedAhead.start();
    GpuProbe::whenKnown(QCoreApplication::instance(), [] { drawingChosen(); });
}

void DecodeSettings::whenWindowCanBeReady(QObject* context, std::function<void()> then)
{
    using std::chrono::milliseconds;
    const milliseconds bound = s_firstWindowWait.count() > 0 ? s_firstWindowWait : tun::kFirstWindowWait;
    const qint64 left = s_probedAhead.isValid() ? bound.count() - s_probedAhead.elapsed() : 0;
    if (left <= 0 || windowSettled()) {
        then();
        return;
    }
    auto* wait = new WindowWait(context, std::move(then));
    QTimer::singleShot(milliseconds(left), wait, [wait] { wait->finish(); });
    GpuProbe::whenKnown(wait, [wait] { wait->recheck(); });
}

void DecodeSettings::firstWindowWaitForTest(std::chrono::milliseconds wait)
{
    s_firstWindowWait = wait;
}

} // namespace kvr::video
