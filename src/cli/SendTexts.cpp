#include "cli/SendTexts.h"

#include <cstdint>
#include <cstdio>

#include "settings/Utf8Text.h"

namespace {

bool IsControl(std::uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::size_t length = 0;
    const std::optional<char32_t> code = NextUtf8(text, length);
    if (code && !IsControl(*code)) {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    // Each byte of a control character or of a broken sequence on its own.
    const std::size_t bytes = length != 0 ? length : 1;
    for (std::size_t i = 0; i < bytes; ++i) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
      out += hex;
    }
    text.remove_prefix(bytes);
  }
  return out;
}

std::string OutputName(const std::string& label) { return "the MIDI output \"" + label + "\""; }

std::string NotConnectedText(const std::string& label) {
  return OutputName(label) + " is not connected; see quillmark-send --list";
}

std::string NoVirtualPortText() {
  return "the virtual port cannot be made: neither the ALSA sequencer nor a JACK server is "
         "there; load snd-seq or start JACK or PipeWire";
}

std::string DeviceFailureText(MidiResult result, const std::string& label, const std::string& deviceText) {
  switch (result) {
    case kMidiOutputGone:
    case QM_MMSYSERR_BADDEVICEID:
      // A number past the list: the output went away between the look and the open.
      return NotConnectedText(label);
    case QM_MMSYSERR_ALLOCATED:
      return OutputName(label) + " is in use by another program; close it there and run again";
    case QM_MMSYSERR_NOMEM:
      return "out of memory opening " + OutputName(label);
    default:
      break;
  }
  std::string text = TransportFailureText(result, label);
  if (!text.empty()) return text;
  // The device's own words, on one line.
  text = OutputName(label) + " failed: " + deviceText;
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}
