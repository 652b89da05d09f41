// A user-space MIDI receiver for the kernel tests, to be killed mid-run: a sequencer client
// named by its argument with one writable port "in". It prints "ready" once the port
// exists, then a '.' for every complete SysEx message it reads.
#include <alsa/asoundlib.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, 0) < 0) return 1;
  snd_seq_set_client_name(seq, argv[1]);
  if (snd_seq_create_simple_port(seq, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION) < 0) {
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::fputs("ready\n", stdout);
  for (;;) {
    snd_seq_event_t* event = nullptr;
    if (snd_seq_event_input(seq, &event) < 0 || !event || event->type != SND_SEQ_EVENT_SYSEX) continue;
    const auto* data = static_cast<const unsigned char*>(event->data.ext.ptr);
    if (event->data.ext.len > 0 && data[event->data.ext.len - 1] == 0xF7) std::fputc('.', stdout);
  }
}
