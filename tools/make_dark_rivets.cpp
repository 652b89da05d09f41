// Writes DarkRivets.bmp, the default panel background: a 64 x 64 tile of dark brushed
// steel with a plate seam along its top and left edges and one domed rivet, so that
// tiling it gives a riveted front plate. 24-bit Windows bitmap, fully deterministic.
//   make_dark_rivets OUTPUT.bmp
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 64;

std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

double Noise(int x, int y) { return (Hash(static_cast<std::uint32_t>(y * 131 + x * 7919 + 17)) & 0xFF) / 255.0; }

struct Rgb {
  double r, g, b;
};

Rgb Pixel(int x, int y) {
  // Brushed steel: a per-row streak plus fine grain.
  const double streak = (Hash(static_cast<std::uint32_t>(y) * 2654435761U) & 0xFF) / 255.0;
  double level = 40.0 + 10.0 * streak + 6.0 * Noise(x, y);
  // The seam between plates: a dark groove with a lit lip below and right of it.
  if (x == 0 || y == 0) level = 18.0;
  else if (x == 1 || y == 1) level += 22.0;
  Rgb colour{level, level + 1.0, level + 4.0};

  // A domed rivet, lit from the top left.
  const double cx = 9.5, cy = 9.5, radius = 4.2;
  const double dx = x - cx, dy = y - cy;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance <= radius) {
    const double nz = std::sqrt(std::max(0.0, 1.0 - (distance / radius) * (distance / radius)));
    const double light = std::max(0.0, (-dx - dy) / (radius * 1.414) * 0.7 + nz * 0.6);
    const double shade = 55.0 + 150.0 * light;
    colour = {shade, shade, shade + 6.0};
  } else if (distance <= radius + 1.3 && dx + dy > 0) {
    colour = {colour.r * 0.45, colour.g * 0.45, colour.b * 0.45};  // cast shadow
  }
  return colour;
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_dark_rivets OUTPUT.bmp\n");
    return 2;
  }
  const unsigned rowBytes = (kSize * 3 + 3) & ~3u;
  const unsigned imageBytes = rowBytes * kSize;
  std::vector<std::uint8_t> file;
  file.push_back('B');
  file.push_back('M');
  Put32(file, 54 + imageBytes);
  Put32(file, 0);
  Put32(file, 54);
  Put32(file, 40);  // BITMAPINFOHEADER
  Put32(file, kSize);
  Put32(file, kSize);
  Put16(file, 1);
  Put16(file, 24);
  Put32(file, 0);
  Put32(file, imageBytes);
  Put32(file, 2835);
  Put32(file, 2835);
  Put32(file, 0);
  Put32(file, 0);
  for (int y = kSize - 1; y >= 0; --y) {  // bottom-up rows
    unsigned written = 0;
    for (int x = 0; x < kSize; ++x) {
      const Rgb c = Pixel(x, y);
      const auto clamp = [](double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); };
      file.push_back(clamp(c.b));
      file.push_back(clamp(c.g));
      file.push_back(clamp(c.r));
      written += 3;
    }
    for (; written < rowBytes; ++written) file.push_back(0);
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && ok ? 0 : 1;
}
