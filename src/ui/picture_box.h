#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QWidget>
#include <optional>

#include "analysis/picture.h"

namespace fc {

// A picture box: a sunken frame around a drawing surface with a user coordinate scale
// (x to the right, y down). Drawings go into a retained image, so they survive repaints,
// covering and resizing; Clear fills the image with the background colour.
class PictureBox : public QWidget, public Picture {
  Q_OBJECT

 public:
  static constexpr int kBorder = 2;

  explicit PictureBox(QWidget* parent = nullptr);

  // The user scale: the inner area spans `width` units from `left` and `height` units from
  // `top`.
  void SetScale(double left, double top, double width, double height);
  double ScaleLeft() const { return left_; }
  double ScaleTop() const { return top_; }
  double ScaleWidth() const { return width_; }
  double ScaleHeight() const { return height_; }

  void Clear() override;
  void DrawLine(double x1, double y1, double x2, double y2,
                std::optional<Color> color = std::nullopt) override;

  // The drawing surface's size in pixels and where a point of the user scale lands on it.
  QSize InnerSize() const;
  QPointF ToPixel(double x, double y) const;

  const QImage& image() const { return image_; }
  QColor BackColor() const { return back_color_; }
  QColor ForeColor() const { return fore_color_; }
  void SetForeColor(const QColor& color) { fore_color_ = color; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitImage();

  QImage image_;
  QColor back_color_{Qt::white};
  QColor fore_color_{Qt::black};
  double left_ = 0.0;
  double top_ = 0.0;
  double width_ = 1.0;
  double height_ = 1.0;
};

}  // namespace fc
