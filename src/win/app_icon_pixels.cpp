#include "win/app_icon_pixels.h"

#include <algorithm>
#include <cmath>

namespace morlane::win {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Color {
  double r, g, b;
};

struct Point {
  double x, y;
};

constexpr Color kTileTop{0x2f / 255.0, 0x6f / 255.0, 0xb3 / 255.0};
constexpr Color kTileBottom{0x16 / 255.0, 0x3d / 255.0, 0x6b / 255.0};
constexpr Color kWhite{1, 1, 1};
constexpr Color kYellow{1, 0xd2 / 255.0, 0x3f / 255.0};

double Clamp01(double value) {
  return std::clamp(value, 0.0, 1.0);
}

// Premultiplied colour per pixel; every shape is laid over what is there, its edges
// smoothed over one pixel.
class Canvas {
 public:
  explicit Canvas(int size) : size_(size), pixels_(static_cast<size_t>(size) * size) {}

  template <typename Coverage, typename Paint>
  void Fill(Coverage coverage, Paint paint) {
    for (int y = 0; y < size_; ++y) {
      for (int x = 0; x < size_; ++x) {
        Point at{x + 0.5, y + 0.5};
        double alpha = coverage(at);
        if (alpha <= 0) continue;
        Color color = paint(at);
        Pixel& p = pixels_[static_cast<size_t>(y) * size_ + x];
        p.r = color.r * alpha + p.r * (1 - alpha);
        p.g = color.g * alpha + p.g * (1 - alpha);
        p.b = color.b * alpha + p.b * (1 - alpha);
        p.a = alpha + p.a * (1 - alpha);
      }
    }
  }

  std::vector<uint32_t> Straight() const {
    std::vector<uint32_t> out;
    out.reserve(pixels_.size());
    for (const Pixel& p : pixels_) {
      auto channel = [&p](double premultiplied) {
        return static_cast<uint32_t>(std::lround(Clamp01(p.a > 0 ? premultiplied / p.a : 0) * 255));
      };
      uint32_t a = static_cast<uint32_t>(std::lround(Clamp01(p.a) * 255));
      out.push_back(a << 24 | channel(p.r) << 16 | channel(p.g) << 8 | channel(p.b));
    }
    return out;
  }

 private:
  struct Pixel {
    double r = 0, g = 0, b = 0, a = 0;
  };
  int size_;
  std::vector<Pixel> pixels_;
};

// Where a point lies against a segment: across it, and along it beyond its nearer end
// (negative inside), and at which length from its start.
struct SegmentPlace {
  double across;
  double beyond;
  double along;
};

SegmentPlace PlaceOn(Point p, Point a, Point b) {
  double dx = b.x - a.x, dy = b.y - a.y;
  double length = std::hypot(dx, dy);
  if (length == 0) return {std::hypot(p.x - a.x, p.y - a.y), 0, 0};
  double along = ((p.x - a.x) * dx + (p.y - a.y) * dy) / length;
  double across = std::abs((p.x - a.x) * dy - (p.y - a.y) * dx) / length;
  return {across, std::max(-along, along - length), along};
}

// A line of the given width through the points, with round ends and joins.
void StrokePath(Canvas& canvas, const std::vector<Point>& points, double width, Color color) {
  canvas.Fill(
      [&](Point p) {
        double nearest = 1e9;
        for (size_t i = 0; i + 1 < points.size(); ++i) {
          SegmentPlace place = PlaceOn(p, points[i], points[i + 1]);
          nearest = std::min(nearest, std::hypot(place.across, std::max(place.beyond, 0.0)));
        }
        return Clamp01(width / 2 + 0.5 - nearest);
      },
      [color](Point) { return color; });
}

// A dashed line with flat ends: dashes four widths long, gaps two.
void StrokeDashed(Canvas& canvas, Point a, Point b, double width, Color color) {
  const double dash = 4 * width, period = 6 * width;
  canvas.Fill(
      [&](Point p) {
        SegmentPlace place = PlaceOn(p, a, b);
        double phase = std::fmod(std::max(place.along, 0.0), period);
        double inDash = Clamp01(std::min(phase + 0.5, dash - phase + 0.5));
        return Clamp01(width / 2 + 0.5 - place.across) * Clamp01(0.5 - place.beyond) * inDash;
      },
      [color](Point) { return color; });
}

}  // namespace

std::vector<uint32_t> AppIconPixels(int size) {
  Canvas canvas(size);
  const double s = size;

  // The tile: a rounded square, darker towards the bottom.
  const double radius = s * 0.18, half = (s - 1) / 2, centre = s / 2;
  canvas.Fill(
      [&](Point p) {
        double qx = std::abs(p.x - centre) - (half - radius);
        double qy = std::abs(p.y - centre) - (half - radius);
        double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) +
                         std::min(std::max(qx, qy), 0.0) - radius;
        return Clamp01(0.5 - outside);
      },
      [&](Point p) {
        double t = Clamp01(p.y / s);
        return Color{kTileTop.r + (kTileBottom.r - kTileTop.r) * t,
                     kTileTop.g + (kTileBottom.g - kTileTop.g) * t,
                     kTileTop.b + (kTileBottom.b - kTileTop.b) * t};
      });

  const double line = std::max(1.0, s / 16);
  const double left = s * 0.16, top = s * 0.16, width = s * 0.68, height = s * 0.68;
  const double right = left + width, bottom = top + height;
  StrokePath(canvas, {{left, top}, {right, top}, {right, bottom}, {left, bottom}, {left, top}},
             line, kWhite);
  StrokePath(canvas, {{left, bottom}, {right, top}}, line, kWhite);

  // Direct current, upper left.
  const double dcLeft = left + width * 0.12, dcRight = left + width * 0.46;
  const double dcTop = top + height * 0.2, dcLow = dcTop + height * 0.12;
  StrokePath(canvas, {{dcLeft, dcTop}, {dcRight, dcTop}}, line, kYellow);
  if (size >= 24) {
    StrokeDashed(canvas, {dcLeft, dcLow}, {dcRight, dcLow}, line, kYellow);
  } else {
    StrokePath(canvas, {{dcLeft, dcLow}, {dcRight, dcLow}}, line, kYellow);
  }

  // Alternating current, lower right: one period of a sine.
  std::vector<Point> wave;
  const double waveLeft = left + width * 0.52, waveWidth = width * 0.38;
  const double waveMid = top + height * 0.76, amplitude = height * 0.1;
  for (int step = 0; step <= 24; ++step) {
    double t = step / 24.0;
    wave.push_back({waveLeft + t * waveWidth, waveMid - amplitude * std::sin(t * 2 * kPi)});
  }
  StrokePath(canvas, wave, line, kYellow);
  return canvas.Straight();
}

}  // namespace morlane::win
