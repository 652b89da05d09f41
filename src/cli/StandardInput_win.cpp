// Standard input on Windows: the process's input handle, read as the bytes come. The end
// of a pipe whose writer has gone is the end of the input.
#include <windows.h>

#include "cli/SendCommand.h"
#include "desktop/WideText_win.h"

namespace {

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result = length ? WideToUtf8(std::wstring(text, length)) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) result.pop_back();
  return result;
}

class StandardInput final : public KeyInput {
 public:
  long Read(char* buffer, std::size_t size, std::string& error) override {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
      error = SystemText(ERROR_INVALID_HANDLE);
      return -1;
    }
    DWORD count = 0;
    const DWORD wanted = size > 65536 ? 65536 : static_cast<DWORD>(size);
    if (ReadFile(input, buffer, wanted, &count, nullptr)) return static_cast<long>(count);
    const DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
    error = SystemText(code);
    return -1;
  }
};

}  // namespace

std::unique_ptr<KeyInput> OpenStandardInput() { return std::make_unique<StandardInput>(); }
