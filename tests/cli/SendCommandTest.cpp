#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

// Runs without devices, with a stored device ID and a standard input of its own.
Outcome RunWith(std::vector<std::string> args, std::int32_t storedId = 0, const std::string& input = "") {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in(input);
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

TEST(SendCommandTest, CommandLineForms) {
  struct Case {
    std::vector<std::string> args;
    std::int32_t storedId;
    std::string input;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"-p", "RESET", "Ent"}, 0, "", Reset("00") + kEnt},
      {{"--print", "reset"}, 5, "", Reset("05")},          // the stored ID is the default
      {{"--print", "reset"}, 300, "", Reset("2C")},        // of which the low byte counts
      {{"--print", "--id", "127", "reset"}, 5, "", Reset("7F")},
      {{"--print", "--id=0", "reset"}, 5, "", Reset("00")},
      {{"-pi9", "reset"}, 0, "", Reset("09")},
      {{"-pi", "10", "reset"}, 0, "", Reset("0A")},
      {{"reset", "-p", "-i", "11"}, 0, "", Reset("0B")},
      {{"-p", "--", "reset", "-"}, 0, "ent", Reset("00") + kEnt},
      {{"-p", "-"}, 0, "# keys\n\n  ent RESET # the same again\n\treset\n", kEnt + Reset("00") + Reset("00")},
      {{"-p", "-"}, 0, "", ""},
  };
  for (const Case& c : cases) {
    const Outcome run = RunWith(c.args, c.storedId, c.input);
    EXPECT_EQ(run.status, 0) << c.args[1] << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.args[1];
  }
  EXPECT_EQ(RunWith({"-V"}).out, "quillmark-send 1.0.0.0\n");
  EXPECT_EQ(RunWith({"--version"}).out, "quillmark-send 1.0.0.0\n");
}

TEST(SendCommandTest, UsageErrorsNameTheirCause) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
      {{"--bogus", "ent"}, "", "unknown option '--bogus'"},
      {{"-px", "ent"}, "", "unknown option '-x'"},
      {{"-p", "prgo"}, "", "unknown key 'prgo' (did you mean 'prog'?)"},
      {{"-p", "-"}, "prog\nprgo\n", "standard input, line 2: unknown key 'prgo' (did you mean 'prog'?)"},
      {{"--print=1", "ent"}, "", "--print takes no value"},
      {{"-p", "--", "-V"}, "", "unknown key '-V'"},  // after "--" only keys
      {{"--device=", "ent"}, "", "--device needs a device number or name"},
      {{"-d", "", "ent"}, "", "-d needs a device number or name"},
      {{"-p", "ent", "-i"}, "", "-i needs a device ID"},
      {{"-p", "--id=128", "ent"}, "", "device ID '128' is not a number from 0 to 127"},
  };
  for (const auto& [args, input, message] : cases) {
    const Outcome run = RunWith(args, 0, input);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(run.err.rfind("quillmark-send: " + message, 0), 0u) << run.err;
  }
  // A stored ID above 127 would end the message early; only --id can stand in for it.
  EXPECT_EQ(RunWith({"-p", "ent"}, 200).status, 2);
  EXPECT_EQ(RunWith({"-p", "-i", "3", "reset"}, 200).out, Reset("03"));
}

TEST(SendCommandTest, SuggestionsOnlyForSlips) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"prgo", "prog"}, {"ENTER", "ent"}, {"levle", "level"}, {"f", ""},
      {"f5", ""},  // as close to each soft key
      {"volume", ""},
  };
  for (const auto& [typed, suggestion] : cases) EXPECT_EQ(SuggestKeyName(typed), suggestion) << typed;
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
    environment.storedDeviceId = [this] { return storedId; };
    environment.storedDeviceName = [this] { return storedName; };
    environment.completionBound = bound;
    const int status = RunSendCommand(args, out, err, environment);
    return {status, out.str(), err.str()};
  }

  FakeMidiServices fake;
  std::int32_t storedDevice = 0;
  std::int32_t storedId = 5;
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

TEST_F(SendToDeviceTest, AListThatCannotBeWrittenFails) {
  struct Full final : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream out(&full);
  std::ostringstream err;
  SendEnvironment environment;
  environment.services = &fake;
  EXPECT_EQ(RunSendCommand({"--list"}, out, err, environment), 1);
  EXPECT_NE(err.str().find("quillmark-send: error writing to standard output"), std::string::npos) << err.str();
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
    EXPECT_EQ(messages[before][3], 5) << "the stored device ID";
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

// The program itself, through a POSIX shell; the Windows build checks it under wine from
// its own test folder.
#ifndef _WIN32
namespace {

struct ProgramRun {
  int status;
  std::string output;
};

// Runs quillmark-send through the shell with a private settings folder; redirections
// go into the command.
ProgramRun RunProgram(const std::string& configHome, const std::string& arguments) {
  const std::string command = "XDG_CONFIG_HOME='" + configHome + "' '" QUILLMARK_BIN_DIR "/quillmark-send' " +
                              arguments + " </dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(SendProgramTest, StoredDeviceIdAndFailedWritesToStandardOutput) {
  char folder[] = "/tmp/quillmark-send-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::filesystem::path home(folder);
  std::filesystem::create_directories(home / "Vellicor");
  std::ofstream(home / "Vellicor" / "Quillmark.conf") << "[Settings]\nTargetDeviceID=5\n";

  const ProgramRun stored = RunProgram(folder, "--print reset 2>&1");
  EXPECT_EQ(stored.status, 0) << stored.output;
  EXPECT_EQ(stored.output, Reset("05"));

  const std::string full = std::strerror(ENOSPC);
  for (const char* arguments : {"--print ent", "-V", "--help"}) {
    const ProgramRun run = RunProgram(folder, std::string(arguments) + " 2>&1 >/dev/full");
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_NE(run.output.find(full), std::string::npos) << arguments << ": " << run.output;
  }
  std::filesystem::remove_all(home);
}

}  // namespace
#endif
