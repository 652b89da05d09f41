#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "EngineFixture.h"
#include "midi/MidiXmit.h"

namespace {

class MidiXmitTest : public EngineFixture {
 protected:
  void TearDown() override {
    port.ReleasePort();
    EngineFixture::TearDown();
  }
  int SendMessage(std::size_t length = 54) {
    const auto bytes = Message(length);
    return port.Send(static_cast<int>(bytes.size()), bytes.data());
  }
  static std::string OpenErrorText(const std::string& systemText, int location) {
    return "Error: " + systemText + "\nError location: MidiXmit (" + std::to_string(location) + ")\n";
  }
  CMidiXmit port;
};

TEST_F(MidiXmitTest, SendOpensTheSettingsDeviceAndTheBytesGoOutOnThePump) {
  settings.midiOutDevice = 1;
  ASSERT_EQ(SendMessage(), 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(fake.LastOpenedDevice(), 1u);
  EXPECT_TRUE(fake.LongMessages().empty());
  ui.Pump();
  ASSERT_EQ(fake.LongMessages().size(), 1u);
  EXPECT_EQ(fake.LongMessages()[0], Message(54));
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_TRUE(seams.Beeps().empty());
}

TEST_F(MidiXmitTest, EmptySendOnAReleasedPortOpensIt) {
  EXPECT_EQ(port.Send(0, nullptr), 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Send(-3, nullptr), 1);
}

TEST_F(MidiXmitTest, OpenFailuresShowTheDeviceErrorBoxThenBeep) {
  struct Case {
    std::int32_t device;
    MidiResult openResult;
    std::string text;
  };
  const Case cases[] = {
      {2, 0, "The specified device identifier is out of range."},
      {0, QM_MMSYSERR_NOMEM, "The system is unable to allocate or lock memory."},
      {0, QM_MMSYSERR_ALLOCATED, "The specified resource is already allocated."},
  };
  std::size_t boxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    settings.midiOutDevice = c.device;
    fake.openResult = c.openResult;
    EXPECT_EQ(SendMessage(), 0);
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(seams.Boxes().size(), ++boxes);
    const auto box = seams.Boxes().back();
    EXPECT_EQ(box.text, OpenErrorText(c.text, 45));
    EXPECT_EQ(box.caption, "MIDI Device Error");
    EXPECT_EQ(box.style, QM_MB_OK | QM_MB_ICONHAND);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(seams.Beeps().back(), QM_MB_ICONHAND);
    EXPECT_TRUE(port.ErrorReported());
  }
  EXPECT_TRUE(fake.LongMessages().empty());
}

TEST_F(MidiXmitTest, AStoredNameIsLookedUpInTheListOfTheMomentAndAMissingOneSendsNothing) {
  const std::string notConnected =
      "The MIDI output \"USB MIDI Interface:0 (ALSA)\" is not connected. Connect it, or choose "
      "another output in File, Preferences.";
  const std::string noOutput =
      "No MIDI output was found. Start JACK or PipeWire, or connect a MIDI interface, then choose "
      "it in File, Preferences.";
  struct Case {
    const char* what;
    std::vector<std::string> outputs;
    std::int32_t device;
    std::string name;
    std::int32_t opened;  // -2: nothing opened
    std::string error;    // the box's error text, empty for none
  };
  const Case cases[] = {
      {"the name decides over the number", {"Fake Out A", "Fake Out B"}, 0, "Fake Out B", 1, ""},
      {"another port came first", {"other:in (JACK)", "Fake Out A", "Fake Out B"}, 1, "Fake Out B", 2, ""},
      {"only an exact match counts", {"USB MIDI Interface:0 (JACK)", "USB MIDI Interface:0"}, 0,
       "USB MIDI Interface:0 (ALSA)", -2, notConnected},
      {"no name: the number", {"Fake Out A", "Fake Out B"}, 1, "", 1, ""},
      {"no name, no outputs", {}, 0, "", -2, noOutput},
      {"a name, no outputs", {}, 0, "USB MIDI Interface:0 (ALSA)", -2, noOutput},
      {"the virtual port needs no output", {}, -1, "", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    port.ReleasePort();
    const std::size_t boxesBefore = seams.Boxes().size();
    const std::size_t beepsBefore = seams.Beeps().size();
    const std::size_t sentBefore = fake.LongMessages().size();
    const std::size_t callsBefore = fake.Calls().size();
    fake.outNames = c.outputs;
    settings.midiOutDevice = c.device;
    settings.midiOutDeviceName = c.name;
    EXPECT_EQ(SendMessage(), c.error.empty() ? 1 : 0);
    ui.Pump();
    if (c.error.empty()) {
      EXPECT_EQ(seams.Boxes().size(), boxesBefore);
      EXPECT_EQ(fake.LastOpenedDevice(), static_cast<std::uint32_t>(c.opened));
      EXPECT_EQ(fake.LongMessages().size(), sentBefore + 1);
      continue;
    }
    ASSERT_EQ(seams.Boxes().size(), boxesBefore + 1);
    EXPECT_EQ(seams.Boxes().back().text, OpenErrorText(c.error, 45));
    EXPECT_EQ(seams.Boxes().back().caption, "MIDI Device Error");
    EXPECT_EQ(seams.Beeps().size(), beepsBefore + 1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(fake.LongMessages().size(), sentBefore);
    for (std::size_t i = callsBefore; i < fake.Calls().size(); ++i) {
      EXPECT_EQ(fake.Calls()[i].rfind("Open", 0), std::string::npos) << fake.Calls()[i];
    }
  }
}

TEST_F(MidiXmitTest, AfterAReportedErrorEverySendBeepsOnceAndStillTransmits) {
  settings.midiOutDevice = 5;
  EXPECT_EQ(SendMessage(), 0);
  const std::size_t beepsAfterFailure = seams.Beeps().size();
  settings.midiOutDevice = 0;
  EXPECT_EQ(SendMessage(), 1) << "the retry opens the device now in the settings";
  EXPECT_EQ(seams.Beeps().size(), beepsAfterFailure);
  EXPECT_EQ(SendMessage(), 1);
  EXPECT_EQ(seams.Beeps().size(), beepsAfterFailure + 1) << "open port: one beep, then the send";
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().size(), 2u);
  EXPECT_EQ(seams.Boxes().size(), 1u);
}

TEST_F(MidiXmitTest, ReleaseAndReopenUseTheDeviceNumberOfTheMoment) {
  EXPECT_EQ(port.ReleasePort(), 0) << "nothing open";
  EXPECT_TRUE(fake.Calls().empty());
  ASSERT_EQ(SendMessage(), 1);
  EXPECT_EQ(port.ReleasePort(), 0);
  EXPECT_FALSE(port.IsOpen());
  settings.midiOutDevice = -1;
  ASSERT_EQ(SendMessage(), 1);
  EXPECT_EQ(fake.LastOpenedDevice(), QM_MIDI_MAPPER);
  EXPECT_FALSE(port.ErrorReported());
}

// With four messages away, the fifth hands the ones still posted to the device at once,
// in order, and waits for a buffer to come back: sent when one does, told with a box when
// the device fails or nothing comes back in time; never dropped without a word.
TEST_F(MidiXmitTest, AFifthMessageWithFourAwayWaitsForABufferOrIsReported) {
  const std::string busy =
      "Error: The MIDI output has not taken the keys before this one within 2 seconds, so this "
      "key was not sent. Check the output, or choose another one in File, Preferences.\n"
      "Error location: MidiXmit (85)\n";
  const std::string gone =
      "Error: The MIDI output \"Fake Out A\" is not connected. Connect it, or choose another output "
      "in File, Preferences.\nError location: MidiXmit (85)\n";
  enum class Meanwhile { ReturnsABuffer, Fails, Nothing };
  struct Case {
    const char* name;
    Meanwhile device;
    int result;
    std::string box;  // empty: none
  };
  const Case cases[] = {
      {"a buffer comes back", Meanwhile::ReturnsABuffer, 1, ""},
      {"the device fails", Meanwhile::Fails, 0, gone},
      {"nothing comes back", Meanwhile::Nothing, 0, busy},
  };
  fake.completion = FakeMidiServices::Completion::Held;
  port.SetBufferWaitBound(std::chrono::milliseconds(300));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t boxes = seams.Boxes().size();
    const std::size_t before = fake.LongMessages().size();
    for (std::uint8_t i = 0; i < 2; ++i) {
      const auto bytes = Message(54, static_cast<std::uint8_t>(0x20 + i));
      ASSERT_EQ(port.Send(54, bytes.data()), 1);
    }
    ui.Pump();
    for (std::uint8_t i = 2; i < 4; ++i) {  // two more that wait for the window
      const auto bytes = Message(54, static_cast<std::uint8_t>(0x20 + i));
      ASSERT_EQ(port.Send(54, bytes.data()), 1);
    }
    std::thread device;
    if (c.device != Meanwhile::Nothing) {
      device = std::thread([&] {
        // Once the waiting sender has handed the posted buffers over itself.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (fake.HeldCount() < 4 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        if (c.device == Meanwhile::ReturnsABuffer) {
          fake.ReleaseOldest();
        } else {
          fake.ReportDeviceError(kMidiOutputGone);
        }
      });
    }
    const auto fifth = Message(54, 0x30);
    EXPECT_EQ(port.Send(54, fifth.data()), c.result);
    if (device.joinable()) device.join();
    EXPECT_EQ(fake.LongMessages().size(), before + 4) << "the posted ones went to the device before the wait";
    ASSERT_EQ(seams.Boxes().size(), boxes + (c.box.empty() ? 0 : 1));
    if (!c.box.empty()) {
      EXPECT_EQ(seams.Boxes().back().text, c.box);
      EXPECT_EQ(seams.Boxes().back().caption, "MIDI Device Error");
    }
    ui.Pump();  // the window's own sends of the buffers handed over early do nothing
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::uint8_t i = 0; i < 4; ++i) expected.push_back(Message(54, static_cast<std::uint8_t>(0x20 + i)));
    if (c.result == 1) expected.push_back(fifth);
    const auto sent = fake.LongMessages();
    ASSERT_EQ(sent.size(), before + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sent.begin() + static_cast<std::ptrdiff_t>(before)));
    while (fake.ReleaseOldest()) {
    }
    port.ReleasePort();
  }
}

TEST_F(MidiXmitTest, PartlyRefusedLongMessageSendsItsWholeBuffersAndTheNextStartsClean) {
  fake.completion = FakeMidiServices::Completion::Held;
  port.SetBufferWaitBound(std::chrono::milliseconds(50));
  ASSERT_EQ(SendMessage(10), 1);
  ASSERT_EQ(SendMessage(10), 1);
  EXPECT_EQ(SendMessage(700), 0);  // two full buffers go, none comes back for the third
  ui.Pump();
  ASSERT_EQ(fake.LongMessages().size(), 4u);
  ASSERT_TRUE(fake.ReleaseOldest());
  ASSERT_EQ(SendMessage(10), 1);
  ui.Pump();
  const auto sent = fake.LongMessages();
  EXPECT_EQ(sent[2].size(), 256u);
  EXPECT_EQ(sent[3].size(), 256u);
  EXPECT_EQ(sent.back(), Message(10)) << "the refused tail was never stored";
}

TEST_F(MidiXmitTest, ReleaseDiscardsAMessageWaitingForTheUiThread) {
  ASSERT_EQ(SendMessage(), 1);
  port.ReleasePort();
  ui.Pump();
  EXPECT_TRUE(fake.LongMessages().empty());
}

TEST_F(MidiXmitTest, DeviceThatFailsALongMessageIsReportedAtTheNextSend) {
  ASSERT_EQ(SendMessage(), 1);
  fake.longMsgResult = QM_MIDIERR_NOTREADY;
  ui.Pump();
  EXPECT_EQ(SendMessage(), 0);
  ASSERT_EQ(seams.Boxes().size(), 1u);
  EXPECT_EQ(seams.Boxes()[0].text, OpenErrorText(StandardMidiErrorText(QM_MIDIERR_NOTREADY), 85));
  EXPECT_FALSE(port.IsOpen()) << "the failed stream is let go";
  fake.longMsgResult = 0;
  EXPECT_EQ(SendMessage(), 1) << "the next key opens the device afresh";
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().back(), Message(54));
  EXPECT_EQ(fake.Calls().back(), "LongMsg 54");
}

// A destination that goes away is told at the very next key, in the words used for a
// stored output that is missing, whether the backend noticed it between keys or while a
// buffer was on its way; the key after that opens the device afresh.
TEST_F(MidiXmitTest, ADestinationThatWentAwayFailsTheNextKeyWithTheNotConnectedText) {
  const std::string notConnected =
      "Error: The MIDI output \"Fake Out B\" is not connected. Connect it, or choose another output "
      "in File, Preferences.\nError location: MidiXmit (85)\n";
  for (const bool whileSending : {false, true}) {
    SCOPED_TRACE(whileSending ? "failed delivery" : "failure between keys");
    settings.midiOutDevice = 1;
    const std::size_t boxes = seams.Boxes().size();
    ASSERT_EQ(SendMessage(), 1);
    if (whileSending) {
      fake.deliveryFailure = kMidiOutputGone;
      ASSERT_EQ(SendMessage(), 1);
    }
    ui.Pump();
    if (!whileSending) fake.ReportDeviceError(kMidiOutputGone);
    EXPECT_EQ(SendMessage(), 0);
    ASSERT_EQ(seams.Boxes().size(), boxes + 1);
    EXPECT_EQ(seams.Boxes().back().text, notConnected);
    EXPECT_EQ(seams.Boxes().back().caption, "MIDI Device Error");
    EXPECT_FALSE(port.IsOpen());
    fake.deliveryFailure = 0;
    const std::size_t sent = fake.LongMessages().size();
    EXPECT_EQ(SendMessage(), 1);
    ui.Pump();
    EXPECT_EQ(fake.LongMessages().size(), sent + 1);
    port.ReleasePort();
  }
}

}  // namespace
