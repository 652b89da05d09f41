// The one place that picks the MIDI backends of this platform.
#pragma once

#include <memory>

#include "midi/MidiServices.h"

// The device services of this platform: on Linux the ALSA sequencer's ports first, then
// the JACK server's; QM_MIDI_MAPPER opens the virtual port on the sequencer when there is
// one, else on the JACK server.
std::unique_ptr<MidiServices> CreateMidiServices();
