#include <gtest/gtest.h>

#include <sstream>

#include "cli/SendCommand.h"

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

}  // namespace
