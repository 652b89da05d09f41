#include "settings/DataFiles.h"

#include <filesystem>
#include <system_error>

#include "settings/VersionRecord.h"

// Set by CMake from the install layout: the data folder relative to the folder of the
// executables, and its absolute location.
#ifndef QUILLMARK_DATA_FROM_BIN
#define QUILLMARK_DATA_FROM_BIN "../share/quillmark"
#endif
#ifndef QUILLMARK_DATA_DIR
#define QUILLMARK_DATA_DIR "/usr/local/share/quillmark"
#endif

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace

std::string FindDataFile(const std::string& path, const std::vector<std::string>& folders) {
  const fs::path relative(path);
  if (path.empty() || !relative.is_relative() || Exists(relative)) return path;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const fs::path candidate = fs::path(folder) / relative;
    if (Exists(candidate)) return candidate.string();
  }
  return path;
}

std::vector<std::string> DataFileFolders() {
  const fs::path bin = fs::path(OwnExecutablePath()).parent_path();
  std::vector<std::string> folders;
  if (!bin.empty()) {
    folders.push_back(bin.string());
    folders.push_back((bin / QUILLMARK_DATA_FROM_BIN).lexically_normal().string());
  }
  folders.emplace_back(QUILLMARK_DATA_DIR);
  return folders;
}

std::string FindDataFile(const std::string& path) {
  const fs::path relative(path);
  if (path.empty() || !relative.is_relative() || Exists(relative)) return path;
  return FindDataFile(path, DataFileFolders());
}
