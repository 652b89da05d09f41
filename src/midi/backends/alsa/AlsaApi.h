// The libasound functions the ALSA backend calls, as pointers inside the backend's
// namespace, so that the backend's unqualified calls reach them. libasound is opened on
// first use rather than linked: a program that never talks to the sequencer
// (quillmark-send --print) does not pay for loading it, and a machine without libasound
// simply has no sequencer.
#pragma once

#include <alsa/asoundlib.h>

#define QUILLMARK_ALSA_FUNCTIONS(X)      \
  X(snd_lib_error_set_handler)           \
  X(snd_midi_event_encode_byte)          \
  X(snd_midi_event_free)                 \
  X(snd_midi_event_new)                  \
  X(snd_midi_event_no_status)            \
  X(snd_midi_event_reset_encode)         \
  X(snd_seq_client_id)                   \
  X(snd_seq_client_info_free)            \
  X(snd_seq_client_info_get_client)      \
  X(snd_seq_client_info_get_name)        \
  X(snd_seq_client_info_malloc)          \
  X(snd_seq_client_info_set_client)      \
  X(snd_seq_close)                       \
  X(snd_seq_connect_from)                \
  X(snd_seq_connect_to)                  \
  X(snd_seq_create_simple_port)          \
  X(snd_seq_drain_output)                \
  X(snd_seq_event_input)                 \
  X(snd_seq_event_output_direct)         \
  X(snd_seq_get_any_port_info)           \
  X(snd_seq_open)                        \
  X(snd_seq_poll_descriptors)            \
  X(snd_seq_poll_descriptors_count)      \
  X(snd_seq_port_info_free)              \
  X(snd_seq_port_info_get_capability)    \
  X(snd_seq_port_info_get_name)          \
  X(snd_seq_port_info_get_port)          \
  X(snd_seq_port_info_malloc)            \
  X(snd_seq_port_info_set_client)        \
  X(snd_seq_port_info_set_port)          \
  X(snd_seq_query_next_client)           \
  X(snd_seq_query_next_port)             \
  X(snd_seq_query_port_subscribers)      \
  X(snd_seq_query_subscribe_free)        \
  X(snd_seq_query_subscribe_get_addr)    \
  X(snd_seq_query_subscribe_malloc)      \
  X(snd_seq_query_subscribe_set_index)   \
  X(snd_seq_query_subscribe_set_root)    \
  X(snd_seq_query_subscribe_set_type)    \
  X(snd_seq_set_client_event_filter)     \
  X(snd_seq_set_client_name)

namespace alsabackend {

#define QUILLMARK_ALSA_POINTER(name) inline decltype(&::name) name = nullptr;
QUILLMARK_ALSA_FUNCTIONS(QUILLMARK_ALSA_POINTER)
#undef QUILLMARK_ALSA_POINTER

inline constexpr const char* kAlsaLibrary = "libasound.so.2";

// Opens libasound and fills every pointer above, once per process, from any thread; true
// when they are all set. When the library or any one function is missing, none is set and
// every call answers false: the machine has no sequencer.
bool LoadAlsaApi();

// The same from a library of the caller's choice, with no once-only guard: for tests of
// a library that lacks a function. Leaves the pointers untouched when it fails.
bool LoadAlsaApiFrom(const char* library);

}  // namespace alsabackend
