#include "ui/picture_box.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace fc {

namespace {

// Marks far outside the scale (a frame number beyond 50 on the trace, say) are drawn outside
// the visible area; limiting the coordinates keeps the painter's arithmetic finite.
constexpr double kPixelLimit = 1.0e6;

double LimitPixel(double value) {
  if (std::isnan(value)) return -kPixelLimit;
  return std::clamp(value, -kPixelLimit, kPixelLimit);
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  FitImage();
}

void PictureBox::SetScale(double left, double top, double width, double height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

QSize PictureBox::InnerSize() const {
  return QSize(std::max(1, width() - 2 * kBorder), std::max(1, height() - 2 * kBorder));
}

QPointF PictureBox::ToPixel(double x, double y) const {
  const QSize inner = InnerSize();
  const double px = width_ != 0.0 ? (x - left_) * inner.width() / width_ : 0.0;
  const double py = height_ != 0.0 ? (y - top_) * inner.height() / height_ : 0.0;
  return QPointF(LimitPixel(px), LimitPixel(py));
}

void PictureBox::Clear() {
  image_.fill(back_color_);
  update();
}

void PictureBox::DrawLine(double x1, double y1, double x2, double y2, std::optional<Color> color) {
  QPainter painter(&image_);
  const QColor pen_color = color ? QColor(color->red, color->green, color->blue) : fore_color_;
  painter.setPen(QPen(pen_color, 0));  // cosmetic: one pixel wide whatever the scale
  painter.drawLine(ToPixel(x1, y1), ToPixel(x2, y2));
  update();
}

void PictureBox::FitImage() {
  const QSize inner = InnerSize();
  if (!image_.isNull() && image_.width() >= inner.width() && image_.height() >= inner.height()) {
    return;
  }
  // Grow only: a box made smaller and then larger again still shows what was drawn.
  QImage grown(std::max(inner.width(), image_.isNull() ? 0 : image_.width()),
               std::max(inner.height(), image_.isNull() ? 0 : image_.height()),
               QImage::Format_RGB32);
  grown.fill(back_color_);
  if (!image_.isNull()) {
    QPainter painter(&grown);
    painter.drawImage(0, 0, image_);
  }
  image_ = std::move(grown);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  FitImage();
  QWidget::resizeEvent(event);
}

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.drawImage(QPoint(kBorder, kBorder), image_, QRect(QPoint(0, 0), InnerSize()));
  qDrawShadePanel(&painter, rect(), palette(), /*sunken=*/true, kBorder);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 0, Qt::DotLine));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
  }
}

}  // namespace fc
