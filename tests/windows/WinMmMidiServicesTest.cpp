// The multimedia MIDI backend against the system's own functions. Wine's multimedia system
// has no MIDI output device on a machine without a sound card, so these are the error
// paths; the codes and texts are the system's, passed through unchanged.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>

#include "midi/backends/MidiBackends.h"
#include "midi/backends/winmm/WinMmMidiServices.h"

namespace {

std::atomic<int> g_callbacks{0};
void CountingCallback(HMidiOut, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) { ++g_callbacks; }

std::string SystemErrorText(UINT code) {
  char text[MAXERRORLENGTH] = {};
  if (midiOutGetErrorTextA(code, text, MAXERRORLENGTH) != MMSYSERR_NOERROR) return "<none>";
  return text;
}

TEST(WinMmMidiServicesTest, DeviceListIsTheSystems) {
  WinMmMidiServices services;
  ASSERT_EQ(services.OutDeviceCount(), midiOutGetNumDevs());
  ASSERT_EQ(services.InDeviceCount(), midiInGetNumDevs());
  std::string name = "unchanged";
  EXPECT_FALSE(services.OutDeviceName(services.OutDeviceCount(), name));
  EXPECT_FALSE(services.InDeviceName(services.InDeviceCount(), name));
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(OutDeviceNames(services).size(), services.OutDeviceCount());
}

TEST(WinMmMidiServicesTest, AFailedOpenStoresNullAndNeverCallsBack) {
  auto services = CreateMidiServices();
  const unsigned count = services->OutDeviceCount();
  g_callbacks = 0;
  HMidiOut device = reinterpret_cast<HMidiOut>(std::uintptr_t{1});
  EXPECT_EQ(services->Open(&device, count, CountingCallback, 7), QM_MMSYSERR_BADDEVICEID);
  EXPECT_EQ(device, nullptr);
  device = reinterpret_cast<HMidiOut>(std::uintptr_t{1});
  EXPECT_EQ(services->Open(&device, 0, nullptr, 7), QM_MMSYSERR_INVALPARAM);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(services->Open(nullptr, 0, CountingCallback, 7), QM_MMSYSERR_INVALPARAM);
  EXPECT_EQ(g_callbacks, 0);
}

TEST(WinMmMidiServicesTest, NoDeviceIsAnInvalidHandle) {
  WinMmMidiServices services;
  std::uint8_t bytes[4] = {0xF0, 0x7E, 0x00, 0xF7};
  MidiHeader header;
  header.lpData = bytes;
  header.dwBufferLength = sizeof bytes;
  EXPECT_EQ(services.PrepareHeader(nullptr, &header, kMidiHeaderSize), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services.LongMsg(nullptr, &header, kMidiHeaderSize), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services.UnprepareHeader(nullptr, &header, kMidiHeaderSize), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services.ShortMsg(nullptr, 0x903C40), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services.Reset(nullptr), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services.Close(nullptr), QM_MMSYSERR_INVALHANDLE);
  EXPECT_EQ(header.dwFlags, 0u);
}

TEST(WinMmMidiServicesTest, ErrorTextsAreTheSystemsForItsCodes) {
  auto services = CreateMidiServices();
  int systemTexts = 0;
  for (UINT code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 64u, 65u, 66u, 67u, 68u,
                    69u, 70u, 71u, kBackendErrorBase + 1}) {
    const std::string system = SystemErrorText(code);
    if (system == "<none>") {
      // Codes the system has no text for (wine knows none for 70 and 71) get the standard
      // table's.
      EXPECT_EQ(services->ErrorText(code), StandardMidiErrorText(code)) << code;
    } else {
      ++systemTexts;
      EXPECT_EQ(services->ErrorText(code), system) << code;
    }
  }
  EXPECT_GE(systemTexts, 18);
  EXPECT_EQ(services->ErrorText(QM_MMSYSERR_BADDEVICEID),
            "A device ID has been used that is out of range for your system.");
}

}  // namespace
