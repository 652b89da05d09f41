#include <gtest/gtest.h>

#include <sstream>

#include "FakeMidiServices.h"
#include "cli/SendCommand.h"
#include "midi/MidiXmit.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunWith(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunSendCommand(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(SendCommandTest, PrintWritesOneUpperCaseHexLinePerMessage) {
  const Outcome run = RunWith({"--print", "ent", "reset"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "F0 1C 60 00 00 3A 30 31 37 43 30 30 30 30 30 43 37 37 3A 30 31 37 43 30 31 30 30 30 30 "
            "38 32 3A 30 32 36 38 41 45 30 30 37 43 30 30 36 43 7C 46 45 41 34 35 45 F7\n"
            "F0 1C 60 00 00 7C 46 45 42 36 34 43 F7\n");
  EXPECT_EQ(run.err, "");
}

TEST(SendCommandTest, IdGoesIntoTheHeader) {
  const Outcome run = RunWith({"--id", "99", "--print", "reset"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "F0 1C 60 63 00 7C 46 45 42 36 34 43 F7\n");
}

TEST(SendCommandTest, BadInputPrintsNothingAndExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--print", "ent", "enter"}, {"--id", "128", "--print", "ent"}, {"--id", "-1", "--print", "ent"},
      {"--id", "7x", "--print", "ent"}, {"--id"}, {"--print"}};
  for (const auto& args : cases) {
    const Outcome run = RunWith(args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_EQ(run.out, "") << args.back();
    EXPECT_NE(run.err, "") << args.back();
  }
  EXPECT_NE(RunWith({"--print", "enter"}).err.find("unknown key 'enter'"), std::string::npos);
  EXPECT_NE(RunWith({"--id", "128", "ent"}).err.find("128"), std::string::npos);
}

TEST(ChooseOutputDeviceTest, NumbersThenExactNamesThenOneCaseInsensitiveSubstring) {
  const std::vector<std::string> names = {"qm-capture:in", "Synth:MIDI In", "synth:midi thru", "in"};
  struct Case {
    const char* spec;
    std::int32_t device;  // -2: refused
    const char* errorPart;
  };
  const std::vector<Case> cases = {
      {"1", 1, ""},
      {"-1", -1, ""},                     // the virtual port
      {"4", -2, "no MIDI output device 4"},
      {"-2", -2, "no MIDI output device -2"},
      {"qm-capture:in", 0, ""},
      {"CAPTURE", 0, ""},
      {"synth:midi in", 1, ""},
      {"in", 3, ""},                      // exact beats the substring of four names
      {"SYNTH", -2, "'Synth:MIDI In' 'synth:midi thru'"},
      {"piano", -2, "no MIDI output device matches 'piano'"},
  };
  for (const Case& c : cases) {
    std::int32_t device = -2;
    std::string error;
    const bool chosen = ChooseOutputDevice(names, c.spec, device, error);
    EXPECT_EQ(chosen, c.device != -2) << c.spec;
    if (chosen) {
      EXPECT_EQ(device, c.device) << c.spec;
    } else {
      EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.spec << ": " << error;
    }
  }
}

class SendToDeviceTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    SendEnvironment environment;
    environment.services = &fake;
    environment.storedDevice = [this] { return storedDevice; };
    environment.storedDeviceName = [this] { return storedName; };
    environment.completionBound = bound;
    const int status = RunSendCommand(args, out, err, environment);
    return {status, out.str(), err.str()};
  }

  FakeMidiServices fake;
  std::int32_t storedDevice = 0;
  std::string storedName;
  std::chrono::milliseconds bound{5000};
};

TEST_F(SendToDeviceTest, ListNumbersTheOutputsAndMarksTheStoredOneAndTheVirtualPort) {
  struct Case {
    std::vector<std::string> outputs;
    std::int32_t device;
    std::string name;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"Fake Out A", "Fake Out B"}, 0, "", "0\tFake Out A\t(stored)\n1\tFake Out B\n-1\tQuillmark virtual port\n", ""},
      {{"Fake Out A", "Fake Out B"}, 0, "Fake Out B",
       "0\tFake Out A\n1\tFake Out B\t(stored)\n-1\tQuillmark virtual port\n", ""},
      {{"Fake Out A"}, 0, "gone:in (JACK)",
       "0\tFake Out A\n-\tgone:in (JACK) (not connected)\t(stored)\n-1\tQuillmark virtual port\n", ""},
      {{"Fake Out A"}, -1, "", "0\tFake Out A\n-1\tQuillmark virtual port\t(stored)\n", ""},
      {{}, 0, "", "-1\tQuillmark virtual port\n", "quillmark-send: no MIDI outputs found\n"},
  };
  for (const Case& c : cases) {
    fake.outNames = c.outputs;
    storedDevice = c.device;
    storedName = c.name;
    const Outcome run = Run({"--list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST_F(SendToDeviceTest, TheStoredNameIsFollowedAndAMissingOneSendsNothing) {
  fake.outNames = {"other:in (JACK)", "Fake Out A", "Fake Out B"};
  storedDevice = 1;
  storedName = "Fake Out B";
  Outcome run = Run({"ent"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fake.LastOpenedDevice(), 2u);
  ASSERT_EQ(fake.LongMessages().size(), 1u);

  const std::size_t calls = fake.Calls().size();
  storedName = "USB MIDI Interface:0 (ALSA)";
  run = Run({"ent"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "quillmark-send: The MIDI output \"USB MIDI Interface:0 (ALSA)\" is not connected. Connect "
            "it, or choose another output in File, Preferences.\n");
  EXPECT_EQ(fake.Calls().size(), calls) << "nothing opened, nothing sent";
}

TEST_F(SendToDeviceTest, KeysReachTheChosenDeviceInOrder) {
  fake.completion = FakeMidiServices::Completion::OtherThread;
  const std::vector<std::pair<std::vector<std::string>, std::uint32_t>> cases = {
      {{"--device", "out b", "ent", "reset"}, 1},
      {{"--device", "0", "ent", "reset"}, 0},
      {{"ent", "reset"}, 1},  // the stored device
  };
  storedDevice = 1;
  for (const auto& [args, device] : cases) {
    const std::size_t before = fake.LongMessages().size();
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(fake.LastOpenedDevice(), device);
    const auto messages = fake.LongMessages();
    ASSERT_EQ(messages.size(), before + 2);
    EXPECT_EQ(messages[before].size(), 54u);
    EXPECT_EQ(messages[before].back(), 0xF7);
    EXPECT_EQ(messages[before + 1].size(), 13u);
    EXPECT_EQ(fake.OpenDevices(), 0) << "the port is released before the command ends";
  }
  EXPECT_TRUE(fake.Violations().empty());
}

TEST_F(SendToDeviceTest, MoreKeysThanBuffersInFlightAllGoOut) {
  fake.completion = FakeMidiServices::Completion::OtherThread;
  std::vector<std::string> args;
  for (int i = 0; i < 12; ++i) args.push_back(i % 2 ? "up" : "down");
  const Outcome run = Run(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fake.LongMessages().size(), 12u);
}

TEST_F(SendToDeviceTest, DeviceFailuresExitOneWithTheDevicesText) {
  struct Case {
    const char* what;
    MidiResult openResult;
    MidiResult longMsgResult;
    FakeMidiServices::Completion completion;
    std::string errorPart;
  };
  const std::vector<Case> cases = {
      {"open", QM_MMSYSERR_ALLOCATED, 0, FakeMidiServices::Completion::Immediate,
       "quillmark-send: Error: " + StandardMidiErrorText(QM_MMSYSERR_ALLOCATED) +
           "\nError location: MidiXmit (45)\n"},
      {"long message", 0, QM_MIDIERR_NOTREADY, FakeMidiServices::Completion::Immediate,
       "quillmark-send: " + StandardMidiErrorText(QM_MIDIERR_NOTREADY) + "\n"},
      {"no completion", 0, 0, FakeMidiServices::Completion::Held, "did not finish sending 'ent'"},
  };
  bound = std::chrono::milliseconds(100);
  for (const Case& c : cases) {
    fake.openResult = c.openResult;
    fake.longMsgResult = c.longMsgResult;
    fake.completion = c.completion;
    const Outcome run = Run({"ent", "reset"});
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_NE(run.err.find(c.errorPart), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(fake.OpenDevices(), 0) << c.what;
  }
}

TEST_F(SendToDeviceTest, UnknownDeviceIsAUsageError) {
  const Outcome run = Run({"--device", "Fake", "ent"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("matches several"), std::string::npos);
  for (const std::string& call : fake.Calls()) EXPECT_NE(call.rfind("Open", 0), 0u) << call;
  EXPECT_EQ(Run({"--device"}).status, 2);
}

}  // namespace
