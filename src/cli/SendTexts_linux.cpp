// The words of the ALSA and JACK backends' own result codes.
#include "cli/SendTexts.h"
#include "midi/backends/alsa/AlsaOutDevice.h"
#include "midi/backends/jack/JackMidiServices.h"

std::string NoOutputsText() {
  return "no MIDI output found; start JACK or PipeWire, or connect a MIDI interface, then see "
         "quillmark-send --list";
}

std::string TransportFailureText(MidiResult result, const std::string& label) {
  switch (result) {
    case kAlsaNoSequencer:
      return "the ALSA sequencer is not available; load the snd-seq kernel module";
    case kAlsaPortFailed:
      return "could not create a port on the ALSA sequencer for " + OutputName(label) +
             "; check the sequencer's client limit (cat /proc/asound/seq/clients)";
    case kAlsaConnectFailed:
    case kJackConnectFailed:
      return "could not connect to " + OutputName(label) +
             "; the program that owns it may have closed it, see quillmark-send --list";
    case kAlsaSendFailed:
      return "the ALSA sequencer did not take the message for " + OutputName(label) +
             "; run again";
    case kAlsaPortBusy:
      return OutputName(label) + " is held by another program; close it there and run again";
    case kAlsaReceiverFull:
      return "the program behind " + OutputName(label) +
             " has stopped reading; check that program and run again";
    case kJackServerGone:
      return "the JACK server is not running or has stopped; start it (or PipeWire) and run again";
    case kJackClientFailed:
      return "the JACK server refused quillmark-send as a client; check the server's messages";
    case kJackPortFailed:
      return "could not create a MIDI port on the JACK server for " + OutputName(label) +
             "; check the server's messages";
    case kJackEventTooLarge:
      return "the message does not fit into the JACK server's MIDI buffer; start JACK with a "
             "larger period";
    case kJackStuck:
      return "the JACK server did not hand back the MIDI buffers in time; restart the JACK server";
    default:
      return {};
  }
}
