// The page's address as a QR code (libqrencode), for the window and the terminal.
#pragma once

#include <string>
#include <vector>

struct QrCode {
  int width = 0;                 // modules per side; 0 when the text could not be encoded
  std::vector<bool> dark;        // width * width, row by row
  bool Dark(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < width && dark[static_cast<std::size_t>(y * width + x)]; }
};

// Error correction level M, 8-bit mode, the smallest version that holds the text.
QrCode EncodeQr(const std::string& text);

// The code for a terminal, two module rows a line with the half-block characters, in a
// quiet zone of four modules. With `ansi` the colours are set (black on white) so that
// it scans on a dark or a light terminal; without, light modules are printed as blocks,
// for the usual light-on-dark terminal or log viewer.
std::string QrForTerminal(const QrCode& code, bool ansi);
