// The Windows side of the panel scenario, run under wine beside the program:
//   probe expect ID KEY...      the design's message for each key with device ID ID, one
//                               line of upper-case hex pairs each (tests/support/DesignKeys.h)
//   probe center TITLE CONTROL  the screen position of the centre of a control of the
//                               top-level window titled TITLE, as "X Y"
//   probe owner TITLE           "none" when the window titled TITLE has no owner, else the
//                               owner's title
// Exit status 0, or 1 when the window or control is not there, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DesignKeys.h"

namespace {

std::wstring Wide(const char* text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
  wide.resize(wide.size() - 1);
  return wide;
}

int Expect(int argc, char** argv) {
  const auto deviceId = static_cast<std::uint8_t>(std::strtoul(argv[2], nullptr, 10));
  for (int i = 3; i < argc; ++i) {
    const std::vector<std::uint8_t> bytes = DesignMessage(DesignKeyNamed(argv[i]), deviceId);
    for (std::size_t b = 0; b < bytes.size(); ++b) std::printf(b ? " %02X" : "%02X", bytes[b]);
    std::printf("\n");
  }
  return 0;
}

int Center(char** argv) {
  HWND window = FindWindowW(nullptr, Wide(argv[2]).c_str());
  HWND control = window ? GetDlgItem(window, std::atoi(argv[3])) : nullptr;
  RECT rect{};
  if (!control || !GetWindowRect(control, &rect)) return 1;
  std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return 0;
}

int Owner(char** argv) {
  HWND window = FindWindowW(nullptr, Wide(argv[2]).c_str());
  if (!window) return 1;
  HWND owner = GetWindow(window, GW_OWNER);
  if (!owner) {
    std::printf("none\n");
    return 0;
  }
  wchar_t title[256] = {};
  GetWindowTextW(owner, title, 256);
  char utf8[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, title, -1, utf8, sizeof utf8, nullptr, nullptr);
  std::printf("%s\n", utf8);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "expect" && argc >= 3) return Expect(argc, argv);
  if (command == "center" && argc == 4) return Center(argv);
  if (command == "owner" && argc == 3) return Owner(argv);
  std::fprintf(stderr, "usage: probe expect ID KEY... | center TITLE CONTROL | owner TITLE\n");
  return 2;
}
