// A started engine over the fake device services and a hand-pumped UI queue.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "RecordingSeams.h"
#include "TestSettings.h"
#include "midi/OutputStream.h"

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StreamLibInit(&fake, &ui), 1); }
  void TearDown() override {
    EXPECT_EQ(StreamLibExit(), 1);
    EXPECT_EQ(fake.OpenDevices(), 0);
    for (const auto& violation : fake.Violations()) ADD_FAILURE() << violation;
  }

  static int PutSysEx(OutputStream* stream, std::uint8_t byte) {
    const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(byte) << 8)};
    return PutOutputEvent(stream, &event);
  }
  static int PutShort(OutputStream* stream, std::uint32_t message, std::uint32_t time = 0) {
    const MidiEvent event{time, message};
    return PutOutputEvent(stream, &event);
  }
  // A SysEx message of the given length: F0, filler bytes, F7.
  static std::vector<std::uint8_t> Message(std::size_t length, std::uint8_t filler = 0x11) {
    std::vector<std::uint8_t> bytes(length, filler);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
  }
  static int PutAll(OutputStream* stream, const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t byte : bytes) {
      const int result = PutSysEx(stream, byte);
      if (result != 0) return result;
    }
    return 0;
  }

  FakeMidiServices fake;
  ManualUiQueue ui;
  RecordingSeams seams;
  TestSettings settings;
};
