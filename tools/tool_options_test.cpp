#include "tools/tool_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace ostrivane::cli {
namespace {

constexpr OptionSpec kSpecs[] = {
    {"--text", true}, {"--port", true}, {"--raw", false}, {"-", false}};

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> options;  // "name=value" in order, "name" for a flag
  bool help;
  std::optional<std::string> error;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseOptionsTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseOptionsTest, TakesOptionsInOrderAndStopsWhereItMust) {
  const auto& c = GetParam();
  const ParsedArguments parsed = ParseOptions(c.args, kSpecs);
  std::vector<std::string> options;
  for (const ParsedOption& o : parsed.options) {
    const bool flag = o.name == "--raw" || o.name == "-";
    options.push_back(std::string(o.name) + (flag ? "" : "=" + o.value));
    if (flag) {
      EXPECT_EQ(o.value, "") << o.name;
    }
  }
  EXPECT_EQ(options, c.options);
  EXPECT_EQ(parsed.help, c.help);
  EXPECT_EQ(parsed.error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseOptionsTest,
    testing::Values(
        ParseCase{"Nothing", {}, {}, false, std::nullopt},
        ParseCase{"ValueAsNextArgument", {"--text", "a b"}, {"--text=a b"}, false, std::nullopt},
        ParseCase{"ValueAfterEquals", {"--text=a"}, {"--text=a"}, false, std::nullopt},
        ParseCase{"SplitAtTheFirstEquals", {"--text=x=y"}, {"--text=x=y"}, false, std::nullopt},
        ParseCase{"EmptyValueAfterEquals", {"--text="}, {"--text="}, false, std::nullopt},
        ParseCase{"NextArgumentTakenWhateverItIs",
                  {"--text", "--raw", "--port", "-"},
                  {"--text=--raw", "--port=-"},
                  false,
                  std::nullopt},
        ParseCase{"FlagsAndRepeats",
                  {"--raw", "-", "--port", "1", "--port=2"},
                  {"--raw", "-", "--port=1", "--port=2"},
                  false,
                  std::nullopt},
        ParseCase{"HelpStopsTheParsing",
                  {"--raw", "--help", "--colour", "--text"},
                  {"--raw"},
                  true,
                  std::nullopt},
        ParseCase{"HelpTakesNoValue", {"--help=1"}, {}, false, "option --help takes no value"},
        ParseCase{"UnknownStopsTheParsing",
                  {"--raw", "--colour", "--help"},
                  {"--raw"},
                  false,
                  "unknown argument '--colour'"},
        ParseCase{"UnknownWithValueIsUnknown",
                  {"--colour=red"},
                  {},
                  false,
                  "unknown argument '--colour'"},
        ParseCase{"BareWordIsUnknown", {"text"}, {}, false, "unknown argument 'text'"},
        ParseCase{"SingleDashWordNotSplit", {"-=x"}, {}, false, "unknown argument '-=x'"},
        ParseCase{"NameIsCompared", {"--tex", "a"}, {}, false, "unknown argument '--tex'"},
        ParseCase{
            "MissingValue", {"--raw", "--text"}, {"--raw"}, false, "option --text needs a value"},
        ParseCase{"ValueOnFlag", {"--raw=1"}, {}, false, "option --raw takes no value"},
        ParseCase{"EmptyValueOnFlag", {"--raw="}, {}, false, "option --raw takes no value"}),
    testutil::CaseName());

struct DecimalCase {
  const char* name;
  std::string text;
  unsigned long min;
  unsigned long max;
  std::optional<unsigned long> value;
};

void PrintTo(const DecimalCase& c, std::ostream* os) { *os << c.name; }

class ParseDecimalTest : public testing::TestWithParam<DecimalCase> {};

TEST_P(ParseDecimalTest, TakesDigitsInRangeOnly) {
  const auto& c = GetParam();
  EXPECT_EQ(ParseDecimal(c.text, c.min, c.max), c.value);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseDecimalTest,
                         testing::Values(DecimalCase{"Plain", "19151", 1, 65535, 19151UL},
                                         DecimalCase{"Lowest", "1", 1, 65535, 1UL},
                                         DecimalCase{"Highest", "65535", 1, 65535, 65535UL},
                                         DecimalCase{"OneAbove", "65536", 1, 65535, std::nullopt},
                                         DecimalCase{"BelowMin", "0", 1, 65535, std::nullopt},
                                         DecimalCase{"ZeroAllowed", "0", 0, 3600000, 0UL},
                                         DecimalCase{"LeadingZeros", "007", 0, 10, 7UL},
                                         DecimalCase{"Empty", "", 0, 10, std::nullopt},
                                         DecimalCase{"Sign", "-1", 0, 10, std::nullopt},
                                         DecimalCase{"Plus", "+1", 0, 10, std::nullopt},
                                         DecimalCase{"Blank", " 1", 0, 10, std::nullopt},
                                         DecimalCase{"TrailingLetter", "1x", 0, 10, std::nullopt},
                                         DecimalCase{"MaxZeroDigitAbove", "5", 0, 0, std::nullopt},
                                         DecimalCase{"NineDigits", "999999999", 1, 999999999,
                                                     999999999UL},
                                         DecimalCase{"FarTooLong", "99999999999999999999999999", 0,
                                                     999999999, std::nullopt}),
                         testutil::CaseName());

}  // namespace
}  // namespace ostrivane::cli
