// Speed of the key path over the fake device: one key press from message construction to
// the device's long message (the post and the pump of the UI queue included), and raw
// SysEx throughput through the engine.
#include <benchmark/benchmark.h>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "remote/KeyTable.h"

namespace {

class EngineScope {
 public:
  EngineScope() {
    fake.recordCalls = false;
    StreamLibInit(&fake, &ui);
  }
  ~EngineScope() { StreamLibExit(); }
  FakeMidiServices fake;
  ManualUiQueue ui;
};

void BM_KeyPress(benchmark::State& state) {
  EngineScope engine;
  CMidiXmit port;
  g_pMidiXmit = &port;
  const KeyRow& ent = *FindKeyByName("ent");
  for (auto _ : state) {
    benchmark::DoNotOptimize(SendKey(ent));
    engine.ui.Pump();
  }
  g_pMidiXmit = nullptr;
  port.ReleasePort();
}
BENCHMARK(BM_KeyPress);

void BM_SysExBytes(benchmark::State& state) {
  EngineScope engine;
  OutputStream* stream = nullptr;
  OpenOutputStream(&stream, nullptr, 0, nullptr, CMidiXmit::kOpenOptions);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    // Four buffers is what one uninterrupted run on the UI thread can take.
    for (int i = 0; i < 4 * 256; ++i) {
      const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(i & 0x7F) << 8)};
      benchmark::DoNotOptimize(PutOutputEvent(stream, &event));
    }
    engine.ui.Pump();
    bytes += 4 * 256;
  }
  state.SetBytesProcessed(bytes);
  CloseOutputStream(&stream);
}
BENCHMARK(BM_SysExBytes);

}  // namespace

BENCHMARK_MAIN();
