#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "FakeMidiServices.h"
#include "cli/OutputChoice.h"
#include "cli/SendCommand.h"
#include "cli/SendTexts.h"

namespace {

// Standard input as a script: each read returns the next chunk, after running its check.
class ScriptedInput final : public KeyInput {
 public:
  struct Chunk {
    std::string bytes;
    std::function<void()> before;
    const char* failure = nullptr;
  };
  explicit ScriptedInput(std::vector<Chunk> chunks) : m_chunks(std::move(chunks)) {}
  long Read(char* buffer, std::size_t size, std::string& error) override {
    if (m_next == m_chunks.size()) return 0;
    const Chunk& chunk = m_chunks[m_next++];
    if (chunk.before) chunk.before();
    if (chunk.failure) {
      error = chunk.failure;
      return -1;
    }
    const std::size_t count = std::min(size, chunk.bytes.size());
    std::memcpy(buffer, chunk.bytes.data(), count);
    return static_cast<long>(count);
  }

 private:
  std::vector<Chunk> m_chunks;
  std::size_t m_next = 0;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs without devices, with a stored device ID and a standard input of its own.
Outcome RunWith(std::vector<std::string> args, std::int32_t storedId = 0, const std::string& input = "") {
  std::ostringstream out;
  std::ostringstream err;
  ScriptedInput in({{input, {}, nullptr}});
  SendEnvironment environment;
  environment.storedDeviceId = [storedId] { return storedId; };
  environment.input = &in;
  const int status = RunSendCommand(args, out, err, environment);
  return {status, out.str(), err.str()};
}

// The messages of the design: ent, and reset with the device ID in its fourth byte.
const std::string kEnt =
    "F0 1C 60 00 00 3A 30 31 37 43 30 30 30 30 30 43 37 37 3A 30 31 37 43 30 31 30 30 30 30 "
    "38 32 3A 30 32 36 38 41 45 30 30 37 43 30 30 36 43 7C 46 45 41 34 35 45 F7\n";
std::string Reset(const char* id) { return std::string("F0 1C 60 ") + id + " 00 7C 46 45 42 36 34 43 F7\n"; }

TEST(SendCommandTest, EveryKeyInAnyCaseCarriesItsCode) {
  // The key codes of the design's key table; the code's two ASCII digits are bytes 14
  // and 15 of the 54-byte message.
  const std::vector<std::pair<std::vector<const char*>, const char*>> keys = {
      {{"prog", "PROG"}, "07"}, {{"func", "Func"}, "06"}, {{"para", "pArA"}, "05"},
      {{"1"}, "11"}, {{"9"}, "19"}, {{"0"}, "10"}, {{"point", "POINT"}, "1A"}, {{"minus", "Minus"}, "1B"},
      {{"up", "UP"}, "0A"}, {{"down", "Down"}, "0B"}, {{"cxl", "CXL"}, "0D"}, {{"ent", "Ent"}, "0C"},
      {{"byp", "BYP"}, "09"}, {{"level", "LEVEL"}, "08"}, {{"F1", "f1"}, "01"}, {{"f2", "F2"}, "02"},
      {{"f3"}, "03"}, {{"f4", "F4"}, "04"}};
  for (const auto& [names, code] : keys) {
    for (const char* name : names) {
      const Outcome run = RunWith({"-p", name});
      ASSERT_EQ(run.status, 0) << name << ": " << run.err;
      ASSERT_EQ(run.out.size(), 54u * 3) << name;
      char digits[6];
      std::snprintf(digits, sizeof digits, "%02X %02X", code[0], code[1]);
      EXPECT_EQ(run.out.substr(14 * 3, 5), digits) << name;
    }
  }
  EXPECT_EQ(RunWith({"-p", "RESET"}).out, Reset("00"));
}

TEST(SendCommandTest, CommandLineFormsAndStoredDeviceId) {
  struct Case {
    std::vector<std::string> args;
    std::int32_t storedId;
    std::string input;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"-p", "ent", "reset"}, 0, "", kEnt + Reset("00")},
      {{"--print", "reset"}, 5, "", Reset("05")},    // the stored ID is the default,
      {{"--print", "reset"}, 300, "", Reset("2C")},  // its low byte as the panel keeps it,
      {{"--print", "reset"}, 200, "", Reset("48")},  // of which the message carries 7 bits
      {{"--print", "--id", "127", "reset"}, 200, "", Reset("7F")},
      {{"-pi9", "reset"}, 0, "", Reset("09")},
      {{"-pi", "10", "reset"}, 0, "", Reset("0A")},
      {{"reset", "-p", "--id=11"}, 0, "", Reset("0B")},
      {{"-p", "--", "reset", "-"}, 0, "ent", Reset("00") + kEnt},
      {{"-p", "-"}, 0, "# keys\n\n  ent RESET # the same again\r\n\treset", kEnt + Reset("00") + Reset("00")},
      {{"-p", "-"}, 0, "", ""},
  };
  for (const Case& c : cases) {
    const Outcome run = RunWith(c.args, c.storedId, c.input);
    EXPECT_EQ(run.status, 0) << c.args[1] << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.args[1];
  }
  EXPECT_EQ(RunWith({"-V"}).out, "quillmark-send 1.0.0.0\n");
}

TEST(SendCommandTest, UsageErrorsAreOneLineWithCauseAndRemedyAndExitTwo) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
      {{"--bogus", "ent"}, "", "unknown option '--bogus'; see quillmark-send --help"},
      {{"-px", "ent"}, "", "unknown option '-x'; see quillmark-send --help"},
      {{"-p", "prgo"}, "", "unknown key 'prgo' (did you mean 'prog'?)"},
      {{"-p", "volume"}, "", "unknown key 'volume'; the keys are listed by quillmark-send --help"},
      {{"--print=1", "ent"}, "", "--print takes no value; see quillmark-send --help"},
      {{"-p", "--", "-V"}, "", "unknown key '-V'"},  // after "--" only keys
      {{"-d", "", "ent"}, "", "-d needs an output number or name; see quillmark-send --list"},
      {{"-p", "ent", "-i"}, "", "-i needs the unit's device ID"},
      {{"-p", "--id=128", "ent"}, "", "device ID '128' is not a number from 0 to 127; give the unit's ID with --id"},
      {{"-l", "prog"}, "", "--list takes no keys"},
      {{"-l", "-"}, "", "--list takes no keys"},
      {{"-p"}, "", "no key given"},
      {{"-p", "-"}, "prog\nprgo\n", "standard input, line 2: unknown key 'prgo' (did you mean 'prog'?)"},
      // What came from outside is shown, not acted on by the terminal.
      {{"-p", "-"}, "\x1b[2J\x01\xff\xc3\xa9", "standard input, line 1: unknown key '\\x1B[2J\\x01\\xFF\xc3\xa9'"},
      // A lead byte without its continuation, and an overlong form, are not characters.
      {{"-p", "-"}, "\xc3(\xc0\xaf", "standard input, line 1: unknown key '\\xC3(\\xC0\\xAF'"},
  };
  for (const auto& [args, input, message] : cases) {
    const Outcome run = RunWith(args, 0, input);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.err.rfind("quillmark-send: " + message, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  // Lines before the wrong one have gone out.
  EXPECT_EQ(RunWith({"-p", "-"}, 0, "reset\nprgo\n").out, Reset("00"));
}

TEST(SendCommandTest, StandardInputThatCannotBeReadFailsWithTheSystemsText) {
  std::ostringstream out;
  std::ostringstream err;
  ScriptedInput in({{"reset\n", {}, nullptr}, {"", {}, "Is a directory"}});
  SendEnvironment environment;
  environment.storedDeviceId = [] { return 0; };
  environment.input = &in;
  EXPECT_EQ(RunSendCommand({"-p", "-"}, out, err, environment), 1);
  EXPECT_EQ(out.str(), Reset("00"));
  EXPECT_EQ(err.str(), "quillmark-send: cannot read standard input: Is a directory\n");
}

TEST(ChooseOutputDeviceTest, NumbersThenExactNamesInAnyCaseThenOneSubstring) {
  const std::vector<std::string> labels = {"qm-capture:in", "Synth:MIDI In", "synth:midi thru", "in",
                                           "USB MIDI:0", "usb"};
  struct Case {
    const char* spec;
    std::int32_t device;
    OutputChoice choice;
  };
  const std::vector<Case> cases = {
      {"1", 1, OutputChoice::Chosen},
      {"-1", -1, OutputChoice::Chosen},  // the virtual port
      {"6", 0, OutputChoice::Missing},
      {"-2", 0, OutputChoice::Usage},
      {"CAPTURE", 0, OutputChoice::Chosen},
      {"synth:midi in", 1, OutputChoice::Chosen},
      {"in", 3, OutputChoice::Chosen},   // exact beats the substring of four names
      {"USB", 5, OutputChoice::Chosen},  // exact in another case beats a substring
      {"SYNTH", 0, OutputChoice::Usage},
      {"piano", 0, OutputChoice::Missing},
  };
  for (const Case& c : cases) {
    ChosenOutput chosen;
    std::string error;
    EXPECT_EQ(ChooseOutputDevice(labels, c.spec, chosen, error), c.choice) << c.spec << ": " << error;
    if (c.choice == OutputChoice::Chosen) {
      EXPECT_EQ(chosen.device, c.device) << c.spec;
    }
  }
}

class SendToDeviceTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> args, KeyInput* input = nullptr) {
    std::ostringstream out;
    std::ostringstream err;
    SendEnvironment environment;
    environment.services = &fake;
    environment.storedDevice = [this] { return storedDevice; };
    environment.storedDeviceId = [this] { return storedId; };
    environment.storedDeviceName = [this] { return storedName; };
    environment.completionBound = bound;
    environment.input = input;
    const int status = RunSendCommand(args, out, err, environment);
    return {status, out.str(), err.str()};
  }

  FakeMidiServices fake;
  std::int32_t storedDevice = 0;
  std::int32_t storedId = 5;
  std::string storedName;
  std::chrono::milliseconds bound{5000};
};

TEST_F(SendToDeviceTest, ListMarksTheStoredOutputAndOffersTheVirtualPortOnlyWhereOneCanBeMade) {
  struct Case {
    std::vector<std::string> outputs;
    std::int32_t device;
    std::string name;
    bool virtualPort;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"A", "B"}, 0, "", true, "0\tA\t(stored)\n1\tB\n-1\tQuillmark virtual port\n"},
      {{"A", "B"}, -1, "B", true, "0\tA\n1\tB\t(stored)\n-1\tQuillmark virtual port\n"},  // the name wins
      {{"A"}, 0, "gone:in (JACK)", true, "0\tA\n-\tgone:in (JACK) (not connected)\t(stored)\n-1\tQuillmark virtual port\n"},
      {{"A"}, -1, "", true, "0\tA\n-1\tQuillmark virtual port\t(stored)\n"},
      {{"A"}, -1, "", false, "0\tA\n"},
      {{"A\tB\n"}, 0, "", false, "0\tA\\x09B\\x0A\t(stored)\n"},
  };
  for (const Case& c : cases) {
    fake.outNames = c.outputs;
    fake.virtualOutputAvailable = c.virtualPort;
    storedDevice = c.device;
    storedName = c.name;
    const Outcome run = Run({"--list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.out);
  }
}

TEST_F(SendToDeviceTest, ExitOneWithOneLineForEveryOutputThatIsNotThere) {
  struct Case {
    std::vector<std::string> outputs;
    std::vector<std::string> args;
    std::int32_t device;
    std::string name;
    bool virtualPort;
    std::string err;
  };
  const std::string none = "no MIDI output found; ";  // then what to do, on this platform
  const std::vector<Case> cases = {
      {{"A"}, {"ent"}, 0, "USB:0 (ALSA)", true, "the MIDI output \"USB:0 (ALSA)\" is not connected; see quillmark-send --list"},
      {{}, {"ent"}, 0, "USB:0 (ALSA)", true, none},
      {{}, {"ent"}, 0, "", true, none},
      {{}, {"-d", "0", "ent"}, 0, "", true, "there is no MIDI output 0 now; see quillmark-send --list"},
      {{"A"}, {"-d", "usb", "ent"}, 0, "", true, "no MIDI output matches \"usb\"; see quillmark-send --list"},
      {{"A"}, {"ent"}, 3, "", true, "the output number 3 stored in the settings is not in the list now"},
      {{"A"}, {"-d", "-1", "ent"}, 0, "", false, "the virtual port cannot be made"},
      {{"A"}, {"ent"}, -1, "", false, "the virtual port cannot be made"},
  };
  for (const Case& c : cases) {
    fake.outNames = c.outputs;
    fake.virtualOutputAvailable = c.virtualPort;
    storedDevice = c.device;
    storedName = c.name;
    const Outcome run = Run(c.args);
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.err.rfind("quillmark-send: " + c.err, 0), 0u) << run.err;
    EXPECT_EQ(fake.OpenDevices(), 0);
  }
  EXPECT_TRUE(fake.LongMessages().empty());
}

TEST_F(SendToDeviceTest, KeysReachTheChosenOutputInOrder) {
  fake.completion = FakeMidiServices::Completion::OtherThread;
  fake.outNames = {"other:in (JACK)", "Fake Out A", "Fake Out B"};
  storedDevice = 1;
  const std::vector<std::tuple<std::vector<std::string>, std::int32_t, std::string, std::uint32_t>> cases = {
      {{"--device", "out b", "ent", "reset"}, 1, "", 2},
      {{"--device", "0", "ent", "reset"}, 1, "", 0},
      {{"ent", "reset"}, 1, "", 1},            // the stored number
      {{"ent", "reset"}, 0, "Fake Out B", 2},  // the stored name, wherever it is now
      {{"ent", "reset"}, -1, "Fake Out B", 2},
      {{"ent", "reset"}, -1, "", QM_MIDI_MAPPER},
  };
  for (const auto& [args, device, name, opened] : cases) {
    storedDevice = device;
    storedName = name;
    const std::size_t before = fake.LongMessages().size();
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fake.LastOpenedDevice(), opened) << name;
    const auto messages = fake.LongMessages();
    ASSERT_EQ(messages.size(), before + 2);
    EXPECT_EQ(messages[before].size(), 54u);
    EXPECT_EQ(messages[before][3], 5) << "the stored device ID";
    EXPECT_EQ(messages[before + 1].size(), 13u);
    EXPECT_EQ(fake.OpenDevices(), 0) << "the port is released before the command ends";
  }
  EXPECT_TRUE(fake.Violations().empty());
}

TEST_F(SendToDeviceTest, StandardInputIsSentLineByLineOnAnOutputOpenedBeforeTheFirstRead) {
  fake.completion = FakeMidiServices::Completion::OtherThread;
  std::vector<std::size_t> sentBeforeRead;
  const auto look = [&] {
    sentBeforeRead.push_back(fake.OpenDevices() == 1 ? fake.LongMessages().size() : 99);
  };
  ScriptedInput input(
      {{"ent\n", look, nullptr}, {"ent reset\n", look, nullptr}, {"# done\n", look, nullptr}, {"", look, nullptr}});
  const Outcome run = Run({"-d", "1", "-"}, &input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sentBeforeRead, (std::vector<std::size_t>{0, 1, 3, 3}));
  EXPECT_EQ(fake.LongMessages().size(), 3u);
}

TEST_F(SendToDeviceTest, DeviceFailuresExitOneInTheCommandsOwnWords) {
  struct Case {
    MidiResult openResult;
    MidiResult longMsgResult;
    FakeMidiServices::Completion completion;
    std::string err;
  };
  const std::vector<Case> cases = {
      {QM_MMSYSERR_ALLOCATED, 0, FakeMidiServices::Completion::Immediate,
       "the MIDI output \"Fake Out B\" is in use by another program; close it there and run again"},
      {0, kMidiOutputGone, FakeMidiServices::Completion::Immediate,
       "the MIDI output \"Fake Out B\" is not connected; see quillmark-send --list"},
      {0, QM_MIDIERR_NOTREADY, FakeMidiServices::Completion::Immediate,
       "the MIDI output \"Fake Out B\" failed: " + StandardMidiErrorText(QM_MIDIERR_NOTREADY)},
      {0, 0, FakeMidiServices::Completion::Held,
       "the MIDI output \"Fake Out B\" did not take 'ent' within 100 ms; check that the program or "
       "interface behind it is running"},
  };
  bound = std::chrono::milliseconds(100);
  storedDevice = 1;
  for (const Case& c : cases) {
    fake.openResult = c.openResult;
    fake.longMsgResult = c.longMsgResult;
    fake.completion = c.completion;
    const Outcome run = Run({"ent", "reset"});
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.err, "quillmark-send: " + c.err + "\n");
    EXPECT_EQ(fake.OpenDevices(), 0) << c.err;
  }
}

TEST_F(SendToDeviceTest, ANameForSeveralOutputsIsAUsageErrorAndOpensNothing) {
  const Outcome run = Run({"--device", "Fake", "ent"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quillmark-send: \"Fake\" matches several MIDI outputs (\"Fake Out A\", \"Fake Out B\"); give "
            "more of the name, or its number from quillmark-send --list\n");
  for (const std::string& call : fake.Calls()) EXPECT_NE(call.rfind("Open", 0), 0u) << call;
}

}  // namespace
