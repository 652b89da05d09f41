// How the toolkit-free layers read the settings they use, at the moment they use them.
// The application points this at the settings holder at start-up; until then, and in
// programs without one, the numbers read as 0 and the name as empty.
#pragma once

#include <cstdint>
#include <string>

class SettingsReader {
 public:
  SettingsReader() = default;
  SettingsReader(const SettingsReader&) = delete;
  SettingsReader& operator=(const SettingsReader&) = delete;
  virtual ~SettingsReader() = default;
  // "MIDI Output Device": the device number the transmit port opens (-1: virtual port).
  virtual std::int32_t MidiOutDevice() const = 0;
  // "MIDI Output Device Name": the chosen output's label in the device list, which the
  // transmit port looks up at each open; empty when none is stored (the number counts).
  virtual std::string MidiOutDeviceName() const { return {}; }
  // "TargetDeviceID": the unit's device ID as stored (8 bits).
  virtual std::uint8_t TargetDeviceId() const = 0;
};

// Installs the reader (not owned; null for none) and returns the previous one.
SettingsReader* InstallSettingsReader(SettingsReader* reader);
std::int32_t CurrentMidiOutDevice();
std::string CurrentMidiOutDeviceName();
std::uint8_t CurrentTargetDeviceId();
