#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DesignKeys.h"
#include "EngineFixture.h"
#include "midi/MidiXmit.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"

namespace {

std::vector<std::uint8_t> Bytes(const CRemoteKeyMsg& message) {
  return {message.Data(), message.Data() + message.Length()};
}

std::string Text(const CRemoteKeyMsg& message) {
  return {reinterpret_cast<const char*>(message.Data()) + 5,
          static_cast<std::size_t>(message.Length() - 6)};
}

// Built without a port: nothing is sent and the result is 0.
class RemoteKeyMsgTest : public ::testing::Test {
 protected:
  TestSettings settings;
};

TEST_F(RemoteKeyMsgTest, EntWithDeviceIdZeroIsTheWorkedExample) {
  const CRemoteKeyMsg message('0', 'C');
  const std::vector<std::uint8_t> expected = {
      0xF0, 0x1C, 0x60, 0x00, 0x00, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x30, 0x30, 0x30,
      0x30, 0x43, 0x37, 0x37, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x31, 0x30, 0x30, 0x30,
      0x30, 0x38, 0x32, 0x3A, 0x30, 0x32, 0x36, 0x38, 0x41, 0x45, 0x30, 0x30, 0x37, 0x43,
      0x30, 0x30, 0x36, 0x43, 0x7C, 0x46, 0x45, 0x41, 0x34, 0x35, 0x45, 0xF7};
  EXPECT_EQ(Bytes(message), expected);
  EXPECT_EQ(Text(message), ":017C00000C77:017C01000082:0268AE007C006C|FEA45E");
  EXPECT_EQ(message.SendResult(), 0);
}

TEST_F(RemoteKeyMsgTest, ResetIsTheWorkedExample) {
  const CRemoteKeyMsg message;
  EXPECT_EQ(Bytes(message), (std::vector<std::uint8_t>{0xF0, 0x1C, 0x60, 0x00, 0x00, 0x7C, 0x46,
                                                       0x45, 0x42, 0x36, 0x34, 0x43, 0xF7}));
}

TEST_F(RemoteKeyMsgTest, DeviceIdIsTheStoredValueKeptToSevenBits) {
  struct Case {
    std::uint8_t stored;
    std::uint8_t sent;
  };
  for (const Case c : {Case{0, 0x00}, Case{99, 0x63}, Case{127, 0x7F}, Case{200, 0x48}, Case{255, 0x7F}}) {
    settings.targetDeviceId = c.stored;
    EXPECT_EQ(CRemoteKeyMsg('0', 'C').Data()[3], c.sent) << int(c.stored);
    EXPECT_EQ(CRemoteKeyMsg().Data()[3], c.sent) << int(c.stored);
  }
}

TEST_F(RemoteKeyMsgTest, ChecksumEdgeCases) {
  // Record 1 adds up to 7D plus the code: 83 gives a sum of 0 and 78 a sum of F5.
  EXPECT_EQ(Text(CRemoteKeyMsg('8', '3')).substr(0, 13), ":017C00008300");
  EXPECT_EQ(Text(CRemoteKeyMsg('7', '8')).substr(0, 13), ":017C0000780B");
  // A character that is not an upper-case hex digit goes in unchanged and counts as 0.
  EXPECT_EQ(Text(CRemoteKeyMsg('g', '1')).substr(0, 13), ":017C0000g182");
}

TEST(HexValueTest, DigitsAndEverythingElse) {
  const std::string digits = "0123456789ABCDEF";
  for (unsigned i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), i);
  for (char other : {'a', 'f', 'G', ':', ' ', '\0', '/'}) EXPECT_EQ(HexDigitValue(other), 0u) << other;
  EXPECT_EQ(HexPairValue('F', 'F'), 0xFF);
  EXPECT_EQ(HexPairValue('7', 'C'), 0x7C);
  EXPECT_EQ(HexPairValue('x', 'C'), 0x0C);
}

TEST(KeyTableTest, LookUpsOfBothPaths) {
  EXPECT_EQ(kKeyTable.size(), 26u);
  EXPECT_EQ(FindKeyByValue(QM_VK_RETURN)->name, "ent");
  EXPECT_EQ(FindKeyByValue(kKeyValueE)->name, "ent");
  EXPECT_EQ(FindKeyByControlId(69)->keyValue, QM_VK_RETURN);
  EXPECT_EQ(FindKeyByControlId(109)->keyValue, QM_VK_DOWN) << "109 is not the down key's value";
  EXPECT_EQ(FindKeyByValue(109)->name, "minus");
  EXPECT_EQ(FindKeyByValue(0x6B), nullptr) << "keypad plus";
  for (unsigned notAKey : {1u, 75u, 32771u, 32775u}) EXPECT_EQ(FindKeyByControlId(notAKey), nullptr);
  for (unsigned notAKey : {0x31u, 0x51u, 0x09u, 0x1Bu, 0x20u, 0xBEu}) EXPECT_EQ(FindKeyByValue(notAKey), nullptr);
  EXPECT_EQ(FindKeyByName("reset")->keyCode, "");
  EXPECT_EQ(FindKeyByName("Ent"), nullptr);
}

class RemoteKeySendTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    g_pMidiXmit = &port;
  }
  void TearDown() override {
    g_pMidiXmit = nullptr;
    port.ReleasePort();
    EngineFixture::TearDown();
  }
  CMidiXmit port;
};

TEST(KeyTableTest, EveryRowIsTheDocumentedKey) {
  ASSERT_EQ(kKeyTable.size(), kDesignKeys.size());
  for (std::size_t i = 0; i < kDesignKeys.size(); ++i) {
    const DesignKey& want = kDesignKeys[i];
    SCOPED_TRACE(std::string(want.key));
    EXPECT_EQ(kKeyTable[i].controlId, want.controlId) << "rows follow the template order";
    const KeyRow* byId = FindKeyByControlId(want.controlId);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId->caption, want.caption);
    EXPECT_EQ(byId->keyValue, want.keyValue);
    EXPECT_EQ(byId->keyCode, want.code);
    EXPECT_EQ(FindKeyByValue(want.keyValue), byId);
  }
}

TEST_F(RemoteKeySendTest, EveryKeySendsItsDocumentedBytes) {
  for (std::uint8_t deviceId : {0, 99}) {
    settings.targetDeviceId = deviceId;
    for (const DesignKey& want : kDesignKeys) {
      SCOPED_TRACE(std::string(want.key) + " to device " + std::to_string(deviceId));
      const std::size_t before = fake.LongMessages().size();
      ASSERT_EQ(SendKey(*FindKeyByControlId(want.controlId)), 1);
      ui.Pump();
      ASSERT_EQ(fake.LongMessages().size(), before + 1);
      EXPECT_EQ(fake.LongMessages().back(), DesignMessage(want, deviceId));
    }
  }
}

TEST_F(RemoteKeySendTest, KeysReachTheDeviceAsTheirExactMessages) {
  settings.targetDeviceId = 99;
  EXPECT_EQ(SendKey(*FindKeyByName("ent")), 1);
  EXPECT_EQ(SendKey(*FindKeyByName("reset")), 1);
  ui.Pump();
  const auto sent = fake.LongMessages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].size(), 54u);
  EXPECT_EQ(sent[0][3], 0x63);
  EXPECT_EQ(sent[1].size(), 13u);
}

TEST_F(RemoteKeySendTest, AFailedSendLeavesNothingBehind) {
  fake.openResult = QM_MMSYSERR_ALLOCATED;
  const CRemoteKeyMsg lost('0', '7');
  EXPECT_EQ(lost.SendResult(), 0);
  fake.openResult = 0;
  const CRemoteKeyMsg next('0', 'C');
  EXPECT_EQ(next.SendResult(), 1);
  ui.Pump();
  ASSERT_EQ(fake.LongMessages().size(), 1u);
  EXPECT_EQ(fake.LongMessages()[0], std::vector<std::uint8_t>(next.Data(), next.Data() + 54));
}

}  // namespace
