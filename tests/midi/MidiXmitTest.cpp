#include <gtest/gtest.h>

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

TEST_F(MidiXmitTest, FifthMessageWithFourAwayIsRefusedQuietlyAtItsFirstByte) {
  fake.completion = FakeMidiServices::Completion::Held;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(SendMessage(), 1);
  EXPECT_EQ(SendMessage(), 0);
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_TRUE(seams.Beeps().empty());
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().size(), 4u);
  ASSERT_TRUE(fake.ReleaseOldest());
  EXPECT_EQ(SendMessage(), 1) << "nothing of the refused message was stored";
  ui.Pump();
  EXPECT_EQ(fake.LongMessages().back(), Message(54));
}

TEST_F(MidiXmitTest, RefusalWithTheLatchSetBeepsOnly) {
  fake.completion = FakeMidiServices::Completion::Held;
  port.ReportError(QM_MMSYSERR_ERROR, 45);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(SendMessage(), 1);
  const std::size_t beeps = seams.Beeps().size();
  EXPECT_EQ(SendMessage(), 0);
  EXPECT_EQ(seams.Beeps().size(), beeps + 1);
  EXPECT_EQ(seams.Boxes().size(), 1u);
}

TEST_F(MidiXmitTest, PartlyRefusedLongMessageSendsItsWholeBuffersAndTheNextStartsClean) {
  fake.completion = FakeMidiServices::Completion::Held;
  ASSERT_EQ(SendMessage(10), 1);
  ASSERT_EQ(SendMessage(10), 1);
  EXPECT_EQ(SendMessage(700), 0);  // two full buffers go, the third is refused
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
