#include "server/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace {

struct QrFree {
  void operator()(QRcode* code) const { QRcode_free(code); }
};

constexpr int kQuiet = 4;

}  // namespace

QrCode EncodeQr(const std::string& text) {
  QrCode code;
  const std::unique_ptr<QRcode, QrFree> encoded(
      QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()),
                        0, QR_ECLEVEL_M));
  if (!encoded) return code;
  code.width = encoded->width;
  code.dark.resize(static_cast<std::size_t>(code.width) * static_cast<std::size_t>(code.width));
  for (std::size_t i = 0; i < code.dark.size(); ++i) code.dark[i] = (encoded->data[i] & 1) != 0;
  return code;
}

std::string QrForTerminal(const QrCode& code, bool ansi) {
  if (code.width == 0) return {};
  std::string out;
  const int first = -kQuiet;
  const int last = code.width + kQuiet;
  for (int y = first; y < last; y += 2) {
    if (ansi) out += "\x1b[30;47m";
    for (int x = first; x < last; ++x) {
      // With colours set a printed block is dark; without, a printed block is light.
      // Below the last row there is nothing to print.
      auto printed = [&](int row) { return row < last && code.Dark(x, row) == ansi; };
      const bool top = printed(y);
      const bool bottom = printed(y + 1);
      if (top && bottom) {
        out += "\xe2\x96\x88";  // full block
      } else if (top) {
        out += "\xe2\x96\x80";  // upper half block
      } else if (bottom) {
        out += "\xe2\x96\x84";  // lower half block
      } else {
        out += ' ';
      }
    }
    if (ansi) out += "\x1b[0m";
    out += '\n';
  }
  return out;
}
