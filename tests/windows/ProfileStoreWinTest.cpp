// The profile store over the registry, checked with the registry's own functions: what
// the store writes is what the design names (REG_DWORD, REG_SZ, one subkey per section),
// and what somebody else writes there (reg add, the registry editor) is what it reads.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/ProfileStore.h"

namespace {

// A key of its own under the company key, removed before and after each test.
constexpr wchar_t kTestKey[] = L"Software\\Vellicor\\Quillmark Registry Test";
constexpr wchar_t kSettingsKey[] = L"Software\\Vellicor\\Quillmark Registry Test\\Settings";

class ProfileStoreWinTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

  static bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  static void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size), ERROR_SUCCESS);
  }

  ProfileStore store{"Vellicor", "Quillmark Registry Test"};
};

TEST_F(ProfileStoreWinTest, IntegersAreDwordValuesWithMinusOneAsAllOnes) {
  struct Case {
    std::int32_t stored;
    DWORD raw;
  };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{99, 99}, Case{-1, 0xFFFFFFFF},
                       Case{INT32_MIN, 0x80000000}}) {
    ASSERT_TRUE(store.StoreProfileInt(kSettingsSection, "MIDI Output Device", c.stored));
    DWORD type = 0;
    DWORD raw = 0;
    DWORD size = sizeof raw;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"MIDI Output Device", RRF_RT_ANY,
                           &type, &raw, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw, c.raw) << c.stored;
    EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "MIDI Output Device", 5), c.stored);
  }
}

TEST_F(ProfileStoreWinTest, StringsAreRegSzValuesInUtf16) {
  const std::string background = "C:\\Bilder\\Gr\xC3\xBC" "ne Nieten.bmp";  // "Grüne"
  ASSERT_TRUE(store.StoreProfileString(kSettingsSection, "Background", background));
  wchar_t raw[64] = {};
  DWORD type = 0;
  DWORD size = sizeof raw;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"Background", RRF_RT_ANY, &type, raw, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(raw), L"C:\\Bilder\\Gr\u00FCne Nieten.bmp");
  EXPECT_EQ(store.ReadProfileString(kSettingsSection, "Background", "x"), background);
  ASSERT_TRUE(store.StoreProfileString(kSettingsSection, "Background", ""));
  EXPECT_EQ(store.ReadProfileString(kSettingsSection, "Background", "x"), "");
}

TEST_F(ProfileStoreWinTest, ValuesWrittenByOthersAndTheirDefaults) {
  const DWORD device = 0xFFFFFFFF;
  SetRaw(L"MIDI Output Device", REG_DWORD, &device, sizeof device);
  const wchar_t hex[] = L"0x1F";
  SetRaw(L"TargetDeviceID", REG_SZ, hex, sizeof hex);
  const wchar_t host[] = L"versions.example";
  SetRaw(L"Hostname", REG_SZ, host, sizeof host);
  const wchar_t notANumber[] = L"12 monkeys";
  SetRaw(L"MIDI Channel", REG_SZ, notANumber, sizeof notANumber);
  const ULONGLONG wide = 7;
  SetRaw(L"MIDI Input Device", REG_QWORD, &wide, sizeof wide);

  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "MIDI Output Device", 0), -1);
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "TargetDeviceID", 0), 31);
  EXPECT_EQ(store.ReadProfileString(kSettingsSection, "Hostname", "default"), "versions.example");
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "MIDI Channel", 255), 255);
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "MIDI Input Device", 3), 3);
  EXPECT_EQ(store.ReadProfileString(kSettingsSection, "MIDI Output Device", "text"), "text");
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "DisengageOnMinimize", 1), 1);
}

TEST_F(ProfileStoreWinTest, AReadCreatesTheKeyTreeAndDeleteSectionRemovesItsSubkey) {
  EXPECT_FALSE(KeyExists(kSettingsKey));
  EXPECT_EQ(store.ReadProfileString(kSettingsSection, "VersionFile", "/v.txt"), "/v.txt");
  EXPECT_TRUE(KeyExists(kSettingsKey));

  ASSERT_TRUE(store.StoreProfileString(kRecentBackgroundsSection, "File1", "a.bmp"));
  EXPECT_TRUE(KeyExists(L"Software\\Vellicor\\Quillmark Registry Test\\Recent Backgrounds"));
  EXPECT_TRUE(store.DeleteSection(kRecentBackgroundsSection));
  EXPECT_FALSE(KeyExists(L"Software\\Vellicor\\Quillmark Registry Test\\Recent Backgrounds"));
  EXPECT_TRUE(KeyExists(kSettingsKey));
  EXPECT_TRUE(store.DeleteSection(kRecentBackgroundsSection)) << "nothing left to delete";
  EXPECT_EQ(store.Location(), "HKEY_CURRENT_USER\\Software\\Vellicor\\Quillmark Registry Test");
}

}  // namespace
