#pragma once

#include <QObject>
#include <QPointF>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chart/run_series.h"

class QChart;
class QGraphicsSimpleTextItem;
class QColor;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace fc {

// The run chart: the value of every analysed frame against its time, with one line piece per
// run of readings (frames without a reading are gaps) and a marker on every reading for
// hovering and double-clicking. The frame detector's line, the edge timer's precise line, or
// both; a frame whose readings disagree gets a red ring. It draws a RunSeries that it does not
// own.
class RunChart : public QObject {
  Q_OBJECT

 public:
  explicit RunChart(const RunSeries& series, QObject* parent = nullptr);
  ~RunChart() override;

  // The chart, owned here until a view takes it (QChartView::setChart).
  QChart* chart() const { return chart_; }
  // Hands the chart's ownership to whoever shows it.
  void ReleaseChart() { owns_chart_ = false; }

  void SetQuantity(ChartQuantity quantity);
  void SetPulsesPerRev(double pulses_per_rev);
  void SetLines(ChartLines lines);
  ChartLines lines() const { return lines_; }
  // The input's clock calibration, applied to the precise line.
  void SetRatePpm(double rate_ppm);
  // The band, drawn as a dashed line at each limit; none for no limits.
  void SetLimits(const RpmLimits& limits);

  // Draws the whole series again.
  void Rebuild();
  // Adds the series' point at `index`, the last one, to the drawing; the points before it
  // are drawn already. A run long enough to be thinned is drawn again now and then instead.
  void Append(int index);

  // A run of more points than this many per pixel column of the plot is drawn thinned: per
  // column its first, lowest, highest and last point. The series keeps every point.
  static constexpr int kPointsPerColumn = 4;
  // Points appended to a thinned run before it is drawn again.
  static constexpr int kTailPoints = 64;

  // A double click at a scene position: the reading whose marker lies there is chosen.
  // Returns whether there was one.
  bool DoubleClickAt(const QPointF& scene_position);
  // Called with the frame of a reading that is double-clicked.
  std::function<void(int frame)> on_frame_chosen;

 private:
  void AddReading(const QPointF& at, bool joins_previous);
  void AddPrecise(const QPointF& at, bool joins_previous);
  // A new line piece of one reading at `at`, on the chart and its axes.
  QLineSeries* NewPiece(const QPointF& at, const QColor& color);
  void MarkDisagreement(const RunPoint& point);
  void ExtendTime(double x);
  // Pixel columns of the plot, for thinning (a chart not laid out yet counts 1000).
  int Columns() const;
  void DrawLimits();
  void ExtendValue(double y);
  void SetTitles();
  // The note across the plot when there are frames but none has a reading.
  void UpdateNote();
  void OnHovered(const QPointF& point, bool entered);
  const RunPoint* ReadingAt(const QPointF& scene_position, double reach) const;

  const RunSeries& series_;
  QChart* chart_;
  bool owns_chart_ = true;
  QValueAxis* x_axis_;
  QValueAxis* y_axis_;
  QGraphicsSimpleTextItem* note_;  // a child item of the chart
  std::vector<QLineSeries*> pieces_;
  std::vector<QLineSeries*> precise_pieces_;
  QScatterSeries* disagreements_ = nullptr;  // made at the first frame that disagrees
  ChartLines lines_ = ChartLines::Both;
  ChartQuantity quantity_ = ChartQuantity::Rpm;
  double pulses_per_rev_ = 1.0;
  double rate_ppm_ = 0.0;
  RpmLimits limits_;
  std::vector<QLineSeries*> limit_lines_;
  int appended_since_ = 0;  // points appended since the last Rebuild
  double x_max_ = 0.0;
  std::optional<std::pair<double, double>> y_range_;
};

enum class ImageFormat { Png, Svg };

// The chart as image file bytes at its present size (in its scene, or alone).
std::string RenderChart(QChart& chart, ImageFormat format);

}  // namespace fc
