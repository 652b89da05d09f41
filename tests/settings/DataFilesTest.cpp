#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/DataFiles.h"

namespace {

namespace fs = std::filesystem;

// A relative background path: the current folder first, then beside the executable, then
// the installed data folder; the first that holds the file wins.
class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("quillmark-datafiles-" + std::to_string(::getpid()));
    for (const char* folder : {"cwd", "bin", "share"}) fs::create_directories(root / folder);
    previous = fs::current_path();
    fs::current_path(root / "cwd");
  }
  void TearDown() override {
    fs::current_path(previous);
    fs::remove_all(root);
  }
  void Put(const char* folder, const char* name) { std::ofstream(root / folder / name) << "x"; }
  std::string In(const char* folder, const char* name) const { return (root / folder / name).string(); }

  fs::path root;
  fs::path previous;
};

TEST_F(DataFilesTest, CurrentFolderThenBesideTheExecutableThenTheDataFolder) {
  Put("cwd", "here.bmp");
  Put("bin", "here.bmp");
  Put("bin", "beside.bmp");
  Put("share", "beside.bmp");
  Put("share", "data.bmp");
  fs::create_directories(root / "share" / "sub");
  Put("share", "sub/nested.bmp");
  const std::vector<std::string> folders = {In("bin", ""), In("share", "")};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"here.bmp", "here.bmp"},  // unchanged: opened from the current folder
      {"beside.bmp", In("bin", "beside.bmp")},
      {"data.bmp", In("share", "data.bmp")},
      {"sub/nested.bmp", In("share", "sub/nested.bmp")},
      {"missing.bmp", "missing.bmp"},  // unchanged, so the failure names what was asked for
      {In("share", "data.bmp"), In("share", "data.bmp")},
      {"/nowhere/data.bmp", "/nowhere/data.bmp"},  // an absolute path is never moved
      {"", ""},
  };
  for (const auto& [path, found] : cases) {
    EXPECT_EQ(fs::path(FindDataFile(path, folders)).lexically_normal(), fs::path(found).lexically_normal())
        << path;
  }
}

}  // namespace
