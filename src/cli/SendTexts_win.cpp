// The multimedia system has no codes beyond the standard ones, whose words come from
// the system itself.
#include "cli/SendTexts.h"

std::string NoOutputsText() {
  return "no MIDI output found; connect a MIDI interface and install its driver, then see "
         "quillmark-send --list";
}

std::string TransportFailureText(MidiResult, const std::string&) { return {}; }
