#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/VersionRecord.h"

namespace {

std::string QueryString(const VersionRecord& record, const std::string& block) {
  const void* value = nullptr;
  unsigned length = 0;
  if (!record.QueryValue(block, &value, &length)) return "(missing)";
  const auto* text = static_cast<const char*>(value);
  EXPECT_EQ(length, std::strlen(text) + 1) << block;
  return text;
}

TEST(VersionRecordTest, TheStringTableHoldsTheProgramsStrings) {
  const VersionRecord* record = OwnVersionRecord();
  ASSERT_NE(record, nullptr);
  const std::pair<const char*, const char*> strings[] = {
      {"Comments", ""},
      {"CompanyName", ""},
      {"FileDescription", "Quillmark: H3000 Remote Control"},
      {"FileVersion", "1.0.0.0"},
      {"InternalName", "Quillmark"},
      {"LegalTrademarks", ""},
      {"OriginalFilename", "Quillmark.exe"},
      {"PrivateBuild", ""},
      {"ProductName", "Quillmark"},
      {"ProductVersion", "1.0.0.0"},
      {"SpecialBuild", ""},
  };
  for (const auto& [name, value] : strings) {
    EXPECT_EQ(QueryString(*record, std::string("\\StringFileInfo\\040904b0\\") + name), value);
  }
  EXPECT_EQ(QueryString(*record, "\\StringFileInfo\\040904B0\\productname"), "Quillmark");
  EXPECT_EQ(QueryString(*record, "\\StringFileInfo\\040904b0\\Nonexistent"), "(missing)");
  EXPECT_EQ(QueryString(*record, "\\StringFileInfo\\040704b0\\ProductName"), "(missing)");
  EXPECT_EQ(QueryString(*record, "\\StringFileInfo\\040904b0\\"), "(missing)");
}

TEST(VersionRecordTest, TheFixedPartAndTheTranslationCarryTheProjectVersion) {
  const VersionRecord* record = OwnVersionRecord();
  ASSERT_NE(record, nullptr);
  const void* value = nullptr;
  unsigned length = 0;
  ASSERT_TRUE(record->QueryValue("\\", &value, &length));
  ASSERT_EQ(length, sizeof(VersionFixedInfo));
  const auto& fixed = *static_cast<const VersionFixedInfo*>(value);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00000000u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0x00000000u);

  ASSERT_TRUE(record->QueryValue("\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* pair = static_cast<const std::uint16_t*>(value);
  EXPECT_EQ(pair[0], 0x0409);
  EXPECT_EQ(pair[1], 0x04B0);
}

TEST(VersionRecordTest, ProductVersionTextPutsTheMostSignificantPartFirst) {
  VersionFixedInfo fixed{};
  fixed.dwProductVersionMS = 0x00020003;
  fixed.dwProductVersionLS = 0x0004FFFF;
  EXPECT_EQ(ProductVersionText(fixed), "2.3.4.65535");
  EXPECT_EQ(OwnProductVersion(), "1.0.0.0");
}

TEST(VersionRecordTest, AHiddenRecordLeavesNoOwnVersion) {
  EXPECT_FALSE(HideOwnVersionRecord(true));
  EXPECT_EQ(OwnVersionRecord(), nullptr);
  EXPECT_EQ(OwnProductVersion(), "");
  EXPECT_TRUE(HideOwnVersionRecord(false));
  EXPECT_NE(OwnVersionRecord(), nullptr);
}

}  // namespace
