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

  // Draws the whole series again.
  void Rebuild();
  // Adds the series' point at `index`, the last one, to the drawing; the points before it
  // are drawn already.
  void Append(int index);

  // A double click at a scene position: the reading whose marker lies there is chosen.
  // Returns whether there was one.
  bool DoubleClickAt(const QPointF& scene_position);
  // Called with the frame of a reading that is double-clicked.
  std::function<void(int frame)> on_frame_chosen;

 private:
  void AddReading(const QPointF& at, bool joins_previous);
  void AddPrecise(const QPointF& at, bool joins_previous);
  void MarkDisagreement(const RunPoint& point);
  void ExtendTime(double x);
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
  double x_max_ = 0.0;
  std::optional<std::pair<double, double>> y_range_;
};

enum class ImageFormat { Png, Svg };

// The chart as image file bytes at its present size (in its scene, or alone).
std::string RenderChart(QChart& chart, ImageFormat format);

}  // namespace fc
