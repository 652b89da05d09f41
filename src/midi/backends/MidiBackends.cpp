#include "midi/backends/MidiBackends.h"

#include "midi/backends/CompositeMidiServices.h"

#if defined(_WIN32)
#include "midi/backends/winmm/WinMmMidiServices.h"
#endif
#if defined(__linux__)
#include "midi/backends/alsa/AlsaMidiServices.h"
#include "midi/backends/jack/JackMidiServices.h"
#endif

std::unique_ptr<MidiServices> CreateMidiServices() {
#if defined(_WIN32)
  // One system device list: the multimedia system's own numbers and mapper.
  return std::make_unique<WinMmMidiServices>();
#endif
  auto composite = std::make_unique<CompositeMidiServices>();
#if defined(__linux__)
  auto alsa = std::make_unique<AlsaMidiServices>();
  AlsaMidiServices* alsaServices = alsa.get();
  composite->Add(std::move(alsa), [alsaServices] { return alsaServices->HasSequencer(); }, "ALSA");
  composite->Add(std::make_unique<JackMidiServices>(), {}, "JACK");
#endif
  return composite;
}
