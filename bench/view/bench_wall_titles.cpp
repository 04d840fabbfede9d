// Wall titles told apart: the processor time to fit every title of a wall
// against all the others. A wall of 36 long names alike at their start (the
// estate of tests/support/LongNames) at the room a tile's name has on walls
// of 36, 25 and 16 on a laptop; a wall of 120 (12 x 10) of three recorders
// named alike but for their end, each with "Camera 01" and on, and of
// Arabic, Hebrew, French and German names, at the room its tiles' names have
// on a laptop's screen at scales of 1.5 and 1, and there with each tile
// weighing the least room its name keeps. A wall fits all its titles
// whenever its tiles come, go or change size, so this is the cost of one
// such pass. Prints one line per wall and room: the median of 50 passes on
// the thread's own processor clock, which a busy machine does not lengthen.

#include "app/ui/NamesApart.h"
#include "app/ui/Theme.h"
#include "tests/support/LongNames.h"
#include "tests/support/TestKit.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QTextStream>

#include <algorithm>
#include <vector>

#include <time.h>

namespace {

double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_wall_titles");
    QApplication app(argc, argv);
    kvr::ui::Theme::loadFonts();
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    const QFontMetrics metrics(font);
    const QStringList estate = longnames::titles(longnames::estate());
    const QStringList many = longnames::titles(longnames::wallOf120(longnames::manyAlike()));
    QTextStream out(stdout);
    // Weighing: each tile also weighs the least room its name keeps beside
    // its channel's number or a failure's word (native mode's tiles).
    const auto measure = [&out, &metrics](const QStringList& titles, int width, bool weighing) {
        std::vector<double> passes;
        for (int i = 0; i < 50; ++i) {
            const double start = threadMs();
            const QStringList shown = kvr::ui::fitApart(titles, metrics, width);
            for (const QString& t : titles)
                if (weighing)
                    Q_UNUSED(kvr::ui::leastApartWidth(t, titles, metrics));
            passes.push_back(threadMs() - start);
            Q_UNUSED(shown);
        }
        std::sort(passes.begin(), passes.end());
        out << QStringLiteral("wall of %1 titles at %2 px%3: %4 ms of processor time per pass (median of 50)\n")
                   .arg(titles.size())
                   .arg(width)
                   .arg(weighing ? QStringLiteral(", each weighing its least room") : QString())
                   .arg(passes[passes.size() / 2], 0, 'f', 2);
    };
    for (int width : {87, 91, 124, 168})
        measure(estate, width, false);
    for (int width : {30, 44, 62})
        measure(many, width, false);
    measure(many, 62, true);
    return 0;
}
