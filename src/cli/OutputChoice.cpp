#include "cli/OutputChoice.h"

#include <algorithm>

#include "cli/SendCommand.h"
#include "midi/MidiXmit.h"
#include "settings/ProfileStore.h"

namespace {

constexpr char kStoredMark[] = "\t(stored)";

}  // namespace

StoredOutput ReadStoredOutput(const SendEnvironment& environment) {
  if (environment.storedDevice) {
    return {environment.storedDevice(), environment.storedDeviceName ? environment.storedDeviceName() : ""};
  }
  ProfileStore& profile = CurrentProfileStore();
  return {profile.ReadProfileInt(kSettingsSection, "MIDI Output Device", 0),
          profile.ReadProfileString(kSettingsSection, "MIDI Output Device Name", "")};
}

bool ResolveStoredOutput(MidiServices& services, const std::vector<std::string>& labels,
                         const StoredOutput& stored, std::int32_t& device, std::string& error) {
  std::uint32_t found = 0;
  const std::string noOutputs = services.NoOutputsText();
  switch (LookUpOutputDevice(labels, stored.device, stored.name, !noOutputs.empty(), found)) {
    case OutputLookup::Found:
      device = static_cast<std::int32_t>(found);
      return true;
    case OutputLookup::NotConnected:
      error = OutputNotConnectedText(stored.name);
      return false;
    case OutputLookup::NoOutputs:
      error = noOutputs;
      return false;
  }
  return false;
}

void ListOutputs(MidiServices& services, std::ostream& out, std::ostream& err,
                 const std::vector<std::string>& labels, const StoredOutput& stored) {
  if (labels.empty()) err << "quillmark-send: no MIDI outputs found\n";
  const bool byName = !stored.name.empty();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const bool chosen = byName ? labels[i] == stored.name : stored.device == static_cast<std::int32_t>(i);
    out << i << '\t' << labels[i] << (chosen ? kStoredMark : "") << '\n';
  }
  if (byName && std::find(labels.begin(), labels.end(), stored.name) == labels.end()) {
    out << "-\t" << stored.name << " (not connected)" << kStoredMark << '\n';
  }
  const std::string virtualPort = services.VirtualOutputLabel();
  if (!virtualPort.empty()) {
    out << "-1\t" << virtualPort << (!byName && stored.device == -1 ? kStoredMark : "") << '\n';
  }
}
