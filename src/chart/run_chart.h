#pragma once

#include <QObject>
#include <QPointF>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chart/run_series.h"

class QChart;
class QLineSeries;
class QValueAxis;

namespace fc {

// The run chart: the value of every analysed frame against its time, with one line piece per
// run of readings (frames without a reading are gaps) and a marker on every reading for
// hovering and double-clicking. It draws a RunSeries that it does not own.
class RunChart : public QObject {
  Q_OBJECT

 public:
  explicit RunChart(const RunSeries& series, QObject* parent = nullptr);
  ~RunChart() override;

  // The chart, owned here until a view takes it (QChartView::setChart).
  QChart* chart() const { return chart_; }
  // Hands the chart's ownership to whoever shows it.
  void ReleaseChart() { owns_chart_ = false; }

  ChartQuantity quantity() const { return quantity_; }
  int pulses_per_rev() const { return pulses_per_rev_; }
  void SetQuantity(ChartQuantity quantity);
  void SetPulsesPerRev(int pulses_per_rev);

  // Draws the whole series again.
  void Rebuild();
  // Takes in one published frame: a frame added at the end is appended to the drawing, any
  // other change redraws.
  void Apply(const SeriesChange& change);

  // A double click at a scene position: the reading whose marker lies there is chosen.
  // Returns whether there was one.
  bool DoubleClickAt(const QPointF& scene_position);
  // Called with the frame of a reading that is double-clicked.
  std::function<void(int frame)> on_frame_chosen;

 private:
  void AddReading(const RunPoint& point, bool joins_previous);
  void ExtendAxes(double x, double y);
  void SetTitles();
  void OnHovered(const QPointF& point, bool entered);
  const RunPoint* ReadingAt(const QPointF& scene_position, double reach) const;

  const RunSeries& series_;
  QChart* chart_;
  bool owns_chart_ = true;
  QValueAxis* x_axis_;
  QValueAxis* y_axis_;
  std::vector<QLineSeries*> pieces_;
  ChartQuantity quantity_ = ChartQuantity::Rpm;
  int pulses_per_rev_ = 1;
  double x_max_ = 0.0;
  std::optional<std::pair<double, double>> y_range_;
};

enum class ImageFormat { Png, Svg };

// The chart as image file bytes at its present size (in its scene, or alone).
std::string RenderChart(QChart& chart, ImageFormat format);

// The image format a file name asks for; nullopt when it ends in neither .png nor .svg.
std::optional<ImageFormat> ImageFormatOf(const std::string& file_name);

}  // namespace fc
