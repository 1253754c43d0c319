#include "SpectrumChart.h"

#include "SpectrumTexts.h"

#include <QAreaSeries>
#include <QBrush>
#include <QChart>
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsSimpleTextItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QResizeEvent>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// The level axis: 10 dB above the highest level, at most this far below.
constexpr double LevelSpanDb = 200.0;
constexpr double LevelHeadroomDb = 10.0;
constexpr int FallbackColumns = 800;
constexpr double EmptyNyquist = 1000.0;

const QColor TraceColour(20, 90, 200);
const QColor MaxTraceColour(230, 120, 0);
const QColor BandColour(60, 180, 75, 45);
const QColor PeakColour(200, 0, 0);

}  // namespace

TSpectrumChart::TSpectrumChart(QWidget* parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("SpectrumChart"));
    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    QFont titleFont = chart_->titleFont();
    titleFont.setPointSize(11);
    titleFont.setBold(true);
    chart_->setTitleFont(titleFont);

    bandUpper_ = new QLineSeries(chart_);
    bandLower_ = new QLineSeries(chart_);
    band_ = new QAreaSeries(bandUpper_, bandLower_);
    band_->setName(SpectrumText::ExactBandName);
    band_->setBrush(BandColour);
    band_->setPen(Qt::NoPen);
    trace_ = new QLineSeries;
    trace_->setName(SpectrumText::TraceName);
    trace_->setPen(QPen(TraceColour, 1.0));
    maxTrace_ = new QLineSeries;
    maxTrace_->setName(SpectrumText::MaxTraceName);
    maxTrace_->setPen(QPen(MaxTraceColour, 1.0));
    peak_ = new QScatterSeries;
    peak_->setMarkerSize(9.0);
    peak_->setColor(PeakColour);
    peak_->setBorderColor(PeakColour);
    // Drawn in this order: the band under the traces, the peak on top.
    chart_->addSeries(band_);
    chart_->addSeries(maxTrace_);
    chart_->addSeries(trace_);
    chart_->addSeries(peak_);
    for (QLegendMarker* marker : chart_->legend()->markers(peak_)) {
        marker->setVisible(false);
    }

    QFont axisFont;
    axisFont.setPointSize(10);
    linearX_ = new QValueAxis(this);
    linearX_->setTitleText(SpectrumText::FrequencyAxisTitle);
    linearX_->setLabelFormat(QStringLiteral("%.0f"));
    linearX_->setTickType(QValueAxis::TicksDynamic);
    linearX_->setTickAnchor(0.0);
    linearX_->setLabelsFont(axisFont);
    logX_ = new QLogValueAxis(this);
    logX_->setTitleText(SpectrumText::FrequencyAxisTitle);
    logX_->setBase(10.0);
    logX_->setLabelFormat(QStringLiteral("%g"));
    logX_->setMinorTickCount(8);
    logX_->setLabelsFont(axisFont);
    levelY_ = new QValueAxis;
    levelY_->setTitleText(SpectrumText::LevelAxisTitle);
    levelY_->setLabelFormat(QStringLiteral("%.0f"));
    // Lines every 20 dB on multiples of 20.
    levelY_->setTickType(QValueAxis::TicksDynamic);
    levelY_->setTickAnchor(0.0);
    levelY_->setTickInterval(20.0);
    levelY_->setLabelsFont(axisFont);
    chart_->addAxis(levelY_, Qt::AlignLeft);
    for (QAbstractSeries* series : chart_->series()) {
        series->attachAxis(levelY_);
    }
    logarithmic_ = true;  // so that UseAxis attaches the linear one
    UseAxis(false);
    // Until the first frame: an empty plot with whole axes.
    levelY_->setRange(-LevelSpanDb + LevelHeadroomDb, LevelHeadroomDb);
    linearX_->setRange(0.0, EmptyNyquist);
    linearX_->setTickInterval(EmptyNyquist / 10.0);

    peakText_ = new QGraphicsSimpleTextItem(chart_);
    QFont peakFont;
    peakFont.setPointSize(10);
    peakFont.setBold(true);
    peakText_->setFont(peakFont);
    peakText_->setBrush(PeakColour);
    peakText_->setZValue(10.0);
    peakText_->hide();

    setChart(chart_);
    setRenderHint(QPainter::Antialiasing, true);
    connect(chart_, &QChart::plotAreaChanged, this, [this] { PlacePeakText(); });
}

std::uint32_t TSpectrumChart::PlotColumns() const
{
    const double width = chart_->plotArea().width();
    const int columns = width >= 1.0 ? static_cast<int>(width) : FallbackColumns;
    return static_cast<std::uint32_t>(
        std::clamp(columns, 1, static_cast<int>(measure::MaxPlotColumns)));
}

void TSpectrumChart::UseAxis(bool logarithmic)
{
    if (logarithmic == logarithmic_) {
        return;
    }
    QAbstractAxis* from = logarithmic ? static_cast<QAbstractAxis*>(linearX_) : logX_;
    QAbstractAxis* to = logarithmic ? static_cast<QAbstractAxis*>(logX_) : linearX_;
    if (chart_->axes(Qt::Horizontal).contains(from)) {
        chart_->removeAxis(from);
        from->setParent(this);  // kept for the next switch
    }
    chart_->addAxis(to, Qt::AlignBottom);
    for (QAbstractSeries* series : chart_->series()) {
        series->attachAxis(to);
    }
    logarithmic_ = logarithmic;
}

void TSpectrumChart::SetRanges(const measure::SpectrumFrame& frame)
{
    const double nyquist = std::max(frame.Nyquist, 1.0);
    if (logarithmic_) {
        const double lowest = std::max(frame.BinWidth, 1e-3);
        logX_->setRange(std::pow(10.0, std::floor(std::log10(lowest))), nyquist);
    } else {
        linearX_->setRange(0.0, nyquist);
        // At most eight lines, at 1, 2 or 5 times a power of ten hertz, so
        // that the labels keep clear of each other on a narrow plot too.
        const double rough = nyquist / 8.0;
        const double decade = std::pow(10.0, std::floor(std::log10(rough)));
        const double ratio = rough / decade;
        const double step = ratio <= 1.0   ? decade
                            : ratio <= 2.0 ? 2.0 * decade
                            : ratio <= 5.0 ? 5.0 * decade
                                           : 10.0 * decade;
        linearX_->setTickInterval(step);
    }
    const double top = std::ceil(frame.HighestDbv / 10.0) * 10.0 + LevelHeadroomDb;
    const double bottom = std::max(std::floor(frame.LowestDbv / 20.0) * 20.0, top - LevelSpanDb);
    levelY_->setRange(bottom, std::max(top, bottom + 20.0));
}

void TSpectrumChart::PlaceBand(double low, double high)
{
    bandLow_ = low;
    bandHigh_ = high;
    const double bottom = levelY_->min();
    const double top = levelY_->max();
    bandUpper_->replace(QList<QPointF>{{low, top}, {high, top}});
    bandLower_->replace(QList<QPointF>{{low, bottom}, {high, bottom}});
}

void TSpectrumChart::ShowFrame(const measure::SpectrumFrame& frame, const QString& title,
                               const QString& peakLabel)
{
    const bool logarithmic = frame.Axis == measure::FrequencyAxis::Logarithmic;
    if (logarithmic != logarithmic_) {
        // Points at 0 Hz have no place on a logarithmic axis.
        ShowNothing(title);
        UseAxis(logarithmic);
    }
    SetRanges(frame);
    chart_->setTitle(title);
    points_.clear();
    points_.reserve(static_cast<qsizetype>(frame.Trace.size()));
    for (const measure::PlotPoint& point : frame.Trace) {
        points_.append(QPointF(point.X, point.Y));
    }
    trace_->replace(points_);
    points_.clear();
    for (const measure::PlotPoint& point : frame.MaxTrace) {
        points_.append(QPointF(point.X, point.Y));
    }
    maxTrace_->replace(points_);
    maxTrace_->setVisible(!frame.MaxTrace.empty());
    for (QLegendMarker* marker : chart_->legend()->markers(maxTrace_)) {
        marker->setVisible(!frame.MaxTrace.empty());
    }
    PlaceBand(frame.ExactLow, frame.ExactHigh);
    peakAt_ = QPointF(frame.PeakFrequency, frame.PeakLevelDbv);
    peak_->replace(QList<QPointF>{peakAt_});
    peak_->setVisible(!peakLabel.isEmpty());
    peakText_->setText(peakLabel);
    peakText_->setVisible(!peakLabel.isEmpty());
    // The peak has its label; the legend shows it no marker (Qt makes the
    // markers anew when a series is shown again).
    for (QLegendMarker* marker : chart_->legend()->markers(peak_)) {
        marker->setVisible(false);
    }
    PlacePeakText();
}

void TSpectrumChart::ShowNothing(const QString& title)
{
    chart_->setTitle(title);
    trace_->clear();
    maxTrace_->clear();
    peak_->clear();
    peak_->setVisible(false);
    peakText_->hide();
    bandUpper_->clear();
    bandLower_->clear();
}

void TSpectrumChart::PlacePeakText()
{
    if (!peakText_->isVisible()) {
        return;
    }
    // Right of the marker and above it, moved inside the plot area where it
    // would cross an edge.
    const QRectF area = chart_->plotArea();
    const QPointF at = chart_->mapToPosition(peakAt_, trace_);
    const QRectF box = peakText_->boundingRect();
    constexpr double Gap = 8.0;
    double x = at.x() + Gap;
    if (x + box.width() > area.right() - 2.0) {
        x = at.x() - Gap - box.width();
    }
    x = std::clamp(x, area.left() + 2.0, std::max(area.left() + 2.0, area.right() - box.width()));
    double y = at.y() - box.height() / 2.0;
    y = std::clamp(y, area.top() + 2.0,
                   std::max(area.top() + 2.0, area.bottom() - box.height() - 2.0));
    peakText_->setPos(x, y);
    // The band follows the level axis.
    if (bandUpper_->count() > 0) {
        const double bottom = levelY_->min();
        const double top = levelY_->max();
        if (bandUpper_->at(0).y() != top || bandLower_->at(0).y() != bottom) {
            PlaceBand(bandLow_, bandHigh_);
        }
    }
}

void TSpectrumChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    PlacePeakText();
}
