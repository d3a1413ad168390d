// `tarvex lock` and `tarvex codec`: conversions that touch no port. The
// expected values are worked out by hand from the conversions' rules.
#include <gtest/gtest.h>

#include "tool_run.h"

namespace tarvex::testing {
namespace {

struct Case {
  std::vector<std::string> args;
  const char* output;
  int status;
};

const Case kCases[] = {
    {{"lock", "keylock", "123456"}, "57 2A 36", 0},
    {{"lock", "keylock", "120DF0"}, "-- -- --", 1},  // F0 + 0D + 3 passes FF
    {{"lock", "cardLock", "123456"}, "35 CC 25", 0},
    {{"lock", "faka-4852", "572A36 572A36"}, "12 34 56 12 34 56", 0},
    {{"lock", "faka-485", "572A36 135606"}, "35 CC 25 -- -- --", 1},  // code 2 is 15 00 12 in key form
    {{"codec", "abcd", "99999999", "--mode", "1"}, "36 37 31 38 36 37 31 38", 0},
    {{"codec", "abcd", "3030303030303030", "--hex"}, "30 30 30 30 30 30 30 30", 0},
    {{"codec", "change", "010203040506"}, "05 07 02 06 05 0D", 0},
    {{"codec", "ascc", "0A0B0C"}, "0A 0B 0C", 0},
};

TEST(TransformCommands, ConvertWithoutAPort) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(json_field(run.out, "output"), std::string("\"") + c.output + "\"");
  }
}

TEST(TransformCommands, RefuseInputOfTheWrongSize) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases{
      {{"lock", "keylock", "1234"}, "CODES: keylock takes 3 bytes (one code); you gave 2"},
      {{"lock", "faka-unlock", "123456"}, "CODES: fakaUnlock takes 6 bytes (two codes); you gave 3"},
      {{"lock", "unlock", "123456"}, "choose keylock, cardlock, faka-485, faka-4852, faka-unlock"},
      {{"codec", "abcd", "2024"}, "INPUT: abcd takes 8 characters; you gave 4"},
      {{"codec", "abcd", "20240517", "--mode", "x"}, "--mode: 'x' is not a whole number"},
      {{"codec", "change", "0102"}, "INPUT: change takes 6 bytes; you gave 2"},
      {{"codec", "ascc", "0A0B0C", "--mode", "1"}, "--mode belongs to abcd only"},
  };
  for (const auto& [args, says] : cases) {
    SCOPED_TRACE(says);
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(run.complains(says)) << run.err;
  }
}

TEST(DemoCommand, TourRunsEveryStepToSuccess) {
  const ToolRun run = run_tool({"demo"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "the tour runs on the simulated bus by design";
  std::size_t steps = 0;
  std::size_t successes = 0;
  for (std::size_t at = run.out.find("\n== "); at != std::string::npos; at = run.out.find("\n== ", at + 1)) ++steps;
  for (std::size_t at = run.out.find("result:     0 (success)"); at != std::string::npos;
       at = run.out.find("result:     0 (success)", at + 1)) {
    ++successes;
  }
  EXPECT_EQ(steps, 6u);
  EXPECT_EQ(successes, steps);
  EXPECT_TRUE(run.shows("reply:      AA BB 65")) << "the block written is read back";
  EXPECT_TRUE(run.shows("identity:   12 02 05 10 00 00 12")) << run.out;
}

}  // namespace
}  // namespace tarvex::testing
