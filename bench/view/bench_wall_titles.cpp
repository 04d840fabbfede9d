// Wall titles told apart: the processor time to fit every title of a wall of
// 36 long names alike at their start (the estate of tests/support/LongNames)
// against all the others, at the room a tile's name has on walls of 36, 25
// and 16 on a laptop. A wall fits all its titles whenever its tiles come,
// go or change size, so this is the cost of one such pass. Prints one line
// per room: the median of 50 passes on the thread's own processor clock,
// which a busy machine does not lengthen.

#include "app/ui/Fitting.h"
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
    const QStringList titles = longnames::titles(longnames::estate());
    QTextStream out(stdout);
    for (int width : {87, 91, 124, 168}) {
        std::vector<double> passes;
        for (int i = 0; i < 50; ++i) {
            const double start = threadMs();
            const QStringList shown = kvr::ui::fitApart(titles, metrics, width);
            passes.push_back(threadMs() - start);
            Q_UNUSED(shown);
        }
        std::sort(passes.begin(), passes.end());
        out << QStringLiteral("wall of 36 titles at %1 px: %2 ms of processor time per pass (median of 50)\n")
                   .arg(width)
                   .arg(passes[passes.size() / 2], 0, 'f', 2);
    }
    return 0;
}
