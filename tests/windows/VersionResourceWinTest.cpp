// The version record read out of this test program's own VERSIONINFO resource, compiled
// by windres from the build's version and string table.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/VersionRecord.h"

namespace {

std::string StringValue(const VersionRecord& record, const std::string& name) {
  const void* value = nullptr;
  unsigned length = 0;
  if (!record.QueryValue("\\StringFileInfo\\040904b0\\" + name, &value, &length)) return "<missing>";
  const char* text = static_cast<const char*>(value);
  EXPECT_EQ(length, std::strlen(text) + 1) << name;
  return text;
}

TEST(VersionResourceWinTest, TheFixedPartAndTranslationAreTheDesignsOnes) {
  const VersionRecord* record = OwnVersionRecord();
  ASSERT_NE(record, nullptr);
  const void* value = nullptr;
  unsigned length = 0;
  ASSERT_TRUE(record->QueryValue("\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VersionFixedInfo*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<std::uint32_t>(VFT_APP));
  ASSERT_TRUE(record->QueryValue("\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(*static_cast<const std::uint32_t*>(value), 0x04B00409u);
}

TEST(VersionResourceWinTest, TheStringTableAndTheVersionText) {
  const VersionRecord* record = OwnVersionRecord();
  ASSERT_NE(record, nullptr);
  const struct {
    const char* name;
    const char* value;
  } kTable[] = {
      {"Comments", ""},           {"CompanyName", ""},
      {"FileDescription", "Quillmark: H3000 Remote Control"},
      {"FileVersion", "1.0.0.0"}, {"InternalName", "Quillmark"},
      {"LegalTrademarks", ""},    {"OriginalFilename", "Quillmark.exe"},
      {"PrivateBuild", ""},       {"ProductName", "Quillmark"},
      {"ProductVersion", "1.0.0.0"}, {"SpecialBuild", ""},
  };
  for (const auto& entry : kTable) EXPECT_EQ(StringValue(*record, entry.name), entry.value) << entry.name;
  // Names are compared without regard to case, as the system's query does.
  EXPECT_EQ(StringValue(*record, "productname"), "Quillmark");
  EXPECT_EQ(StringValue(*record, "NoSuchEntry"), "<missing>");
  EXPECT_EQ(StringValue(*record, "ProductName") + " version " + OwnProductVersion(),
            "Quillmark version 1.0.0.0");
}

TEST(VersionResourceWinTest, HiddenRecordAndTheExecutablePath) {
  const bool before = HideOwnVersionRecord(true);
  EXPECT_EQ(OwnVersionRecord(), nullptr);
  EXPECT_EQ(OwnProductVersion(), "");
  HideOwnVersionRecord(before);
  const std::string path = OwnExecutablePath();
  EXPECT_TRUE(path.ends_with("\\windows_tests.exe")) << path;
}

}  // namespace
