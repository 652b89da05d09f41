// The MIDI settings as stored in the profile, read afresh at each use: for a program
// without the settings holder (the headless mode), so a choice made meanwhile in the
// panel's Preferences counts from the next open of the port and the next key.
#pragma once

#include "midi/SettingsAccess.h"

class StoredSettingsReader final : public SettingsReader {
 public:
  std::int32_t MidiOutDevice() const override;
  std::string MidiOutDeviceName() const override;
  std::uint8_t TargetDeviceId() const override;
};
