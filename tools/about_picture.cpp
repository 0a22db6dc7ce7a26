// Paints the About picture: a sandstone wall photographed in daylight, with a barred
// window, a no-parking sign on a leaning pole, the program's name and version mark, and
// a plainer band of stone at the bottom for the credit lines. Writes it as a JPEG.
//
//   tavrin-about-picture <output.jpg>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// jpeglib.h uses size_t and FILE without declaring them.
#include <jpeglib.h>

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 320;
constexpr int kBandTop = 240;  // the lower quarter, where the About box puts its labels

struct Rgb {
  double r = 0, g = 0, b = 0;
};

Rgb operator*(Rgb c, double k) {
  return {c.r * k, c.g * k, c.b * k};
}
Rgb operator+(Rgb a, Rgb b) {
  return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Rgb Mix(Rgb a, Rgb b, double t) {
  return a * (1 - t) + b * t;
}

class Canvas {
 public:
  Canvas() : pixels_(kWidth * kHeight) {}
  Rgb& At(int x, int y) { return pixels_[static_cast<std::size_t>(y * kWidth + x)]; }
  // Blends `colour` over the pixel with the given coverage (0..1).
  void Blend(int x, int y, Rgb colour, double coverage) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || coverage <= 0) return;
    Rgb& p = At(x, y);
    p = Mix(p, colour, std::min(coverage, 1.0));
  }
  void Darken(int x, int y, double amount) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || amount <= 0) return;
    At(x, y) = At(x, y) * (1 - std::min(amount, 1.0));
  }

 private:
  std::vector<Rgb> pixels_;
};

// ---- noise -----------------------------------------------------------------------

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                    static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

double Random01(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  return (Hash(x, y, seed) & 0xFFFFFF) / double(0xFFFFFF);
}

double SmoothNoise(double x, double y, std::uint32_t seed) {
  const int x0 = static_cast<int>(std::floor(x));
  const int y0 = static_cast<int>(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double a = Random01(x0, y0, seed), b = Random01(x0 + 1, y0, seed);
  const double c = Random01(x0, y0 + 1, seed), d = Random01(x0 + 1, y0 + 1, seed);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

// Fractal noise in about -0.5..0.5.
double Fbm(double x, double y, std::uint32_t seed, int octaves = 4) {
  double sum = 0, amplitude = 0.5, total = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += (SmoothNoise(x, y, seed + static_cast<std::uint32_t>(i)) - 0.5) * amplitude;
    total += amplitude;
    x *= 2.03;
    y *= 2.03;
    amplitude *= 0.5;
  }
  return sum / total;
}

// ---- the wall --------------------------------------------------------------------

const Rgb kSandstone{214, 192, 150};
const Rgb kMortar{178, 166, 142};
const Rgb kBandStone{240, 229, 204};

struct Course {
  int top;
  int height;
  std::uint32_t seed;
};

// Distance from x to the nearest vertical joint of a course, and the block's index.
void BlockAt(const Course& course, double x, int* block, double* to_joint) {
  double left = -Random01(0, static_cast<std::int32_t>(course.seed), 7) * 40;
  int index = 0;
  while (true) {
    const double length = 46 + Random01(index, static_cast<std::int32_t>(course.seed), 11) * 34;
    if (x < left + length) {
      *block = index;
      *to_joint = std::min(x - left, left + length - x);
      return;
    }
    left += length;
    ++index;
  }
}

void PaintWall(Canvas& canvas) {
  std::vector<Course> courses;
  for (int top = -9, i = 0; top < kBandTop; ++i) {
    const int height = 30 + static_cast<int>(Random01(i, 3, 5) * 7);
    courses.push_back({top, height, static_cast<std::uint32_t>(100 + i)});
    top += height;
  }
  for (int y = 0; y < kBandTop; ++y) {
    const Course* course = &courses.front();
    for (const Course& c : courses)
      if (y >= c.top) course = &c;
    const double in_course = y - course->top;
    const double to_bed = std::min(in_course, course->height - in_course);
    for (int x = 0; x < kWidth; ++x) {
      int block = 0;
      double to_joint = 0;
      BlockAt(*course, x + Fbm(x * 0.1, y * 0.1, 41) * 2, &block, &to_joint);
      const double edge = std::min(to_joint, to_bed + Fbm(x * 0.15, y * 0.2, 43) * 1.5);
      // Each block is cut from a slightly different bed of stone.
      const double tint = (Random01(block, static_cast<std::int32_t>(course->seed), 13) - 0.5);
      Rgb stone = kSandstone * (1 + tint * 0.12);
      stone.r += tint * 10;
      stone.b -= tint * 8;
      const double grain = Fbm(x / 18.0, y / 9.0, 17) * 0.16 + Fbm(x / 3.0, y / 3.0, 19) * 0.10;
      const double pit = Random01(x, y, 23) > 0.985 ? -0.18 : 0;
      stone = stone * (1 + grain + pit);
      // Light comes from the upper left: top edges of blocks catch it, lower edges shade.
      if (edge < 4) {
        const double t = 1 - edge / 4;
        const bool lower = in_course > course->height / 2.0;
        stone = stone * (1 + (lower ? -0.16 : 0.08) * t);
      }
      const Rgb mortar = kMortar * (1 + Fbm(x / 4.0, y / 4.0, 29) * 0.2);
      canvas.At(x, y) = edge < 1.3 ? mortar : stone;
    }
  }
}

// The lower quarter: one long smooth slab, lighter and with little texture.
void PaintBand(Canvas& canvas) {
  for (int y = kBandTop; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double k = 1 + Fbm(x / 40.0, y / 25.0, 61) * 0.06 + Fbm(x / 2.5, y / 2.5, 67) * 0.04;
      Rgb c = kBandStone * k;
      if (y < kBandTop + 2)
        c = kMortar * 0.9;  // joint between the wall and the slab
      else if (y < kBandTop + 5)
        c = c * (1.05);  // the slab's lit top edge
      canvas.At(x, y) = c;
    }
  }
}

// ---- the barred window -----------------------------------------------------------

void PaintWindow(Canvas& canvas) {
  const int left = 152, top = 16, right = 226, bottom = 112;
  const int frame = 7;
  // Stone surround, a little paler than the wall, with a sill that juts out.
  for (int y = top - frame; y < bottom + frame + 4; ++y) {
    for (int x = left - frame; x < right + frame; ++x) {
      if (x >= left && x < right && y >= top && y < bottom) continue;
      const bool sill = y >= bottom + frame - 2;
      double k = 1.07 + Fbm(x / 6.0, y / 6.0, 71) * 0.12;
      if (sill) k = 1.12 - (y - (bottom + frame - 2)) * 0.09;
      canvas.At(x, y) = kSandstone * k;
    }
  }
  for (int x = left - frame; x < right + frame; ++x) canvas.Darken(x, bottom + frame + 4, 0.35);
  // Dark interior behind the glass: deep shadow with a faint reflection of the sky.
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const double sky = std::max(0.0, 1 - (y - top) / 60.0) * 0.35;
      Rgb c = Mix(Rgb{28, 30, 36}, Rgb{120, 140, 165}, sky);
      c = c * (1 + Fbm(x / 8.0, y / 8.0, 73) * 0.3);
      // The reveal on the left and top is in shadow.
      if (x - left < 6 || y - top < 6)
        c = Mix(Rgb{70, 60, 48}, c, std::min(x - left, y - top) / 6.0);
      canvas.At(x, y) = c;
    }
  }
  // Iron bars: vertical rods with a lit left side, one cross bar.
  const int bars = 5;
  for (int i = 1; i <= bars; ++i) {
    const int cx = left + (right - left) * i / (bars + 1);
    for (int y = top; y < bottom; ++y) {
      for (int dx = -2; dx <= 2; ++dx) {
        const double light = dx < 0 ? 1.5 : dx == 0 ? 1.0 : 0.6;
        canvas.At(cx + dx, y) = Rgb{58, 54, 50} * light;
      }
      canvas.Darken(cx + 4, y, 0.25);  // shadow of the rod on the glass
    }
  }
  for (int y = (top + bottom) / 2 - 2; y <= (top + bottom) / 2 + 2; ++y)
    for (int x = left; x < right; ++x)
      canvas.At(x, y) = Rgb{58, 54, 50} * (y < (top + bottom) / 2 ? 1.45 : 0.75);
}

// ---- the no-parking sign ----------------------------------------------------------

const double kSignX = 70, kSignY = 150, kSignRadius = 44;
const double kPoleFootX = 42;  // where the pole enters at the bottom edge

double Coverage(const auto& inside, int x, int y) {
  int hits = 0;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      if (inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4)) ++hits;
  return hits / 16.0;
}

double DistanceToSegment(double px, double py, double ax, double ay, double bx, double by) {
  const double vx = bx - ax, vy = by - ay;
  const double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
  return std::hypot(px - (ax + t * vx), py - (ay + t * vy));
}

void PaintPole(Canvas& canvas) {
  const double ax = kPoleFootX, ay = kHeight + 4, bx = kSignX + 4, by = kSignY;
  // Shadow cast on the wall first, offset down and to the right.
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double d = DistanceToSegment(x - 7, y - 5, ax, ay, bx, by);
      if (d < 3.5) canvas.Darken(x, y, 0.28 * std::min(1.0, 3.5 - d));
    }
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      auto inside = [&](double px, double py) {
        return DistanceToSegment(px, py, ax, ay, bx, by) < 2.6;
      };
      const double cov = Coverage(inside, x, y);
      if (cov <= 0) continue;
      // Across the pole: lit on the left, dark on the right, a bright streak of metal.
      const double vx = bx - ax, vy = by - ay, len = std::hypot(vx, vy);
      const double across = ((x + 0.5 - ax) * -vy + (y + 0.5 - ay) * vx) / len;
      const double light = 1.1 - across * 0.12 + (std::abs(across + 1) < 0.7 ? 0.35 : 0);
      canvas.Blend(x, y, Rgb{140, 142, 146} * light, cov);
    }
}

void PaintSign(Canvas& canvas) {
  const Rgb red{200, 28, 30}, blue{20, 70, 160}, rim{225, 225, 220};
  // Soft shadow on the wall.
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double d = std::hypot(x - kSignX - 8, y - kSignY - 6) - kSignRadius;
      if (d < 3) canvas.Darken(x, y, 0.3 * std::min(1.0, (3 - d) / 4));
    }
  const double dir = std::sqrt(0.5);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double cov = Coverage(
          [&](double px, double py) { return std::hypot(px - kSignX, py - kSignY) < kSignRadius; },
          x, y);
      if (cov <= 0) continue;
      const double px = x + 0.5 - kSignX, py = y + 0.5 - kSignY;
      const double r = std::hypot(px, py);
      // Stripe from upper left to lower right.
      const double off_stripe = std::abs(px * dir - py * dir);
      Rgb c;
      if (r > kSignRadius - 2.2)
        c = rim;
      else if (r > kSignRadius - 11)
        c = red;
      else if (off_stripe < 5.5)
        c = red;
      else
        c = blue;
      // Daylight from the upper left, slight sheen, worn paint.
      const double shade = 1.08 - (px + py) / (kSignRadius * 6) + Fbm(x / 5.0, y / 5.0, 83) * 0.08;
      canvas.Blend(x, y, c * shade, cov);
    }
}

// ---- the lettering ---------------------------------------------------------------

using Glyph = std::array<const char*, 7>;

const Glyph* GlyphFor(char ch) {
  static const Glyph t{".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."};
  static const Glyph a{".....", ".....", ".###.", "....#", ".####", "#...#", ".####"};
  static const Glyph v{".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."};
  static const Glyph r{".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."};
  static const Glyph i{"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."};
  static const Glyph n{".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"};
  static const Glyph e{".....", ".....", ".###.", "#...#", "#####", "#....", ".###."};
  static const Glyph two{".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"};
  switch (ch) {
    case 't':
      return &t;
    case 'a':
      return &a;
    case 'v':
      return &v;
    case 'r':
      return &r;
    case 'i':
      return &i;
    case 'n':
      return &n;
    case 'e':
      return &e;
    case '2':
      return &two;
    default:
      return nullptr;
  }
}

bool GlyphCell(const Glyph& g, int col, int row) {
  return col >= 0 && col < 5 && row >= 0 && row < 7 && g[static_cast<std::size_t>(row)][col] == '#';
}

// Black bold letters painted on the stone: each cell of the 5x7 font is a rounded block,
// widened to the right for the bold face.
void PaintText(Canvas& canvas, const std::string& text, double left, double top, double cell) {
  const double advance = 6 * cell;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const Glyph* glyph = GlyphFor(text[k]);
    if (!glyph) continue;
    const double gx = left + static_cast<double>(k) * advance;
    auto inside = [&](double px, double py) {
      const double u = (px - gx) / cell, v = (py - top) / cell;
      for (double du : {0.0, -0.35, -0.7}) {
        const int col = static_cast<int>(std::floor(u + du)), row = static_cast<int>(std::floor(v));
        if (GlyphCell(*glyph, col, row)) return true;
      }
      return false;
    };
    for (int y = static_cast<int>(top) - 1; y < top + 7 * cell + 1; ++y)
      for (int x = static_cast<int>(gx) - 1; x < gx + 6 * cell + 1; ++x) {
        const double cov = Coverage(inside, x, y);
        const double ink = 16 + Fbm(x / 3.0, y / 3.0, 97) * 30;
        canvas.Blend(x, y, Rgb{ink, ink, ink + 2}, cov * 0.96);
      }
  }
}

// ---- finishing --------------------------------------------------------------------

// A camera's touch: light falling off toward the corners and fine sensor grain.
void Photograph(Canvas& canvas) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double dx = (x - kWidth * 0.45) / kWidth, dy = (y - kHeight * 0.4) / kHeight;
      const double vignette = 1 - 0.35 * (dx * dx + dy * dy);
      const double grain = (Random01(x, y, 101) - 0.5) * 7;
      Rgb& p = canvas.At(x, y);
      p = p * vignette + Rgb{grain, grain, grain};
    }
}

std::uint8_t ToByte(double v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0) + 0.5);
}

bool WriteJpeg(Canvas& canvas, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (!file) {
    std::perror(path);
    return false;
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 88, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(kWidth * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < kWidth; ++x) {
      const Rgb& p = canvas.At(x, y);
      row[static_cast<std::size_t>(x * 3)] = ToByte(p.r);
      row[static_cast<std::size_t>(x * 3 + 1)] = ToByte(p.g);
      row[static_cast<std::size_t>(x * 3 + 2)] = ToByte(p.b);
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.jpg>\n", argv[0]);
    return 2;
  }
  Canvas canvas;
  PaintWall(canvas);
  PaintBand(canvas);
  PaintWindow(canvas);
  PaintPole(canvas);
  PaintSign(canvas);
  PaintText(canvas, "tavrin", 125, 140, 2.9);
  PaintText(canvas, "ver 2", 125, 170, 2.9);
  Photograph(canvas);
  return WriteJpeg(canvas, argv[1]) ? 0 : 1;
}
