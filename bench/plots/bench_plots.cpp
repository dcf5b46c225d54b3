// Cost of one display tick's drawing: the six plots of the main window,
// filled as the display tick fills them for 1, 10 and 50 controllers, are
// replotted and rendered offscreen in a 1280 x 960 window.
//
//   QT_QPA_PLATFORM=offscreen bench_plots [repetitions] [--save-images DIR]
//                                         [--compare DIR] [--rate HZ]
//
// --save-images writes the last rendered window per controller count as
// plots_<n>.png; --compare counts the pixels that differ from such images
// (to check that a drawing optimisation keeps the picture). --rate fills the
// time plots as a full 10 s sweep at that sampling rate does (500: 5000
// points per curve, the decimation being 1 there); without it they hold one
// point per pixel column.

#include "display/CurveData.h"
#include "display/GenericPlot.h"
#include "display/PlotConfigurator.h"

#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextStream>
#include <QWidget>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Window {
    QWidget widget;
    GenericPlot* position[2];
    GenericPlot* time[2];
    GenericPlot* intensity[2];

    Window()
    {
        auto* grid = new QGridLayout(&widget);
        for (int s = 0; s < 2; ++s) {
            position[s] = new GenericPlot;
            time[s] = new GenericPlot;
            intensity[s] = new GenericPlot;
            PlotConfigurator::configurePositionPlot(position[s]);
            PlotConfigurator::configureTimePlot(time[s]);
            PlotConfigurator::configureIntensityPlot(intensity[s]);
            grid->addWidget(position[s], 0, s);
            grid->addWidget(time[s], 1, s);
            grid->addWidget(intensity[s], 2, s);
        }
        grid->setRowStretch(0, 4);
        grid->setRowStretch(1, 3);
        grid->setRowStretch(2, 2);
        widget.resize(1280, 960);
    }

    std::vector<GenericPlot*> plots() const
    {
        return {position[0], time[0], intensity[0], position[1], time[1], intensity[1]};
    }
};

QColor controllerColour(int c, int curve)
{
    return QColor::fromHsv((c * 37 + curve * 120) % 360, 255, 200);
}

// Curves as the main window keeps them: per controller one position curve,
// two time curves (x, y) and one intensity curve per stage; the time plots
// hold one point per pixel column over the 10 s sweep, the position plots a
// 10-point trail.
void fill(Window& w, int controllers, int rate)
{
    QRandomGenerator random(1234);
    auto noise = [&random](double amplitude) {
        return (random.generateDouble() - 0.5) * 2.0 * amplitude;
    };
    for (int s = 0; s < 2; ++s) {
        const int columns = rate > 0 ? int(rate * PlotConfigurator::timeAxisSeconds)
                                     : w.time[s]->canvas()->contentsRect().width();
        for (int c = 0; c < controllers; ++c) {
            w.position[s]->addCurve(c);
            w.position[s]->setCurveColor(controllerColour(c, 0), c);
            w.intensity[s]->addCurve(c);
            w.intensity[s]->setCurveColor(controllerColour(c, 2), c);
            for (int k = 0; k < 2; ++k) {
                w.time[s]->addCurve(2 * c + k);
                w.time[s]->setCurveColor(controllerColour(c, k), 2 * c + k);
            }
            const double cx = noise(3.0);
            const double cy = noise(3.0);
            for (int i = 0; i < columns; ++i) {
                const double t = PlotConfigurator::timeAxisSeconds * i / columns;
                w.time[s]->appendData(2 * c, QPointF(t, cx + noise(0.5)));
                w.time[s]->appendData(2 * c + 1, QPointF(t, cy + noise(0.5)));
                w.intensity[s]->appendData(c, QPointF(t, 4.0 + noise(1.0)));
            }
            for (int i = 0; i < 12; ++i)
                w.position[s]->appendData(c, QPointF(cx + noise(0.2), cy + noise(0.2)));
        }
    }
}

// CPU time of this thread in ms: unlike wall time it does not count the
// time other processes hold the CPU, so figures stay comparable on a busy
// machine.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Figures {
    double median;
    double max;
};

Figures summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int repetitions = 50;
    QString imageDir;
    QString referenceDir;
    int rate = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == "--save-images" && i + 1 < args.size())
            imageDir = args.at(++i);
        else if (args.at(i) == "--compare" && i + 1 < args.size())
            referenceDir = args.at(++i);
        else if (args.at(i) == "--rate" && i + 1 < args.size())
            rate = args.at(++i).toInt();
        else if (args.at(i).toInt() > 0)
            repetitions = args.at(i).toInt();
    }

    QTextStream out(stdout);
    out << "Six plots, window 1280 x 960, " << repetitions << " repetitions, times in ms\n";
    out << "replot: six replot() calls of the shown window during acquisition (no backing store)\n";
    out << "render: the whole window rendered into a 1280 x 960 image\n";
    out << "cpu: median thread CPU time; med/max: wall time; fill: appending all points once;\n"
           "first: wall time of the first replot after filling\n\n";
    out << qSetFieldWidth(12) << "controllers" << "points/plot" << "fill" << "first" << "replot cpu"
        << "replot med" << "replot max" << "render cpu" << "render med" << "render max"
        << qSetFieldWidth(0) << "\n";

    QStringList differences;
    for (int controllers : {1, 10, 50}) {
        Window w;
        w.widget.show();
        QCoreApplication::processEvents();
        QElapsedTimer fillTimer;
        fillTimer.start();
        fill(w, controllers, rate);
        const double fillMs = fillTimer.nsecsElapsed() / 1e6;
        for (GenericPlot* plot : w.plots())
            plot->start();
        int points = 0;
        for (GenericPlot* plot : w.plots())
            for (int i = 0; i < plot->curveCount(); ++i)
                points += int(plot->curveData(i)->size());
        QCoreApplication::processEvents();

        // The first frame after filling also analyses each curve's symbol
        // once; it is reported on its own and kept out of the medians.
        QElapsedTimer firstTimer;
        firstTimer.start();
        for (GenericPlot* plot : w.plots())
            plot->replot();
        QCoreApplication::processEvents();
        const double firstMs = firstTimer.nsecsElapsed() / 1e6;

        std::vector<double> replotMs;
        std::vector<double> replotCpuMs;
        std::vector<double> renderMs;
        std::vector<double> renderCpuMs;
        QImage image(w.widget.size(), QImage::Format_ARGB32_Premultiplied);
        for (int r = 0; r < repetitions; ++r) {
            QElapsedTimer timer;
            timer.start();
            double cpu = threadCpuMs();
            for (GenericPlot* plot : w.plots())
                plot->replot();
            QCoreApplication::processEvents();
            replotMs.push_back(timer.nsecsElapsed() / 1e6);
            replotCpuMs.push_back(threadCpuMs() - cpu);

            timer.restart();
            cpu = threadCpuMs();
            QPainter painter(&image);
            w.widget.render(&painter);
            painter.end();
            renderMs.push_back(timer.nsecsElapsed() / 1e6);
            renderCpuMs.push_back(threadCpuMs() - cpu);
        }
        if (!imageDir.isEmpty())
            image.save(QString("%1/plots_%2.png").arg(imageDir).arg(controllers));
        if (!referenceDir.isEmpty()) {
            const QImage reference(QString("%1/plots_%2.png").arg(referenceDir).arg(controllers));
            const QImage current = image.convertToFormat(reference.format());
            int differing = 0;
            for (int y = 0; y < qMin(reference.height(), current.height()); ++y)
                for (int x = 0; x < qMin(reference.width(), current.width()); ++x)
                    differing += reference.pixel(x, y) != current.pixel(x, y) ? 1 : 0;
            differences << QString("%1 controllers: %2 pixels differ from %3")
                               .arg(controllers).arg(differing).arg(referenceDir);
        }
        const Figures replot = summarise(replotMs);
        const Figures replotCpu = summarise(replotCpuMs);
        const Figures render = summarise(renderMs);
        const Figures renderCpu = summarise(renderCpuMs);
        out << qSetFieldWidth(12) << controllers << points / 6 << QString::number(fillMs, 'f', 2)
            << QString::number(firstMs, 'f', 2) << QString::number(replotCpu.median, 'f', 2) << QString::number(replot.median, 'f', 2)
            << QString::number(replot.max, 'f', 2) << QString::number(renderCpu.median, 'f', 2)
            << QString::number(render.median, 'f', 2) << QString::number(render.max, 'f', 2)
            << qSetFieldWidth(0) << "\n";
        out.flush();
    }
    for (const QString& line : differences)
        out << line << "\n";
    return 0;
}
