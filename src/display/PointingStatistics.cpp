#include "display/PointingStatistics.h"

#include "display/GenericPlot.h"

#include <qwt_plot_shapeitem.h>
#include <qwt_plot_textlabel.h>

#include <QElapsedTimer>

#include <cmath>
#include <memory>

const QString PointingStatistics::clearedText = QStringLiteral("\nx=\ny=\n#samples= 0\nRMS=");

namespace {
QwtText makeText(const QString& content)
{
    QwtText text(content);
    text.setFont(QFont("Sans Serif", 8));
    text.setColor(Qt::red);
    text.setRenderFlags(Qt::AlignLeft | Qt::AlignTop);
    return text;
}

QwtPlotShapeItem* makeCross(const QString& title)
{
    auto* item = new QwtPlotShapeItem(title);
    item->setPen(QPen(Qt::red, 2));
    item->setShape(PointingStatistics::unitCross());
    return item;
}

PointingStatistics::Clock monotonicClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}
} // namespace

PointingStatistics::PointingStatistics(GenericPlot* stage1Plot, GenericPlot* stage2Plot,
                                       Clock clock)
    : m_plot1(stage1Plot)
    , m_plot2(stage2Plot)
    , m_clock(clock ? std::move(clock) : monotonicClock())
    , m_unitSource([](int, int) { return QStringLiteral("V"); })
    , m_text1(makeText(clearedText))
    , m_text2(makeText(clearedText))
    , m_textItem1(new QwtPlotTextLabel)
    , m_textItem2(new QwtPlotTextLabel)
    , m_cross1(makeCross(QStringLiteral("Zielkreuz mit Varianz-Kreis")))
    , m_cross2(makeCross(QStringLiteral("Zielkreuz2 mit Varianz-Kreis")))
{
    m_textItem1->setText(m_text1);
    m_textItem2->setText(m_text2);
    m_lastRefresh = m_clock();
}

PointingStatistics::~PointingStatistics()
{
    // Deleting a plot item detaches it from its plot.
    delete m_textItem1;
    delete m_textItem2;
    delete m_cross1;
    delete m_cross2;
}

void PointingStatistics::setUnitSource(UnitSource source)
{
    m_unitSource = std::move(source);
}

void PointingStatistics::addConnection(int index)
{
    if (index < 0 || index > m_accumulators.size())
        index = m_accumulators.size();
    m_accumulators.insert(index, Accumulator());
}

void PointingStatistics::removeConnection(int index)
{
    if (index >= 0 && index < m_accumulators.size())
        m_accumulators.removeAt(index);
}

PointingStatistics::Accumulator PointingStatistics::accumulator(int index) const
{
    return (index >= 0 && index < m_accumulators.size()) ? m_accumulators.at(index)
                                                        : Accumulator();
}

QString PointingStatistics::resultText(double meanX, double meanY, int count, double rms,
                                       const QString& unit)
{
    const QString suffix = QStringLiteral(" [") + unit + QStringLiteral("]");
    return QStringLiteral("\nx=") + QString::number(meanX, 'f', 3) + suffix
        + QStringLiteral("\ny=") + QString::number(meanY, 'f', 3) + suffix
        + QStringLiteral("\n#samples=") + QString::number(count)
        + QStringLiteral("\nRMS=") + QString::number(rms, 'f', 4) + suffix;
}

void PointingStatistics::update(int count, int index, int samplesTaken, bool display,
                                const Positions& current)
{
    if (index < 0 || index >= m_accumulators.size())
        return;
    Accumulator& a = m_accumulators[index];

    // A stage without a finite position (a quadrant detector at the edge of
    // its range) adds nothing, and each stage divides by the samples it
    // really added, so one such sample cannot turn the result into NaN.
    if (!display && samplesTaken > 0) {
        if (a.stage1.add(current.x1, current.y1))
            m_centre1 = QPointF(a.stage1.meanX(), a.stage1.meanY());
        if (a.stage2.add(current.x2, current.y2))
            m_centre2 = QPointF(a.stage2.meanX(), a.stage2.meanY());
    }

    const qint64 now = m_clock();
    if ((display || now - m_lastRefresh > refreshIntervalMs) && samplesTaken > 0) {
        // Each sample's distance from the mean as it stood at that sample.
        m_rms1 = a.stage1.runningRmsRadius();
        m_rms2 = a.stage2.runningRmsRadius();
        m_text1.setText(resultText(m_centre1.x(), m_centre1.y(), count, m_rms1,
                                   m_unitSource(index, 1)));
        m_text2.setText(resultText(m_centre2.x(), m_centre2.y(), count, m_rms2,
                                   m_unitSource(index, 2)));
        m_lastRefresh = now;
        m_lastShownCount = samplesTaken;
    }

    m_textItem1->setText(m_text1);
    m_textItem2->setText(m_text2);
    m_cross1->setShape(targetCross(m_centre1, m_rms1));
    m_cross2->setShape(targetCross(m_centre2, m_rms2));
}

void PointingStatistics::setTexts(const QString& text1, const QString& text2)
{
    m_text1.setText(text1);
    m_text2.setText(text2);
    m_textItem1->setText(m_text1);
    m_textItem2->setText(m_text2);
}

void PointingStatistics::clear()
{
    for (Accumulator& a : m_accumulators)
        a = Accumulator();
    m_lastShownCount = 0;
    m_rms1 = 0.0;
    m_rms2 = 0.0;
    setTexts(clearedText, clearedText);
    m_cross1->setShape(unitCross());
    m_cross2->setShape(unitCross());
    m_plot1->replot();
    m_plot2->replot();
}

void PointingStatistics::restartClock()
{
    m_lastRefresh = m_clock();
}

void PointingStatistics::setShown(int stage, bool on, int displayedIndex, int samplesTaken)
{
    QwtPlotTextLabel* label = textItem(stage);
    QwtPlotShapeItem* cross = crossItem(stage);
    GenericPlot* target = plot(stage);
    if (on) {
        if (displayedIndex >= 0 && m_lastShownCount != 0)
            update(m_lastShownCount, displayedIndex, samplesTaken, true);
        label->attach(target);
        cross->attach(target);
    } else {
        label->detach();
        cross->detach();
    }
    target->replot();
}

bool PointingStatistics::isShown(int stage) const
{
    return textItem(stage)->plot() != nullptr;
}

QString PointingStatistics::text(int stage) const
{
    return stage == 2 ? m_text2.text() : m_text1.text();
}

QPainterPath PointingStatistics::crossShape(int stage) const
{
    return crossItem(stage)->shape();
}

QwtPlotTextLabel* PointingStatistics::textItem(int stage) const
{
    return stage == 2 ? m_textItem2 : m_textItem1;
}

QwtPlotShapeItem* PointingStatistics::crossItem(int stage) const
{
    return stage == 2 ? m_cross2 : m_cross1;
}

QPainterPath PointingStatistics::crossPath(const QPointF& centre, double radius,
                                           double armHalfLength)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    path.moveTo(centre.x() - armHalfLength, centre.y());
    path.lineTo(centre.x() + armHalfLength, centre.y());
    path.moveTo(centre.x(), centre.y() - armHalfLength);
    path.lineTo(centre.x(), centre.y() + armHalfLength);
    return path;
}

QPainterPath PointingStatistics::targetCross(const QPointF& centre, double rms)
{
    return crossPath(centre, rms, 1.3 * rms);
}

QPainterPath PointingStatistics::unitCross()
{
    return crossPath(QPointF(0.0, 0.0), 0.5, 0.75);
}
