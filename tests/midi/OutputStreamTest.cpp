#include <gtest/gtest.h>

#include <algorithm>

#include "EngineFixture.h"
#include "midi/MidiXmit.h"

namespace {

constexpr std::uint32_t kProgramOptions = CMidiXmit::kOpenOptions;

class OutputStreamTest : public EngineFixture {
 protected:
  OutputStream* Open(std::uint32_t options = kProgramOptions, std::uint32_t device = 0,
                     StreamOwner* owner = nullptr) {
    OutputStream* opened = nullptr;
    EXPECT_EQ(OpenOutputStream(&opened, nullptr, device, owner, options), 0u);
    return opened;
  }
  void TearDown() override {
    EXPECT_EQ(CloseOutputStream(&stream), 0u);
    EXPECT_EQ(stream, nullptr);
    EngineFixture::TearDown();
  }
  OutputStream* stream = nullptr;
};

TEST_F(OutputStreamTest, ProgramOptionsGiveThePoolQueueAndFilterOfTheDesign) {
  stream = Open();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->options, 0x12251u);
  EXPECT_EQ(stream->sysexBufferSize, 256u);
  EXPECT_EQ(stream->queueCapacity, 256u);
  EXPECT_EQ(stream->filter, 0u);
  EXPECT_EQ(stream->sysexFree, 4u);
  EXPECT_EQ(stream->sysexFreeMax, 4u);
  int buffers = 0;
  while (stream->sysexPool[buffers]) ++buffers;
  EXPECT_EQ(buffers, 81);
  const auto calls = fake.Calls();
  EXPECT_EQ(calls.front(), "Open 0");
}

TEST_F(OutputStreamTest, FortyByteMessageIsPostedAtItsF7AndSentWhenTheQueueIsPumped) {
  stream = Open();
  const auto message = Message(40);
  ASSERT_EQ(PutAll(stream, std::vector<std::uint8_t>(message.begin(), message.end() - 1)), 0);
  EXPECT_EQ(ui.Pending(), 0u);
  EXPECT_EQ(stream->sysexPool[0]->dwBytesRecorded, 39u);
  ASSERT_EQ(PutSysEx(stream, 0xF7), 0);
  EXPECT_EQ(ui.Pending(), 1u);
  EXPECT_TRUE(fake.LongMessages().empty()) << "the device call waits for the UI thread";
  EXPECT_EQ(stream->sysexCurrent, 1u);

  ui.Pump();
  ASSERT_EQ(fake.LongMessages().size(), 1u);
  EXPECT_EQ(fake.LongMessages()[0], message);

  ASSERT_EQ(PutSysEx(stream, 0xF0), 0);
  EXPECT_EQ(stream->sysexPool[1]->dwBytesRecorded, 1u);
  EXPECT_EQ(stream->sysexPool[1]->lpData[-1], 0xF0);
}

TEST_F(OutputStreamTest, MessagesAroundTheBufferSizeSplitAtFullBuffers) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> parts;
  };
  for (const Case& c : {Case{256, {256}}, Case{257, {256, 1}}, Case{600, {256, 256, 88}}}) {
    SCOPED_TRACE(c.length);
    stream = Open();
    const std::size_t before = fake.LongMessages().size();
    const auto message = Message(c.length);
    ASSERT_EQ(PutAll(stream, message), 0);
    ui.Pump();
    auto sent = fake.LongMessages();
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(sent.size(), c.parts.size());
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].size(), c.parts[i]);
      joined.insert(joined.end(), sent[i].begin(), sent[i].end());
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(CloseOutputStream(&stream), 0u);
  }
}

TEST_F(OutputStreamTest, RotationComesBackToBufferZeroAfterTheEightyFirstBuffer) {
  stream = Open();
  MidiHeader* first = stream->sysexPool[0];
  for (int i = 0; i < 81; ++i) {
    ASSERT_EQ(PutAll(stream, Message(3)), 0);
    ui.Pump();
  }
  EXPECT_EQ(stream->sysexCurrent, 0u);
  ASSERT_EQ(PutAll(stream, Message(5, 0x22)), 0);
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().size(), 82u);
  EXPECT_EQ(fake.LongMessages().back(), Message(5, 0x22));
  EXPECT_EQ(first->dwBufferLength, 256u) << "a returned buffer is whole again";
}

TEST_F(OutputStreamTest, FourBuffersAwayRefuseTheNextByteUntilOneComesBack) {
  fake.completion = FakeMidiServices::Completion::Held;
  stream = Open();
  EXPECT_EQ(stream->options & STATUS_SYSEX_BUSY, 0u);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(PutAll(stream, Message(54)), 0);
    EXPECT_NE(stream->options & STATUS_SYSEX_BUSY, 0u) << "busy from the first post";
  }
  ui.Pump();
  EXPECT_EQ(stream->sysexFree, 0u);
  // Refused even though this byte would not finish a buffer; nothing is stored.
  EXPECT_EQ(PutSysEx(stream, 0xF0), -1);
  EXPECT_EQ(stream->sysexPool[4]->dwBytesRecorded, 0u);

  ASSERT_TRUE(fake.ReleaseOldest());
  EXPECT_EQ(stream->sysexFree, 1u);
  EXPECT_NE(stream->options & STATUS_SYSEX_BUSY, 0u) << "busy until all four are back";
  EXPECT_EQ(PutSysEx(stream, 0xF0), 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(fake.ReleaseOldest());
  EXPECT_EQ(stream->sysexFree, 4u);
  EXPECT_EQ(stream->options & STATUS_SYSEX_BUSY, 0u);
}

TEST_F(OutputStreamTest, OneUninterruptedRunAcceptsAtMostFourBuffersOfBytes) {
  stream = Open();
  int accepted = 0;
  while (PutSysEx(stream, 0x01) == 0) ++accepted;
  EXPECT_EQ(accepted, 4 * 256);
}

TEST_F(OutputStreamTest, FilterAndImmediateEvents) {
  stream = Open(0x02200);  // no pool: SysEx is filtered
  EXPECT_EQ(stream->filter, 0x80u);
  EXPECT_EQ(PutAll(stream, Message(10)), 0);
  EXPECT_EQ(PutSysEx(stream, 0xF0), 0);
  EXPECT_EQ(ui.Pending(), 0u);
  EXPECT_TRUE(fake.ShortMessages().empty());
  ASSERT_EQ(CloseOutputStream(&stream), 0u);

  stream = Open();
  EXPECT_EQ(PutShort(stream, 0x00F0u, kImmediate), 0) << "immediate SysEx is dropped";
  EXPECT_EQ(stream->sysexPool[0]->dwBytesRecorded, 0u);
  EXPECT_EQ(PutShort(stream, 0x403C91u, kImmediate), 0);
  EXPECT_EQ(fake.ShortMessages(), std::vector<std::uint32_t>{0x403C91u});
  EXPECT_EQ(stream->noteOn[0x3C], 1u << 1);
}

TEST(StatusFilterBitTest, MapsEveryStatusKind) {
  struct Case {
    int status;
    int bit;
  };
  const Case cases[] = {{0x00, -1}, {0x7F, -1}, {0x80, 0}, {0x9F, 1}, {0xA3, 2}, {0xB0, 3},
                        {0xC0, 4},  {0xD0, 5},  {0xEF, 6}, {0xF0, 7}, {0xF1, 8}, {0xF6, 13},
                        {0xF7, -1}, {0xF8, 14}, {0xFA, 16}, {0xFE, 20}, {0xFF, 21}};
  for (const Case& c : cases) {
    EXPECT_EQ(StatusFilterBit(static_cast<std::uint8_t>(c.status)), c.bit) << std::hex << c.status;
  }
}

TEST_F(OutputStreamTest, ResetSilencesTrackedNotesInOrderAndKeepsTheBits) {
  stream = Open(0x02200);
  PutShort(stream, 0x7F3C93);  // note 60 on channel 3
  PutShort(stream, 0x7F3C91);  // note 60 on channel 1
  PutShort(stream, 0x7F0A90);  // note 10 on channel 0
  PutShort(stream, 0x7F4095);  // note 64 on channel 5 ...
  PutShort(stream, 0x004095);  // ... off by velocity 0
  PutShort(stream, 0x7F4196);  // note 65 on channel 6 ...
  PutShort(stream, 0x404186);  // ... off by note-off
  EXPECT_EQ(stream->queueCount, 0u) << "without an owner the queue drains at once";
  EXPECT_EQ(stream->noteOn[64], 0u);
  EXPECT_EQ(stream->noteOn[65], 0u);

  const std::size_t before = fake.ShortMessages().size();
  EXPECT_EQ(ResetOutputStream(stream), 0u);
  const auto sent = fake.ShortMessages();
  const std::vector<std::uint32_t> offs(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end());
  EXPECT_EQ(offs, (std::vector<std::uint32_t>{0x000A90, 0x003C91, 0x003C93}));
  EXPECT_EQ(fake.Calls().back(), "Reset");
  EXPECT_EQ(stream->noteOn[60], (1u << 1) | (1u << 3));
}

TEST_F(OutputStreamTest, OwnerQueueHoldsItsCapacityThenRefuses) {
  StreamOwner owner;
  stream = Open(0x00000, 0, &owner);  // queue of 64 events, no pool
  ASSERT_NE(owner.streams, nullptr);
  EXPECT_EQ(owner.streams[0], stream);
  EXPECT_EQ(owner.streams[1], nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(PutShort(stream, 0x7F3C90), 0);
  EXPECT_EQ(PutShort(stream, 0x7F3C90), -1);
  EXPECT_TRUE(fake.ShortMessages().empty()) << "the owner takes queued events";
  ASSERT_EQ(CloseOutputStream(&stream), 0u);
  EXPECT_EQ(owner.streams[0], nullptr);
}

TEST_F(OutputStreamTest, ResetEmptiesAnOwnersQueue) {
  StreamOwner owner;
  stream = Open(0x00000, 0, &owner);  // queue of 64 events, no pool
  for (int i = 0; i < 5; ++i) EXPECT_EQ(PutShort(stream, 0x7F3C90), 0);
  EXPECT_EQ(ResetOutputStream(stream), 0u);
  EXPECT_EQ(stream->queueCount, 0u);
  EXPECT_EQ(stream->queueRead, 0u);
  EXPECT_EQ(stream->queueWrite, 0u);
  int accepted = 0;
  while (accepted < 100 && PutShort(stream, 0x7F3C90) == 0) ++accepted;
  EXPECT_EQ(accepted, 64) << "the whole queue is free again";
  EXPECT_EQ(CloseOutputStream(&stream), 0u);  // before the owner goes
}

// The size table has ten entries; the four option bits of either index can say 15.
TEST_F(OutputStreamTest, SizeIndicesBeyondTheTableAreRefused) {
  for (std::uint32_t index = 10; index <= 15; ++index) {
    for (const std::uint32_t options : {(index << 8) | OPT_SYSEX_BUFFERS | 4, index << 12}) {
      SCOPED_TRACE(options);
      ASSERT_NE(OpenOutputStream(&stream, nullptr, 0, nullptr, options), 0u);
      EXPECT_EQ(stream, nullptr);
    }
  }
  EXPECT_TRUE(fake.Calls().empty()) << "no device was opened";
  stream = Open((9u << 12) | (9u << 8) | OPT_SYSEX_BUFFERS | 4);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->queueCapacity, 32768u);
  EXPECT_EQ(stream->sysexBufferSize, 32768u);
}

TEST_F(OutputStreamTest, DeviceNumberChecks) {
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, 2, nullptr, kProgramOptions), QM_MMSYSERR_BADDEVICEID);
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(fake.Calls().empty()) << "no device call for a bad number";
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, QM_MIDI_MAPPER, nullptr, kProgramOptions), 0u);
  EXPECT_EQ(fake.Calls().front(), "Open -1");
}

TEST_F(OutputStreamTest, NullAndStaleHandles) {
  EXPECT_EQ(CloseOutputStream(nullptr), 0u);
  EXPECT_EQ(CloseOutputStream(&stream), 0u);
  EXPECT_EQ(ResetOutputStream(nullptr), 1u);
  EXPECT_EQ(PutSysEx(nullptr, 0xF0), -1);
  int notAStream = 0;
  auto* stale = reinterpret_cast<OutputStream*>(&notAStream);
  EXPECT_EQ(OpenOutputStream(&stale, nullptr, 0, nullptr, kProgramOptions), static_cast<MidiResult>(-1));
  EXPECT_EQ(stale, nullptr);
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, 0, nullptr, 0x0A000 | OPT_SYSEX_BUFFERS | 81),
            QM_MMSYSERR_INVALPARAM)
      << "queue size index 10 has no table entry";
}

TEST_F(OutputStreamTest, FailuresWhileOpeningLeaveNoDeviceAndNoStream) {
  fake.openResult = QM_MMSYSERR_ALLOCATED;
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, 0, nullptr, kProgramOptions), QM_MMSYSERR_ALLOCATED);
  EXPECT_EQ(stream, nullptr);
  fake.openResult = 0;

  StreamLibFailAllocation(2);  // the record, then the queue
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, 0, nullptr, kProgramOptions), QM_MMSYSERR_NOMEM);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(fake.OpenDevices(), 0) << "the opened device is closed again";
  EXPECT_EQ(fake.Calls().back(), "Close");

  ui.failCreate = true;
  EXPECT_EQ(OpenOutputStream(&stream, nullptr, 0, nullptr, kProgramOptions), QM_MMSYSERR_NOMEM);
  EXPECT_EQ(stream, nullptr);
  ui.failCreate = false;
}

TEST_F(OutputStreamTest, WithoutAPoolSysExIsRefusedAndNeverLeaksOutAsShortMessages) {
  StreamLibFailAllocation(3);  // record, queue, pool array
  stream = Open();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->options & OPT_SYSEX_BUFFERS, 0u);
  EXPECT_EQ(stream->filter, 0u);
  EXPECT_EQ(PutSysEx(stream, 0xF0), -1);
  EXPECT_TRUE(fake.ShortMessages().empty());
}

TEST_F(OutputStreamTest, ShortPoolLimitsBuffersAwaySoTheFilledOneIsNeverAway) {
  fake.completion = FakeMidiServices::Completion::Held;
  fake.failPrepareAt = 3;  // the pool ends after two buffers
  stream = Open();
  EXPECT_EQ(stream->sysexFreeMax, 2u);
  ASSERT_EQ(PutAll(stream, Message(10)), 0);
  ASSERT_EQ(PutAll(stream, Message(10)), 0);
  EXPECT_EQ(stream->sysexCurrent, 0u);
  EXPECT_EQ(PutSysEx(stream, 0xF0), -1) << "buffer 0 is still away";
  ui.Pump();
  ASSERT_TRUE(fake.ReleaseOldest());
  EXPECT_EQ(PutAll(stream, Message(10, 0x33)), 0);
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().back(), Message(10, 0x33));
}

TEST_F(OutputStreamTest, CloseGetsHeldBuffersBackAndDropsPostedOnes) {
  fake.completion = FakeMidiServices::Completion::Held;
  stream = Open();
  ASSERT_EQ(PutAll(stream, Message(54)), 0);
  ASSERT_EQ(PutAll(stream, Message(54)), 0);
  ui.Pump();
  EXPECT_EQ(fake.HeldCount(), 2u);
  ASSERT_EQ(PutAll(stream, Message(54)), 0);  // posted, not yet sent
  EXPECT_EQ(ui.Pending(), 1u);
  EXPECT_EQ(CloseOutputStream(&stream), 0u);
  EXPECT_EQ(fake.HeldCount(), 0u);
  EXPECT_EQ(ui.Pending(), 0u);
  EXPECT_EQ(ui.Pump(), 0);
  EXPECT_EQ(fake.LongMessages().size(), 2u);
  EXPECT_EQ(ui.PostersAlive(), 0);
}

TEST_F(OutputStreamTest, RefusedLongMessageFreesItsPlaceAndIsReportedByTheNextPut) {
  stream = Open();
  fake.longMsgResult = QM_MIDIERR_NOTREADY;
  ASSERT_EQ(PutAll(stream, Message(54)), 0);
  ui.Pump();
  EXPECT_EQ(stream->sysexFree, 4u);
  EXPECT_EQ(PutSysEx(stream, 0xF0), static_cast<int>(QM_MIDIERR_NOTREADY));
}

TEST_F(OutputStreamTest, ExitClosesAStreamLeftOpen) {
  fake.completion = FakeMidiServices::Completion::Held;
  OutputStream* leftOpen = Open();
  ASSERT_EQ(PutAll(leftOpen, Message(20)), 0);
  ui.Pump();
  EXPECT_EQ(StreamLibExit(), 1);
  EXPECT_EQ(fake.OpenDevices(), 0);
  ASSERT_EQ(StreamLibInit(&fake, &ui), 1);
}

// Completions arrive on the fake's own thread while the UI thread keeps putting.
TEST_F(OutputStreamTest, SecondThreadCompletionsWhileTheUiThreadPuts) {
  fake.completion = FakeMidiServices::Completion::OtherThread;
  stream = Open();
  constexpr int kMessages = 1000;
  int sent = 0;
  while (sent < kMessages) {
    auto message = Message(20 + sent % 300, static_cast<std::uint8_t>(sent % 0x70));
    const int first = PutSysEx(stream, message[0]);
    if (first == -1) {
      ui.Pump();
      ASSERT_TRUE(fake.WaitForCompletions());
      continue;
    }
    ASSERT_EQ(first, 0);
    message.erase(message.begin());
    int result = 0;
    while (!message.empty()) {
      result = PutSysEx(stream, message.front());
      if (result == -1) {
        ui.Pump();
        ASSERT_TRUE(fake.WaitForCompletions());
        continue;
      }
      ASSERT_EQ(result, 0);
      message.erase(message.begin());
    }
    ++sent;
    if (sent % 3 == 0) ui.Pump();
  }
  ui.Pump();
  ASSERT_TRUE(fake.WaitForCompletions());
  LockOutput();
  EXPECT_EQ(stream->sysexFree, 4u);
  EXPECT_EQ(stream->options & STATUS_SYSEX_BUSY, 0u);
  UnlockOutput();
  std::vector<std::uint8_t> all;
  for (const auto& part : fake.LongMessages()) all.insert(all.end(), part.begin(), part.end());
  std::size_t expectedBytes = 0;
  for (int i = 0; i < kMessages; ++i) expectedBytes += 20 + static_cast<std::size_t>(i % 300);
  EXPECT_EQ(all.size(), expectedBytes);
  EXPECT_EQ(std::count(all.begin(), all.end(), 0xF7), kMessages);
}

}  // namespace
