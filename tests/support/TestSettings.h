// Settings for toolkit-free tests: installs itself as the settings reader for its
// lifetime.
#pragma once

#include "midi/SettingsAccess.h"

class TestSettings final : public SettingsReader {
 public:
  TestSettings() : m_previous(InstallSettingsReader(this)) {}
  ~TestSettings() override { InstallSettingsReader(m_previous); }
  std::int32_t MidiOutDevice() const override { return midiOutDevice; }
  std::string MidiOutDeviceName() const override { return midiOutDeviceName; }
  std::uint8_t TargetDeviceId() const override { return targetDeviceId; }

  std::int32_t midiOutDevice = 0;
  std::string midiOutDeviceName;
  std::uint8_t targetDeviceId = 0;

 private:
  SettingsReader* m_previous;
};
