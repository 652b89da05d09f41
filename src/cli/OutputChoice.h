// Which output quillmark-send sends to, and how --list shows the outputs: the same
// choice and the same rules as the panel's transmit port.
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

// The output a run sends to: its number now, its label for the user (for the virtual
// port, set by CheckVirtualPort) and the name the port looks it up by when it opens, so that a port
// appearing meanwhile cannot move it (empty where the label is not unique: the number
// counts).
struct ChosenOutput {
  std::int32_t device = 0;
  std::string label;
  std::string lookupName;
};

// Usage: the request itself is wrong (a name that matches several outputs, a number
// below -1); Missing: what it asks for is not there now.
enum class OutputChoice { Chosen, Missing, Usage };

// The output --device names in labels: a number (below the count, or -1 for the virtual
// port), else the exact name, else the one name that equals it without regard to case,
// else the one name containing it without regard to case. The error is for the user.
OutputChoice ChooseOutputDevice(const std::vector<std::string>& labels, const std::string& spec,
                                ChosenOutput& chosen, std::string& error);

// The output the stored choice means in labels: the stored name wherever it now is, else
// the stored number (-1: the virtual port), as the panel reads them.
OutputChoice ResolveStoredOutput(const std::vector<std::string>& labels, const StoredOutput& stored,
                                 ChosenOutput& chosen, std::string& error);

// For the virtual port: its label, and Missing when no transport can make it now.
OutputChoice CheckVirtualPort(MidiServices& services, ChosenOutput& chosen, std::string& error);

// --list: "<number>\t<label>" for each output, "-\t<name> (not connected)" for a stored
// output that is not there, and "-1\tQuillmark virtual port" where the services can make
// the virtual port now; the stored choice has a third column "(stored)". Without any
// output, "no MIDI outputs found" goes to err.
void ListOutputs(MidiServices& services, std::ostream& out, std::ostream& err,
                 const std::vector<std::string>& labels, const StoredOutput& stored);
