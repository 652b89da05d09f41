// What quillmark-send tells its user: one line each, the cause and what to do, with
// whatever came from outside (arguments, input, device names) made safe for a terminal.
#pragma once

#include <string>
#include <string_view>

#include "midi/MidiServices.h"

// The text with every byte that a terminal would act on or could not show as a character
// written as \xHH: control characters (C0, DEL and C1) and bytes that are not part of
// well-formed UTF-8. Everything else, UTF-8 letters of other scripts included, stays.
std::string Printable(std::string_view text);

// The output by name: the MIDI output "<label>".
std::string OutputName(const std::string& label);

std::string NotConnectedText(const std::string& label);
std::string NoVirtualPortText();
// There is no output at all, and what to do about it on this platform.
std::string NoOutputsText();

// A failure of the open output (or of opening it), in this program's words where the
// result is known, else with the device's own text.
std::string DeviceFailureText(MidiResult result, const std::string& label, const std::string& deviceText);

// The words of a transport's own result codes (this and NoOutputsText: one
// implementation per platform); empty for a code the platform does not know.
std::string TransportFailureText(MidiResult result, const std::string& label);
