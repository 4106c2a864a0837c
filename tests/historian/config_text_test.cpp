// The text form of the configuration files: every value survives a write
// and a read bit for bit, numbers are written in their shortest form, and
// anything that is not exactly the format is refused with a reason.
#include "config/config_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/float_text.h"
#include "config_dir_fixture.h"
#include "sample_config.h"

namespace kha::historian {
namespace {

HistoryConfig RoundTrip(const HistoryConfig& config, ConfigFileKind kind) {
  const std::string text = FormatConfigText(config, kind);
  std::string error;
  auto back = ParseConfigText(text, kind, &error);
  EXPECT_TRUE(back.has_value()) << error << "\n" << text;
  return back.value_or(HistoryConfig{});
}

// The running snapshot keeps every value; config.dat and tune.dat each
// keep their part.
TEST(ConfigText, EveryValueSurvivesInTheFileThatHoldsIt) {
  const HistoryConfig config = test::SampleConfig();
  EXPECT_TRUE(IdenticalConfig(RoundTrip(config, ConfigFileKind::kRunning), config));
  const HistoryConfig repositories = RoundTrip(config, ConfigFileKind::kConfig);
  EXPECT_FALSE(repositories.tuning.has_value());
  HistoryConfig expected = config;
  expected.tuning.reset();
  EXPECT_TRUE(IdenticalConfig(repositories, expected));

  const HistoryConfig tuning = RoundTrip(config, ConfigFileKind::kTuning);
  ASSERT_TRUE(tuning.tuning.has_value());
  EXPECT_EQ(tuning.tuning->values, config.tuning->values);
  EXPECT_TRUE(tuning.repositories.empty());
}

TEST(ConfigText, ManyFloatBitPatternsSurvive) {
  // One file with thousands of thresholds: random bit patterns (NaNs
  // included) and every power of two with its neighbours.
  RepositoryConfig repository;
  repository.name = "FLOATS";
  std::mt19937 random(20240613);
  std::vector<uint32_t> patterns;
  for (int i = 0; i < 6000; ++i) patterns.push_back(static_cast<uint32_t>(random()));
  for (uint32_t exponent = 0; exponent < 256; ++exponent) {
    for (const uint32_t mantissa : {0u, 1u, 0x7FFFFFu, 0x400000u}) {
      patterns.push_back(exponent << 23 | mantissa);
      patterns.push_back(0x80000000u | exponent << 23 | mantissa);
    }
  }
  for (const uint32_t bits : patterns) {
    FileSetConfig file_set;
    file_set.threshold = FloatFromBits(bits);
    repository.file_sets.push_back(file_set);
  }
  HistoryConfig config;
  config.repositories.push_back(repository);
  const HistoryConfig back = RoundTrip(config, ConfigFileKind::kConfig);
  ASSERT_EQ(back.repositories.size(), 1u);
  ASSERT_EQ(back.repositories[0].file_sets.size(), patterns.size());
  // Where a float returned from a function passes through the x87 stack
  // (32-bit x86), a signalling NaN comes out with its quiet bit set: there
  // no float value can carry one, and the files give it back quietened.
  const bool floats_quieten = FloatBits(FloatFromBits(0x7F800001u)) != 0x7F800001u;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    uint32_t expected = patterns[i];
    const bool signalling_nan = (expected & 0x7F800000u) == 0x7F800000u &&
                                (expected & 0x3FFFFFu) != 0 && (expected & 0x400000u) == 0;
    if (floats_quieten && signalling_nan) expected |= 0x400000u;
    ASSERT_EQ(FloatBits(back.repositories[0].file_sets[i].threshold), expected) << "pattern " << i;
  }
}

HistoryConfig WithThreshold(float value) {
  HistoryConfig config;
  config.repositories.emplace_back().global_threshold = value;
  return config;
}

std::string FormattedThreshold(float value) {
  const std::string text = FormatConfigText(WithThreshold(value), ConfigFileKind::kConfig);
  const auto start = text.find("global_threshold = ") + std::strlen("global_threshold = ");
  return text.substr(start, text.find('\n', start) - start);
}

TEST(ConfigText, FloatsAreWrittenAsTheirShortestText) {
  EXPECT_EQ(FormattedThreshold(0.1f), "0.1");
  EXPECT_EQ(FormattedThreshold(2.0f), "2.0");
  EXPECT_EQ(FormattedThreshold(-0.0f), "-0.0");
  EXPECT_EQ(FormattedThreshold(FLT_MAX), "3.4028235e+38");
  EXPECT_EQ(FormattedThreshold(1e-38f), "1e-38");
  EXPECT_EQ(FormattedThreshold(std::numeric_limits<float>::infinity()), "inf");
  EXPECT_EQ(FormattedThreshold(FloatFromBits(0x7FC00000u)), "nan");
  EXPECT_EQ(FormattedThreshold(FloatFromBits(0x7FC00001u)), "{ bits = 0x7FC00001 }");
}

TEST(ConfigText, FloatsWhoseShortestTextWouldRoundTwiceKeepTheirValue) {
  // 7.038531e-26 is the shortest text of 0x15AE43FD, but read as a double
  // and rounded to float it gives 0x15AE43FE. Of all 2^32 floats only this
  // one and its negative do so; they are written with more digits.
  for (const uint32_t bits : {0x15AE43FDu, 0x95AE43FDu}) {
    const float value = FloatFromBits(bits);
    EXPECT_NE(FormattedThreshold(value), bits == 0x15AE43FDu ? "7.038531e-26" : "-7.038531e-26");
    const HistoryConfig back = RoundTrip(WithThreshold(value), ConfigFileKind::kConfig);
    ASSERT_EQ(back.repositories.size(), 1u);
    EXPECT_EQ(FloatBits(back.repositories[0].global_threshold), bits);
  }
}

TEST(ConfigText, StringsThatAreNotUtf8AreWrittenAsHexadecimalBytes) {
  HistoryConfig config;
  RepositoryConfig repository;
  repository.name = "caf\xE9";
  repository.file_path = "C:\\hist\\\xC3\xA9t\xC3\xA9";
  config.repositories.push_back(repository);
  const std::string text = FormatConfigText(config, ConfigFileKind::kConfig);
  EXPECT_NE(text.find("name = { hex = '636166E9' }"), std::string::npos) << text;
  EXPECT_NE(text.find("file_path = 'C:\\hist\\\xC3\xA9t\xC3\xA9'"), std::string::npos) << text;
}

TEST(ConfigText, HandWrittenFormsAreRead) {
  // Integers for floats, lower-case hexadecimal, basic strings with escapes.
  const std::string text = R"(format_version = 1
[[repository]]
name = "A"
file_path = "C:\\hist"
backup_file_path = { hex = "2f6a" }
number_points = 1
queue_size = 2
global_file_set_size = 3
global_threshold = 5
global_time_span = 4
past_time = 0
future_time = 0
cache_size = 0
insert_size = 0
empty_file_sets = 0
file_set = [ { history_status = 1, file_path = "x", start_time = { sec = 1, usec = 2 }, end_time = { sec = 3, usec = 4 }, size = -1, threshold = { bits = 0xffc00000 }, time_span = -1 } ]
)";
  std::string error;
  const auto config = ParseConfigText(text, ConfigFileKind::kConfig, &error);
  ASSERT_TRUE(config.has_value()) << error;
  const RepositoryConfig& repository = config->repositories.at(0);
  EXPECT_EQ(repository.file_path, "C:\\hist");
  EXPECT_EQ(repository.backup_file_path, "/j");
  EXPECT_EQ(FloatBits(repository.global_threshold), FloatBits(5.0f));
  ASSERT_EQ(repository.file_sets.size(), 1u);
  EXPECT_EQ(FloatBits(repository.file_sets[0].threshold), 0xFFC00000u);
  EXPECT_EQ(repository.file_sets[0].end_time.microseconds, 4);
}

TEST(ConfigText, EmptyConfigurationHasNoRepositories) {
  const auto config = ParseConfigText("format_version = 1\n", ConfigFileKind::kConfig);
  ASSERT_TRUE(config.has_value());
  EXPECT_TRUE(config->repositories.empty());
}

// A small valid config.dat to break in one place at a time.
std::string ValidConfigText() {
  HistoryConfig config;
  RepositoryConfig repository;
  repository.name = "PLANT";
  repository.file_path = "/h";
  repository.file_sets.push_back(test::SampleFileSet(1));
  repository.file_sets[0].file_path = "/h/fs1";
  repository.file_sets[0].threshold = 2.5f;
  config.repositories.push_back(repository);
  return FormatConfigText(config, ConfigFileKind::kConfig);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ConfigText, MalformedConfigFilesAreRefused) {
  const std::string valid = ValidConfigText();
  ASSERT_TRUE(ParseConfigText(valid, ConfigFileKind::kConfig).has_value()) << valid;
  const std::string long_name(32, 'n');
  const std::string long_path(256, 'p');
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"syntax error", valid + "\n= 3\n"},
      {"not TOML at all", "\x01\x02 binary"},
      {"no format version", Replaced(valid, "format_version = 1", "")},
      {"unknown format version", Replaced(valid, "format_version = 1", "format_version = 2")},
      {"unknown top-level key", valid + "\nextra = 1\n"},
      {"tuning in config.dat", valid + "\n[tuning]\nvalue_01 = 1\n"},
      {"repository not an array", Replaced(valid, "[[repository]]", "[repository]")},
      {"missing key", Replaced(valid, "queue_size = 0\n", "")},
      {"misspelt key", Replaced(valid, "queue_size = 0", "queue_sise = 0")},
      {"integer beyond 32 bits", Replaced(valid, "queue_size = 0", "queue_size = 2147483648")},
      {"integer below 32 bits", Replaced(valid, "queue_size = 0", "queue_size = -2147483649")},
      {"status beyond 16 bits",
       Replaced(valid, "history_status = 32767", "history_status = 32768")},
      {"string for integer", Replaced(valid, "queue_size = 0", "queue_size = '0'")},
      {"float for integer", Replaced(valid, "queue_size = 0", "queue_size = 0.5")},
      {"float beyond float range", Replaced(valid, "threshold = 2.5", "threshold = 1e39")},
      {"bits beyond 32 bits",
       Replaced(valid, "threshold = 2.5", "threshold = { bits = 0x100000000 }")},
      {"negative bits", Replaced(valid, "threshold = 2.5", "threshold = { bits = -1 }")},
      {"bits with extra key",
       Replaced(valid, "threshold = 2.5", "threshold = { bits = 1, x = 2 }")},
      {"boolean for float", Replaced(valid, "threshold = 2.5", "threshold = true")},
      {"name too long", Replaced(valid, "name = 'PLANT'", "name = '" + long_name + "'")},
      {"path too long", Replaced(valid, "file_path = '/h'", "file_path = '" + long_path + "'")},
      {"zero byte in a path", Replaced(valid, "file_path = '/h'", "file_path = \"/h\\u0000x\"")},
      {"hex of odd length", Replaced(valid, "file_path = '/h'", "file_path = { hex = '2f6' }")},
      {"hex with a bad digit", Replaced(valid, "file_path = '/h'", "file_path = { hex = '2g' }")},
      {"hex with a zero byte", Replaced(valid, "file_path = '/h'", "file_path = { hex = '2f00' }")},
      {"array for a path", Replaced(valid, "file_path = '/h'", "file_path = ['/h']")},
      {"time without usec", Replaced(valid, "start_time = { sec = 1700000001, usec = 999999 }",
                                     "start_time = { sec = 1700000001 }")},
      {"time with extra key", Replaced(valid, "start_time = { sec = 1700000001, usec = 999999 }",
                                       "start_time = { sec = 1, usec = 2, nsec = 3 }")},
      {"time as a number", Replaced(valid, "start_time = { sec = 1700000001, usec = 999999 }",
                                    "start_time = 1700000001")},
      {"file sets not tables",
       Replaced(valid, "[[repository.file_set]]", "file_set = [1, 2]\n[x]")},
      {"unknown file-set key",
       Replaced(valid, "time_span = -2147483648", "time_span = -2147483648\nspan = 1")},
      {"duplicate key", Replaced(valid, "queue_size = 0", "queue_size = 0\nqueue_size = 1")},
      {"invalid UTF-8 in the file", Replaced(valid, "name = 'PLANT'", "name = 'PL\xFFNT'")},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseConfigText(c.text, ConfigFileKind::kConfig, &error).has_value()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(ConfigText, NonAsciiCharactersOutsideStringsAreRefusedCleanly) {
  // Code points the parser tests for being whitespace; some of them once
  // reached undefined behaviour inside the TOML library (the sanitizer
  // build catches a relapse).
  const char* const stray[] = {"\xC2\xA0",     "\xC3\xA9",     "\xD0\x96",
                               "\xE2\xBA\x80", "\xE3\x80\x80", "\xEF\xBB\x92"};
  for (const char* character : stray) {
    for (const std::string& text : {std::string(character) + "format_version = 1\n",
                                    "format_version = 1 " + std::string(character) + "\n",
                                    "format_version =" + std::string(character) + "1\n"}) {
      EXPECT_FALSE(ParseConfigText(text, ConfigFileKind::kConfig).has_value()) << text;
    }
  }
  // A byte-order mark starts a file, as editors on Windows write it.
  EXPECT_TRUE(
      ParseConfigText("\xEF\xBB\xBF"
                      "format_version = 1\n",
                      ConfigFileKind::kConfig));
  EXPECT_FALSE(ParseConfigText("format_version = 1\xEF\xBB\xBF\n", ConfigFileKind::kConfig));
  // Inside strings and comments they are ordinary characters.
  const std::string text = "# caf\xC3\xA9 \xE2\xBA\x80\nformat_version = 1\n";
  EXPECT_TRUE(ParseConfigText(text, ConfigFileKind::kConfig).has_value());
}

// Texts that would run toml++ out of stack (dotted keys build one table
// per segment, and freeing them recurses) or memory are refused before it
// sees them, with the line; dots and brackets inside strings and comments
// count for nothing.
TEST(ConfigText, TextsTooDeepOrTooBigForTheParserAreRefusedBeforeIt) {
  std::string dots;
  for (int i = 0; i < 200000; ++i) dots += "a.";
  const struct {
    const char* what;
    std::string text;
    const char* reason;
  } refused[] = {
      {"dotted key", "format_version = 1\n" + dots + "a = 1\n", "line 2: nests more than 32"},
      {"dotted header", "format_version = 1\n[" + dots + "a]\n", "line 2: nests more than 32"},
      {"dotted keys in nested inline tables",
       "x = " + std::string(20, '[') + "{ a.a.a.a.a.a = { b.b.b.b.b.b = { c.c.c.c.c = 1 } } }" +
           std::string(20, ']') + "\n",
       "line 1: nests"},
      {"arrays over lines", "x = [\n" + std::string(40, '[') + "\n", "line 2: nests"},
      {"too big", "format_version = 1\n" + std::string(16u << 20, '#'), "larger than 16 MiB"},
      {"a byte-order mark before a header without a key", "\xEF\xBB\xBF[[[a]]]\n",
       "line 1: a table header without a key"},
  };
  for (const auto& c : refused) {
    std::string error;
    EXPECT_FALSE(ParseConfigText(c.text, ConfigFileKind::kConfig, &error).has_value()) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }

  const std::string many_dots(300, '.');
  HistoryConfig config = test::SampleConfig();
  config.repositories[0].file_path = "/h" + many_dots.substr(0, 200);
  config.repositories[0].file_sets[0].file_path = R"(""")"
                                                  "'''" +
                                                  many_dots.substr(0, 200) + "[[[{{{";
  const std::string written = FormatConfigText(config, ConfigFileKind::kRunning);
  std::string error;
  const auto back = ParseConfigText(written, ConfigFileKind::kRunning, &error);
  ASSERT_TRUE(back.has_value()) << error;
  EXPECT_TRUE(IdenticalConfig(*back, config));
  const std::string hand_written = "# " + many_dots + std::string(40, '[') + "\n" + "x = '" +
                                   many_dots + "'\ny = \"\\\"" + many_dots + "\"\nz = \"\"\"" +
                                   many_dots + "\n" + many_dots + "\\\"\"\"\"\"\n";
  (void)ParseConfigText(hand_written, ConfigFileKind::kConfig, &error);
  EXPECT_EQ(error, "x: unknown key") << hand_written;
}

TEST(ConfigText, MalformedTuneFilesAreRefused) {
  HistoryConfig config;
  config.tuning = TuningConfig{};
  const std::string valid = FormatConfigText(config, ConfigFileKind::kTuning);
  ASSERT_TRUE(ParseConfigText(valid, ConfigFileKind::kTuning).has_value()) << valid;
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"no tuning table", "format_version = 1\n"},
      {"missing value", Replaced(valid, "value_40 = 0\n", "")},
      {"unknown value", valid + "value_41 = 0\n"},
      {"unpadded key", Replaced(valid, "value_01 = 0", "value_1 = 0")},
      {"16-bit value too big", Replaced(valid, "value_12 = 0", "value_12 = 32768")},
      {"16-bit value too small", Replaced(valid, "value_13 = 0", "value_13 = -32769")},
      {"32-bit value too big", Replaced(valid, "value_01 = 0", "value_01 = 2147483648")},
      {"repositories in tune.dat", valid + "\n[[repository]]\nname = 'x'\n"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseConfigText(c.text, ConfigFileKind::kTuning, &error).has_value()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  EXPECT_TRUE(
      ParseConfigText(Replaced(valid, "value_12 = 0", "value_12 = -32768"), ConfigFileKind::kTuning)
          .has_value());
}

TEST(ConfigText, TheExampleConfigurationIsValid) {
  const std::filesystem::path examples = KHA_EXAMPLES_DIR;
  const struct {
    const char* name;
    ConfigFileKind kind;
  } files[] = {{"config.dat", ConfigFileKind::kConfig},
               {"tune.dat", ConfigFileKind::kTuning},
               {"running.dat", ConfigFileKind::kRunning}};
  for (const auto& file : files) {
    std::string error;
    const auto config =
        ParseConfigText(test::ReadFileBytes(examples / file.name), file.kind, &error);
    ASSERT_TRUE(config.has_value()) << file.name << ": " << error;
    if (HoldsRepositories(file.kind)) {
      EXPECT_GE(config->repositories.size(), 2u) << file.name;
    }
  }
}

}  // namespace
}  // namespace kha::historian
