#include "chart/run_chart.h"

#include <QBuffer>
#include <QChart>
#include <QCursor>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <memory>

namespace fc {

namespace {

const QColor kLineColor(31, 119, 180);
const QColor kPreciseColor(255, 127, 14);
const QColor kDisagreeColor(214, 39, 40);
constexpr double kLineWidth = 2.0;
constexpr double kMarkerSize = 6.0;
// Room left above the last time when the time axis has to grow, so that a live run does not
// rescale the axis at every frame.
constexpr double kTimeHeadroom = 1.25;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

RunChart::RunChart(const RunSeries& series, QObject* parent)
    : QObject(parent),
      series_(series),
      chart_(new QChart),
      x_axis_(new QValueAxis),
      y_axis_(new QValueAxis),
      note_(new QGraphicsSimpleTextItem(QStringLiteral("No frame has a reading."), chart_)) {
  chart_->legend()->hide();
  chart_->setBackgroundRoundness(0);
  chart_->setDropShadowEnabled(false);
  chart_->setTitle(QStringLiteral("Run Chart"));
  chart_->addAxis(x_axis_, Qt::AlignBottom);
  chart_->addAxis(y_axis_, Qt::AlignLeft);
  for (QValueAxis* axis : {x_axis_, y_axis_}) {
    axis->setGridLineVisible(true);
    axis->setMinorTickCount(1);
    axis->setMinorGridLineVisible(true);
  }
  x_axis_->setLabelFormat(QStringLiteral("%g"));
  y_axis_->setLabelFormat(QStringLiteral("%g"));
  QFont font = note_->font();
  font.setPointSizeF(font.pointSizeF() * 1.5);
  note_->setFont(font);
  note_->setBrush(QColor(90, 90, 90));
  connect(chart_, &QChart::plotAreaChanged, this, &RunChart::UpdateNote);
  Rebuild();
}

RunChart::~RunChart() {
  if (owns_chart_) delete chart_;
}

void RunChart::SetQuantity(ChartQuantity quantity) {
  if (quantity == quantity_) return;
  quantity_ = quantity;
  Rebuild();
}

void RunChart::SetPulsesPerRev(double pulses_per_rev) {
  pulses_per_rev = std::clamp(pulses_per_rev, kMinPulsesPerRev, kMaxPulsesPerRev);
  if (pulses_per_rev == pulses_per_rev_) return;
  pulses_per_rev_ = pulses_per_rev;
  // In periods the limits (in RPM) move with the pulses per revolution.
  if (quantity_ == ChartQuantity::Rpm || limits_.Any()) Rebuild();
}

void RunChart::SetLines(ChartLines lines) {
  if (lines == lines_) return;
  lines_ = lines;
  Rebuild();
}

void RunChart::SetRatePpm(double rate_ppm) {
  if (rate_ppm == rate_ppm_) return;
  rate_ppm_ = rate_ppm;
  if (lines_ != ChartLines::Frame) Rebuild();
}

void RunChart::SetLimits(const RpmLimits& limits) {
  if (limits.min_rpm == limits_.min_rpm && limits.max_rpm == limits_.max_rpm) return;
  limits_ = limits;
  Rebuild();
}

int RunChart::Columns() const {
  const int width = static_cast<int>(chart_->plotArea().width());
  return width > 0 ? width : 1000;
}

void RunChart::DrawLimits() {
  std::size_t line = 0;
  for (const std::optional<double>& rpm : {limits_.min_rpm, limits_.max_rpm}) {
    if (!rpm) continue;
    const double y = quantity_ == ChartQuantity::Rpm ? *rpm : 60.0 / (*rpm * pulses_per_rev_);
    if (line == limit_lines_.size()) {
      auto* limit = new QLineSeries;
      limit->setName(QStringLiteral("limit"));
      limit->setPen(QPen(kDisagreeColor, 1.5, Qt::DashLine));
      chart_->addSeries(limit);
      limit->attachAxis(x_axis_);
      limit->attachAxis(y_axis_);
      limit_lines_.push_back(limit);
      ExtendValue(y);  // the band is seen whatever the readings
    }
    limit_lines_[line++]->replace(QList<QPointF>{{0.0, y}, {x_max_, y}});
  }
}

void RunChart::SetTitles() {
  x_axis_->setTitleText(series_.timing() == FrameTiming::StartTimes
                            ? QStringLiteral("time since the first frame (s)")
                            : QStringLiteral("time = frame \u00d7 4 s (no start times after "
                                             "Read Raw Data)"));
  y_axis_->setTitleText(quantity_ == ChartQuantity::Rpm
                            ? QStringLiteral("RPM (%1 pulse%2 per revolution)")
                                  .arg(QString::fromStdString(FormatPulsesPerRev(pulses_per_rev_)))
                                  .arg(pulses_per_rev_ == 1.0 ? QString() : QStringLiteral("s"))
                            : QStringLiteral("period (s)"));
  // A run without precise readings (a raw data file) keeps the plain title.
  const bool any_precise = std::any_of(series_.points().begin(), series_.points().end(),
                                       [](const RunPoint& point) { return point.HasPrecise(); });
  chart_->setTitle(lines_ == ChartLines::Frame ? QStringLiteral("Run Chart: frame detector")
                   : lines_ == ChartLines::Precise
                       ? QStringLiteral("Run Chart: precise readings (seconds of the card's clock)")
                   : any_precise
                       ? QStringLiteral("Run Chart: frame detector (blue) and precise (orange)")
                       : QStringLiteral("Run Chart"));
}

void RunChart::Rebuild() {
  for (QLineSeries* piece : pieces_) {
    chart_->removeSeries(piece);
    delete piece;
  }
  pieces_.clear();
  for (QLineSeries* piece : precise_pieces_) {
    chart_->removeSeries(piece);
    delete piece;
  }
  precise_pieces_.clear();
  if (disagreements_ != nullptr) {
    chart_->removeSeries(disagreements_);
    delete disagreements_;
    disagreements_ = nullptr;
  }
  for (QLineSeries* limit : limit_lines_) {
    chart_->removeSeries(limit);
    delete limit;
  }
  limit_lines_.clear();
  x_max_ = 0.0;
  y_range_.reset();
  appended_since_ = 0;
  x_axis_->setRange(0.0, 4.0);
  y_axis_->setRange(0.0, 1.0);
  SetTitles();
  // The time axis first: it sets the columns that thinning keeps.
  if (!series_.empty()) ExtendTime(series_.points().back().time_s);
  const bool thin =
      series_.points().size() > static_cast<std::size_t>(kPointsPerColumn * Columns());
  const double column_s = x_max_ / Columns();

  // Whole pieces at once: one replace per piece instead of one append per point.
  const auto draw = [&](const std::vector<std::pair<int, int>>& segments, auto value_of,
                        bool precise) {
    for (const auto& [first, end] : segments) {
      QList<QPointF> points;
      // The column's first, lowest, highest and last point, in time order.
      int lowest = -1;
      int highest = -1;
      int column_first = first;
      double column = -1.0;
      const auto close_column = [&](int last) {
        if (lowest < 0) return;
        int kept[] = {column_first, lowest, highest, last};
        std::sort(std::begin(kept), std::end(kept));
        for (int k = 0; k < 4; ++k) {
          if (k > 0 && kept[k] == kept[k - 1]) continue;
          const RunPoint& point = series_.points()[static_cast<std::size_t>(kept[k])];
          points.append(QPointF(point.time_s, *value_of(point)));
        }
      };
      for (int i = first; i < end; ++i) {
        const RunPoint& point = series_.points()[static_cast<std::size_t>(i)];
        const double value = *value_of(point);
        ExtendTime(point.time_s);
        ExtendValue(value);
        if (!thin) {
          points.append(QPointF(point.time_s, value));
          continue;
        }
        const double at = std::floor(point.time_s / column_s);
        if (at != column) {
          close_column(i - 1);
          column = at;
          column_first = lowest = highest = i;
        } else {
          const auto value_at = [&](int j) {
            return *value_of(series_.points()[static_cast<std::size_t>(j)]);
          };
          if (value < value_at(lowest)) lowest = i;
          if (value > value_at(highest)) highest = i;
        }
      }
      if (thin) close_column(end - 1);
      QLineSeries* piece;
      if (precise) {
        AddPrecise(points.front(), false);
        piece = precise_pieces_.back();
      } else {
        AddReading(points.front(), false);
        piece = pieces_.back();
      }
      // Thinned, the markers would be a smear of several a pixel.
      if (thin) piece->setPointsVisible(false);
      piece->replace(points);
    }
  };
  if (lines_ != ChartLines::Precise) {
    draw(series_.Segments(),
         [this](const RunPoint& point) {
           return RunSeries::Value(point, quantity_, pulses_per_rev_);
         },
         false);
  }
  if (lines_ != ChartLines::Frame) {
    draw(series_.PreciseSegments(),
         [this](const RunPoint& point) {
           return RunSeries::PreciseValue(point, quantity_, pulses_per_rev_, rate_ppm_);
         },
         true);
  }
  for (const RunPoint& point : series_.points()) {
    if (point.Disagrees()) MarkDisagreement(point);
  }
  DrawLimits();
  UpdateNote();
}

void RunChart::UpdateNote() {
  // Without it such a run is an empty plot that looks like a drawing fault.
  note_->setVisible(!series_.empty() && pieces_.empty() && precise_pieces_.empty());
  const QRectF plot = chart_->plotArea();
  const QRectF text = note_->boundingRect();
  note_->setPos(plot.center() - QPointF(text.width() / 2, text.height() / 2));
}

QLineSeries* RunChart::NewPiece(const QPointF& at, const QColor& color) {
  // Each reading is marked on its piece, so that one between two gaps shows too.
  auto* piece = new QLineSeries;
  piece->setPen(QPen(color, kLineWidth));
  piece->setPointsVisible(true);
  piece->setMarkerSize(kMarkerSize);
  piece->append(at);
  chart_->addSeries(piece);
  piece->attachAxis(x_axis_);
  piece->attachAxis(y_axis_);
  connect(piece, &QLineSeries::hovered, this, &RunChart::OnHovered);
  return piece;
}

void RunChart::AddReading(const QPointF& at, bool joins_previous) {
  if (joins_previous && !pieces_.empty()) {
    pieces_.back()->append(at);
  } else {
    pieces_.push_back(NewPiece(at, kLineColor));
  }
}

void RunChart::AddPrecise(const QPointF& at, bool joins_previous) {
  if (joins_previous && !precise_pieces_.empty()) {
    precise_pieces_.back()->append(at);
    return;
  }
  precise_pieces_.push_back(NewPiece(at, kPreciseColor));
  if (precise_pieces_.size() == 1) SetTitles();
}

// On the precise point when that line is drawn, otherwise on the frame detector's point (or
// where the precise one would be when the detector has none).
void RunChart::MarkDisagreement(const RunPoint& point) {
  auto value = RunSeries::PreciseValue(point, quantity_, pulses_per_rev_, rate_ppm_);
  if (lines_ == ChartLines::Frame) {
    if (const auto frame_value = RunSeries::Value(point, quantity_, pulses_per_rev_)) {
      value = frame_value;
    }
  }
  if (!value) return;
  if (disagreements_ == nullptr) {
    disagreements_ = new QScatterSeries;
    disagreements_->setName(QStringLiteral("frame reading disagrees"));
    disagreements_->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    disagreements_->setMarkerSize(3 * kMarkerSize);
    disagreements_->setPen(QPen(kDisagreeColor, kLineWidth));
    disagreements_->setBrush(Qt::NoBrush);
    chart_->addSeries(disagreements_);
    disagreements_->attachAxis(x_axis_);
    disagreements_->attachAxis(y_axis_);
  }
  disagreements_->append(QPointF(point.time_s, *value));
  ExtendValue(*value);
}

void RunChart::Append(int index) {
  const auto& points = series_.points();
  // Qt redraws a whole line piece at every point added to it. Once the run is thinned, new
  // points go to a short tail piece instead, and now and then the whole run is drawn again.
  const bool thinning = points.size() > static_cast<std::size_t>(kPointsPerColumn * Columns());
  if (thinning && ++appended_since_ > kTailPoints) {
    Rebuild();
    return;
  }
  const bool tail_begins = thinning && appended_since_ == 1;
  const RunPoint& point = points[static_cast<std::size_t>(index)];
  const RunPoint* previous = index > 0 ? &points[static_cast<std::size_t>(index - 1)] : nullptr;
  // A frame without a reading takes up time but has no value for the vertical axis.
  ExtendTime(point.time_s);
  const bool none_before = pieces_.empty() && precise_pieces_.empty();
  const auto value = RunSeries::Value(point, quantity_, pulses_per_rev_);
  if (value && lines_ != ChartLines::Precise) {
    const auto before =
        previous ? RunSeries::Value(*previous, quantity_, pulses_per_rev_) : std::nullopt;
    if (before && tail_begins) AddReading(QPointF(previous->time_s, *before), false);
    AddReading(QPointF(point.time_s, *value), before.has_value());
    ExtendValue(*value);
  }
  const auto precise = RunSeries::PreciseValue(point, quantity_, pulses_per_rev_, rate_ppm_);
  if (precise && lines_ != ChartLines::Frame) {
    const auto before = previous ? RunSeries::PreciseValue(*previous, quantity_, pulses_per_rev_,
                                                           rate_ppm_)
                                 : std::nullopt;
    if (before && tail_begins) AddPrecise(QPointF(previous->time_s, *before), false);
    AddPrecise(QPointF(point.time_s, *precise), before.has_value());
    ExtendValue(*precise);
  }
  if (point.Disagrees()) MarkDisagreement(point);
  if (none_before) UpdateNote();
}

void RunChart::ExtendTime(double x) {
  if (x <= x_max_) return;
  x_max_ = std::max(4.0, x * kTimeHeadroom);
  x_axis_->setRange(0.0, x_max_);
  x_axis_->applyNiceNumbers();
  x_max_ = x_axis_->max();
  if (!limit_lines_.empty()) DrawLimits();
}

void RunChart::ExtendValue(double y) {
  if (y_range_ && y >= y_range_->first && y <= y_range_->second) return;
  if (!y_range_) {
    y_range_ = {y, y};
  } else {
    y_range_ = {std::min(y_range_->first, y), std::max(y_range_->second, y)};
  }
  const double span = y_range_->second - y_range_->first;
  const double pad = span > 0.0 ? span * 0.05 : std::max(std::abs(y) * 0.1, 0.01);
  y_axis_->setRange(std::max(0.0, y_range_->first - pad), y_range_->second + pad);
  y_axis_->applyNiceNumbers();
  // Values up to the nice range need no new scale.
  y_range_ = {std::min(y_range_->first, y_axis_->min()),
              std::max(y_range_->second, y_axis_->max())};
}

void RunChart::OnHovered(const QPointF& point, bool entered) {
  if (!entered) {
    QToolTip::hideText();
    return;
  }
  if (const RunPoint* nearest = series_.NearestReading(point.x())) {
    QToolTip::showText(QCursor::pos(), Q(HoverText(*nearest, pulses_per_rev_, rate_ppm_)));
  }
}

const RunPoint* RunChart::ReadingAt(const QPointF& scene_position, double reach) const {
  const RunPoint* nearest = nullptr;
  double best = reach * reach;
  QLineSeries* any = !pieces_.empty()           ? pieces_.front()
                     : !precise_pieces_.empty() ? precise_pieces_.front()
                                                : nullptr;
  if (any == nullptr) return nullptr;
  const auto consider = [&](const RunPoint& point, std::optional<double> value) {
    if (!value) return;
    const QPointF at =
        chart_->mapToScene(chart_->mapToPosition(QPointF(point.time_s, *value), any));
    const QPointF d = at - scene_position;
    const double distance = d.x() * d.x() + d.y() * d.y();
    if (distance <= best) {
      best = distance;
      nearest = &point;
    }
  };
  for (const RunPoint& point : series_.points()) {
    if (lines_ != ChartLines::Precise) {
      consider(point, RunSeries::Value(point, quantity_, pulses_per_rev_));
    }
    if (lines_ != ChartLines::Frame) {
      consider(point, RunSeries::PreciseValue(point, quantity_, pulses_per_rev_, rate_ppm_));
    }
  }
  return nearest;
}

bool RunChart::DoubleClickAt(const QPointF& scene_position) {
  // Qt Charts reports a double click to whichever line piece's shape is on top, with a point
  // that need not be the marker under the mouse; so the marker is looked up here.
  const RunPoint* point = ReadingAt(scene_position, kMarkerSize + 2.0);
  if (point == nullptr) return false;
  if (on_frame_chosen) on_frame_chosen(point->frame);
  return true;
}

std::string RenderChart(QChart& chart, ImageFormat format) {
  std::unique_ptr<QGraphicsScene> own_scene;
  QGraphicsScene* scene = chart.scene();
  if (scene == nullptr) {
    own_scene = std::make_unique<QGraphicsScene>();
    own_scene->addItem(&chart);
    scene = own_scene.get();
  }
  const QRectF source = chart.sceneBoundingRect();
  const QSize size = chart.size().toSize();
  const QRectF target(QPointF(0, 0), QSizeF(size));

  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (format == ImageFormat::Png) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene->render(&painter, target, source);
    painter.end();
    image.save(&buffer, "PNG");
  } else {
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(QStringLiteral("Run Chart"));
    QPainter painter(&generator);
    scene->render(&painter, target, source);
    painter.end();
  }
  if (own_scene) own_scene->removeItem(&chart);
  return bytes.toStdString();
}

}  // namespace fc
