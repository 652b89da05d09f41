#include "midi/SettingsAccess.h"

namespace {
SettingsReader* g_reader = nullptr;  // user-interface thread only
}

SettingsReader* InstallSettingsReader(SettingsReader* reader) {
  SettingsReader* previous = g_reader;
  g_reader = reader;
  return previous;
}

std::int32_t CurrentMidiOutDevice() { return g_reader ? g_reader->MidiOutDevice() : 0; }

std::string CurrentMidiOutDeviceName() { return g_reader ? g_reader->MidiOutDeviceName() : std::string(); }

std::uint8_t CurrentTargetDeviceId() { return g_reader ? g_reader->TargetDeviceId() : 0; }
