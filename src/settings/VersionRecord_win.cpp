// The version record on Windows: the VERSIONINFO resource that windres compiled into the
// executable, read with the system's version functions.
#include "settings/VersionRecord.h"

#include <windows.h>

#include <atomic>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "desktop/WideText_win.h"

namespace {

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  // A path longer than the buffer comes back cut off, with the buffer's size as result.
  for (int attempt = 0; attempt < 6; ++attempt) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
  return {};
}

// The executable's version resource, read once. The system hands strings back as UTF-16;
// their UTF-8 forms are kept here, so that the pointers QueryValue gives stay valid for
// the program's life.
struct LoadedRecord {
  std::vector<BYTE> data;
  std::mutex mutex;
  std::map<std::wstring, std::string> strings;
};

LoadedRecord* Loaded() {
  static const std::unique_ptr<LoadedRecord> s_record = [] () -> std::unique_ptr<LoadedRecord> {
    const std::wstring path = ModulePath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return nullptr;
    auto record = std::make_unique<LoadedRecord>();
    record->data.resize(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, record->data.data())) {
      return nullptr;
    }
    return record;
  }();
  return s_record.get();
}

const VersionRecord g_ownRecord;
std::atomic<bool> g_hidden{false};

bool IsStringBlock(const std::wstring& block) {
  constexpr std::wstring_view kPrefix = L"\\stringfileinfo\\";
  if (block.size() <= kPrefix.size()) return false;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::towlower(block[i]) != kPrefix[i]) return false;
  }
  return true;
}

}  // namespace

bool VersionRecord::QueryValue(std::string_view block, const void** value, unsigned* length) const {
  LoadedRecord* record = Loaded();
  if (!record) return false;
  const std::wstring name = Utf8ToWide(block);
  void* found = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(record->data.data(), name.c_str(), &found, &size) || found == nullptr) {
    return false;
  }
  if (!IsStringBlock(name)) {
    *value = found;
    *length = size;
    return true;
  }
  // For strings the size counts characters, the terminating null included when there is one.
  std::wstring_view text(static_cast<const wchar_t*>(found), size);
  while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  std::wstring key = name;
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
  std::lock_guard<std::mutex> lock(record->mutex);
  const std::string& stored = record->strings.try_emplace(key, WideToUtf8(text)).first->second;
  *value = stored.c_str();
  *length = static_cast<unsigned>(stored.size() + 1);
  return true;
}

const VersionRecord* OwnVersionRecord() {
  if (g_hidden.load(std::memory_order_acquire) || !Loaded()) return nullptr;
  return &g_ownRecord;
}

bool HideOwnVersionRecord(bool bHide) {
  return g_hidden.exchange(bHide, std::memory_order_acq_rel);
}

std::string OwnExecutablePath() { return WideToUtf8(ModulePath()); }
