#include "server/StoredSettingsReader.h"

#include "settings/ProfileStore.h"

std::int32_t StoredSettingsReader::MidiOutDevice() const {
  return CurrentProfileStore().ReadProfileInt(kSettingsSection, "MIDI Output Device", 0);
}

std::string StoredSettingsReader::MidiOutDeviceName() const {
  return CurrentProfileStore().ReadProfileString(kSettingsSection, "MIDI Output Device Name", "");
}

std::uint8_t StoredSettingsReader::TargetDeviceId() const {
  // The low eight bits, as the settings holder keeps them.
  return static_cast<std::uint8_t>(
      CurrentProfileStore().ReadProfileInt(kSettingsSection, "TargetDeviceID", 0) & 0xFF);
}
