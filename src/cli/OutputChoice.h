// Which output quillmark-send uses when --device is not given, and how --list shows the
// outputs: the same choice and the same rules as the panel's transmit port.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class MidiServices;
struct SendEnvironment;

// "MIDI Output Device" and "MIDI Output Device Name".
struct StoredOutput {
  std::int32_t device = 0;
  std::string name;
};

// The environment's stored choice when it gives one, else the profile's.
StoredOutput ReadStoredOutput(const SendEnvironment& environment);

// The device number the stored choice means in the current output list (labels): the
// stored name wherever it now is, else the stored number. False with the text for the
// user when the named output is not connected or there is no output at all (where the
// services have a text for that).
bool ResolveStoredOutput(MidiServices& services, const std::vector<std::string>& labels,
                         const StoredOutput& stored, std::int32_t& device, std::string& error);

// --list: "<number>\t<label>" for each output, "-\t<name> (not connected)" for a stored
// output that is not there, and "-1\tQuillmark virtual port" where the services have a
// virtual port; the stored choice has a third column "(stored)". Without any output, "no
// MIDI outputs found" goes to err.
void ListOutputs(MidiServices& services, std::ostream& out, std::ostream& err,
                 const std::vector<std::string>& labels, const StoredOutput& stored);
