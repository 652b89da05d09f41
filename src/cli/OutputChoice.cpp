#include "cli/OutputChoice.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "cli/SendCommand.h"
#include "cli/SendTexts.h"
#include "midi/MidiXmit.h"
#include "settings/ProfileStore.h"

namespace {

constexpr char kStoredMark[] = "\t(stored)";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return text;
}

ChosenOutput Output(const std::vector<std::string>& labels, std::int32_t device) {
  if (device < 0) return {device, {}, {}};
  const std::string& label = labels[static_cast<std::size_t>(device)];
  const bool unique = std::count(labels.begin(), labels.end(), label) == 1;
  return {device, label, unique ? label : std::string()};
}

std::string Quoted(const std::vector<std::string>& labels, const std::vector<std::size_t>& which) {
  std::string text;
  for (std::size_t i : which) text += (text.empty() ? "\"" : ", \"") + labels[i] + "\"";
  return text;
}

}  // namespace

StoredOutput ReadStoredOutput(const SendEnvironment& environment) {
  if (environment.storedDevice) {
    return {environment.storedDevice(), environment.storedDeviceName ? environment.storedDeviceName() : ""};
  }
  ProfileStore& profile = CurrentProfileStore();
  return {profile.ReadProfileInt(kSettingsSection, "MIDI Output Device", 0),
          profile.ReadProfileString(kSettingsSection, "MIDI Output Device Name", "")};
}

OutputChoice ChooseOutputDevice(const std::vector<std::string>& labels, const std::string& spec,
                                ChosenOutput& chosen, std::string& error) {
  int number = 0;
  const char* end = spec.data() + spec.size();
  if (const auto [ptr, ec] = std::from_chars(spec.data(), end, number); ec == std::errc() && ptr == end) {
    if (number < -1) {
      error = "--device " + spec + ": an output number is -1 or one of quillmark-send --list";
      return OutputChoice::Usage;
    }
    if (number >= 0 && static_cast<std::size_t>(number) >= labels.size()) {
      error = "there is no MIDI output " + spec + " now; see quillmark-send --list";
      return OutputChoice::Missing;
    }
    chosen = Output(labels, number);
    return OutputChoice::Chosen;
  }
  if (const auto exact = std::find(labels.begin(), labels.end(), spec); exact != labels.end()) {
    chosen = Output(labels, static_cast<std::int32_t>(exact - labels.begin()));
    return OutputChoice::Chosen;
  }
  // The same name in another case, then a part of a name: each must point at one output.
  const std::string wanted = Lower(spec);
  for (const bool whole : {true, false}) {
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      const std::string label = Lower(labels[i]);
      if (whole ? label == wanted : label.find(wanted) != std::string::npos) matches.push_back(i);
    }
    if (matches.size() == 1) {
      chosen = Output(labels, static_cast<std::int32_t>(matches.front()));
      return OutputChoice::Chosen;
    }
    if (matches.size() > 1) {
      error = "\"" + spec + "\" matches several MIDI outputs (" + Quoted(labels, matches) +
              "); give more of the name, or its number from quillmark-send --list";
      return OutputChoice::Usage;
    }
  }
  error = "no MIDI output matches \"" + spec + "\"; see quillmark-send --list";
  return OutputChoice::Missing;
}

OutputChoice ResolveStoredOutput(const std::vector<std::string>& labels, const StoredOutput& stored,
                                 ChosenOutput& chosen, std::string& error) {
  std::uint32_t found = 0;
  switch (LookUpOutputDevice(labels, stored.device, stored.name, true, found)) {
    case OutputLookup::Found:
      break;
    case OutputLookup::NotConnected:
      error = NotConnectedText(stored.name);
      return OutputChoice::Missing;
    case OutputLookup::NoOutputs:
      error = NoOutputsText();
      return OutputChoice::Missing;
  }
  if (found == QM_MIDI_MAPPER) {
    chosen = {-1, {}, {}};
    return OutputChoice::Chosen;
  }
  if (found >= labels.size()) {
    error = "the output number " + std::to_string(stored.device) +
            " stored in the settings is not in the list now; see quillmark-send --list";
    return OutputChoice::Missing;
  }
  chosen = Output(labels, static_cast<std::int32_t>(found));
  return OutputChoice::Chosen;
}

OutputChoice CheckVirtualPort(MidiServices& services, ChosenOutput& chosen, std::string& error) {
  if (chosen.device != -1) return OutputChoice::Chosen;
  // Where there is no label, -1 is the system's own default output.
  chosen.label = services.VirtualOutputLabel();
  if (chosen.label.empty()) {
    chosen.label = "MIDI Mapper";
    return OutputChoice::Chosen;
  }
  if (services.VirtualOutputAvailable()) return OutputChoice::Chosen;
  error = NoVirtualPortText();
  return OutputChoice::Missing;
}

void ListOutputs(MidiServices& services, std::ostream& out, std::ostream& err,
                 const std::vector<std::string>& labels, const StoredOutput& stored) {
  if (labels.empty()) err << "quillmark-send: " << NoOutputsText() << '\n';
  const bool byName = !stored.name.empty();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const bool chosen = byName ? labels[i] == stored.name : stored.device == static_cast<std::int32_t>(i);
    out << i << '\t' << Printable(labels[i]) << (chosen ? kStoredMark : "") << '\n';
  }
  if (byName && std::find(labels.begin(), labels.end(), stored.name) == labels.end()) {
    out << "-\t" << Printable(stored.name) << " (not connected)" << kStoredMark << '\n';
  }
  const std::string virtualPort = services.VirtualOutputLabel();
  if (!virtualPort.empty() && services.VirtualOutputAvailable()) {
    out << "-1\t" << virtualPort << (!byName && stored.device == -1 ? kStoredMark : "") << '\n';
  }
}
