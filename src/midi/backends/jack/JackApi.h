// The libjack functions the JACK backend calls, as pointers inside the backend's namespace,
// so that the backend's unqualified calls reach them. libjack is opened on first use rather
// than linked: a program that never talks to JACK (quillmark-send --print) does not pay for
// loading it and the C++ runtime it brings, and a machine without libjack simply has no
// JACK server to offer.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/uuid.h>

#define QUILLMARK_JACK_FUNCTIONS(X)      \
  X(jack_activate)                       \
  X(jack_client_close)                   \
  X(jack_client_open)                    \
  X(jack_connect)                        \
  X(jack_deactivate)                     \
  X(jack_disconnect)                     \
  X(jack_frames_since_cycle_start)       \
  X(jack_free)                           \
  X(jack_get_client_name)                \
  X(jack_get_ports)                      \
  X(jack_get_sample_rate)                \
  X(jack_get_version_string)             \
  X(jack_last_frame_time)                \
  X(jack_midi_clear_buffer)              \
  X(jack_midi_event_write)               \
  X(jack_midi_get_event_count)           \
  X(jack_on_info_shutdown)               \
  X(jack_on_shutdown)                    \
  X(jack_port_by_id)                     \
  X(jack_port_by_name)                   \
  X(jack_port_connected)                 \
  X(jack_port_connected_to)              \
  X(jack_port_disconnect)                \
  X(jack_port_flags)                     \
  X(jack_port_get_buffer)                \
  X(jack_port_name)                      \
  X(jack_port_register)                  \
  X(jack_port_uuid)                      \
  X(jack_set_error_function)             \
  X(jack_set_info_function)              \
  X(jack_set_port_connect_callback)      \
  X(jack_set_port_registration_callback) \
  X(jack_set_process_callback)           \
  X(jack_uuid_to_index)

namespace jackbackend {

#define QUILLMARK_JACK_POINTER(name) inline decltype(&::name) name = nullptr;
QUILLMARK_JACK_FUNCTIONS(QUILLMARK_JACK_POINTER)
#undef QUILLMARK_JACK_POINTER

// The library's file name; LD_LIBRARY_PATH picks which one (jackd2's or PipeWire's).
inline constexpr const char* kJackLibrary = "libjack.so.0";

// Opens libjack and fills every pointer above, once per process, from any thread; true
// when they are all set. When the library or any one function is missing, none is set and
// every call answers false: the machine has no JACK server to offer.
bool LoadJackApi();

// The same from a library of the caller's choice, with no once-only guard: for tests of
// a library that lacks a function. Leaves the pointers untouched when it fails.
bool LoadJackApiFrom(const char* library);

}  // namespace jackbackend
