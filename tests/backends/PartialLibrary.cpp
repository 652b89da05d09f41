// Stands in for a libjack.so.0 and a libasound.so.2 that lack most of the functions the
// backends call. The few it has abort: nothing may be called in a library that failed to
// load.
#include <cstdlib>

extern "C" {
void jack_activate();
void jack_client_open();
void jack_get_version_string();
void snd_lib_error_set_handler();
void snd_seq_open();
}

void jack_activate() { std::abort(); }
void jack_client_open() { std::abort(); }
void jack_get_version_string() { std::abort(); }
void snd_lib_error_set_handler() { std::abort(); }
void snd_seq_open() { std::abort(); }
