#pragma once

#include "SpectrumTap.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>

class QAreaSeries;
class QChart;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QLogValueAxis;
class QScatterSeries;
class QValueAxis;

// The plot of the page "Спектр": the reduced trace of one channel in dBV RMS
// against frequency (linear or logarithmic axis), the maximum trace, the band
// where the estimate is exact shaded, and the peak marked with its label.
class TSpectrumChart : public QChartView {
public:
    explicit TSpectrumChart(QWidget* parent = nullptr);

    // Pixel columns of the plot area: what a frame is reduced to.
    std::uint32_t PlotColumns() const;

    // Draws a frame; peakLabel is the text next to the peak (empty: no label).
    void ShowFrame(const measure::SpectrumFrame& frame, const QString& title,
                   const QString& peakLabel);
    // An empty plot with a title that says why.
    void ShowNothing(const QString& title);

    // Tests and the bench.
    QLineSeries* Trace() const { return trace_; }
    QLineSeries* MaxTrace() const { return maxTrace_; }
    QAreaSeries* ExactBand() const { return band_; }
    QScatterSeries* Peak() const { return peak_; }
    QGraphicsSimpleTextItem* PeakText() const { return peakText_; }
    bool Logarithmic() const { return logarithmic_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void UseAxis(bool logarithmic);
    void SetRanges(const measure::SpectrumFrame& frame);
    void PlaceBand(double low, double high);
    void PlacePeakText();

    QChart* chart_ = nullptr;
    QLineSeries* trace_ = nullptr;
    QLineSeries* maxTrace_ = nullptr;
    QLineSeries* bandUpper_ = nullptr;
    QLineSeries* bandLower_ = nullptr;
    QAreaSeries* band_ = nullptr;
    QScatterSeries* peak_ = nullptr;
    QGraphicsSimpleTextItem* peakText_ = nullptr;
    QValueAxis* linearX_ = nullptr;
    QLogValueAxis* logX_ = nullptr;
    QValueAxis* levelY_ = nullptr;
    bool logarithmic_ = false;
    double bandLow_ = 0.0;
    double bandHigh_ = 0.0;
    QPointF peakAt_;
    // Reused for each frame so that a redraw does not grow new lists.
    QList<QPointF> points_;
};
