// Cost of the live jitter analysis on the user-interface thread: a rolling
// record of 60 s at 500 Hz in the analysis widget, fed 500 samples per
// second and re-analysed (spectra, Allan deviation, table and replots) once a
// second. Prints the process CPU time (the analysis threads included) per
// second of stream, as a share of one
// core. Run with QT_QPA_PLATFORM=offscreen (set when unset).

#include "analysis_ui/JitterAnalysisWidget.h"

#include <QApplication>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The process's CPU time counts the analysis threads as well.
    JitterAnalysisWidget widget;
    widget.resize(1000, 850);
    widget.show();
    const int rate = 500;
    widget.startLive(rate, QStringLiteral("V"), QStringLiteral("V"), 60);
    long long i = 0;
    auto feed = [&](int seconds) {
        for (int n = 0; n < seconds * rate; ++n, ++i) {
            const double t = double(i) / rate;
            widget.appendSample({0.1 * std::sin(2 * M_PI * 37 * t), 0.05 * std::sin(2 * M_PI * 11 * t), 0.01 * std::cos(t),
                                 0.02 * std::sin(2 * M_PI * 3 * t)},
                                {5, 5, 5, 5});
        }
    };
    feed(60); // fill the rolling record
    widget.analyze(); // first layout and paint of the plots, not counted
    app.processEvents();
    std::vector<double> appendMs, analyzeMs;
    for (int second = 0; second < 20; ++second) {
        const double a = threadCpuMs();
        feed(1);
        const double b = threadCpuMs();
        widget.analyze();
        app.processEvents(); // the replots paint here
        const double c = threadCpuMs();
        appendMs.push_back(b - a);
        analyzeMs.push_back(c - b);
    }
    std::sort(appendMs.begin(), appendMs.end());
    std::sort(analyzeMs.begin(), analyzeMs.end());
    const double median = appendMs[appendMs.size() / 2] + analyzeMs[analyzeMs.size() / 2];
    std::printf("rolling record %zu samples at %d Hz\n", widget.record().samples(), rate);
    std::printf("per second of stream: taking 500 samples %.2f ms, analysis + table + replots %.1f ms (median)\n",
                appendMs[appendMs.size() / 2], analyzeMs[analyzeMs.size() / 2]);
    std::printf("user-interface thread: %.1f%% of a core (median), %.1f%% (worst of 20)\n", median / 10.0,
                (appendMs.back() + analyzeMs.back()) / 10.0);
    return 0;
}
