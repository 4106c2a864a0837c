// histadmin's settings options and text helpers, without a region: what
// the command line makes of a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "settings.h"
#include "terminal_text.h"

namespace kha::histadmin {
namespace {

// Parses `args` (without the program name) into `settings` as a command.
template <typename Settings>
void Parse(Settings& settings, bool flag, std::vector<std::string> args) {
  CLI::App app;
  settings.AddOptions(&app, flag);
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  app.parse(args);
}

TEST(RepositorySettingsTest, BothAndPendingOptionsWriteTheirFieldsOnly) {
  RepositorySettings settings;
  Parse(settings, true,
        {"--pending-points", "7", "--points", "5", "--pending-path", "/new", "--threshold", "0.5",
         "--future-time", "3", "--status", "3"});
  KestiHistAdminRepository record{};
  std::strcpy(record.FilePath, "/old");
  std::strcpy(record.PendingFilePath, "/old");
  record.QueueSize = 11;
  record.PendingQueueSize = 12;
  settings.ApplyTo(record);

  EXPECT_TRUE(settings.Given());
  EXPECT_EQ(record.Status, 3);
  EXPECT_EQ(record.NumberPoints, 5);
  EXPECT_EQ(record.PendingNumberPoints, 7);  // the pending option wins, whatever the order
  EXPECT_STREQ(record.FilePath, "/old");
  EXPECT_STREQ(record.PendingFilePath, "/new");
  EXPECT_EQ(record.GlobalThreshold, 0.5f);
  EXPECT_EQ(record.PendingGlobalThreshold, 0.5f);
  EXPECT_EQ(record.FutureTime, 3);
  EXPECT_EQ(record.QueueSize, 11);  // not named: kept
  EXPECT_EQ(record.PendingQueueSize, 12);
}

TEST(RepositorySettingsTest, NothingGivenChangesNothing) {
  RepositorySettings settings;
  Parse(settings, true, {});
  EXPECT_FALSE(settings.Given());
  KestiHistAdminRepository record;
  std::memset(&record, 0x5A, sizeof record);
  KestiHistAdminRepository before = record;
  settings.ApplyTo(record);
  EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

TEST(RepositorySettingsTest, PathsMustFitTheirField) {
  RepositorySettings fits;
  Parse(fits, false, {"--path", std::string(255, 'p')});
  KestiHistAdminRepository record{};
  std::memset(record.FilePath, 'x', sizeof record.FilePath);
  fits.ApplyTo(record);
  EXPECT_EQ(FieldText(record.FilePath), std::string(255, 'p'));
  EXPECT_EQ(record.FilePath[255], '\0');

  RepositorySettings too_long;
  EXPECT_THROW(Parse(too_long, false, {"--path", std::string(256, 'p')}), CLI::ValidationError);
}

TEST(FileSetSettingsTest, TimesTakeSecondsAndOptionalMicroseconds) {
  FileSetSettings settings;
  Parse(settings, true, {"--start", "1700000000", "--end", "5:250"});
  KestiHistAdminFileSet record{};
  record.StartTime.Microseconds = 99;
  settings.ApplyTo(record);
  EXPECT_EQ(record.StartTime.Seconds, 1700000000);
  EXPECT_EQ(record.StartTime.Microseconds, 0);
  EXPECT_EQ(record.EndTime.Seconds, 5);
  EXPECT_EQ(record.EndTime.Microseconds, 250);

  for (const char* bad :
       {"", "12x", "1:", ":5", "99999999999", "1:2:3", "-5", "5:-1", "5:1000000"}) {
    FileSetSettings rejected;
    EXPECT_THROW(Parse(rejected, true, {"--start", bad}), CLI::ValidationError) << bad;
  }
}

TEST(FileSetSettingsTest, OwnParametersAndRanges) {
  FileSetSettings none;
  Parse(none, false, {"--status", "0"});
  EXPECT_TRUE(none.Given());
  EXPECT_FALSE(none.GivesOwnParameters());

  FileSetSettings own;
  Parse(own, false, {"--pending-timespan", "60", "--history-status", "-2"});
  EXPECT_TRUE(own.GivesOwnParameters());
  KestiHistAdminFileSet record{};
  record.Timespan = 30;
  own.ApplyTo(record);
  EXPECT_EQ(record.Timespan, 30);
  EXPECT_EQ(record.PendingTimespan, 60);
  EXPECT_EQ(record.HistoryStatus, -2);

  FileSetSettings bad_source;
  EXPECT_THROW(Parse(bad_source, false, {"--param-source", "2"}), CLI::ValidationError);
  FileSetSettings bad_history;
  EXPECT_THROW(Parse(bad_history, false, {"--history-status", "40000"}), CLI::ValidationError);
  // The add takes the path as an argument: no --path there.
  FileSetSettings no_path;
  EXPECT_THROW(Parse(no_path, false, {"--path", "/x"}), CLI::ParseError);
}

// Counts, sizes and times are never negative, floats are finite: refused
// on the command line, before any command runs.
TEST(SettingsCheckTest, NegativeCountsAndNonFiniteFloatsAreRefused) {
  const std::vector<std::vector<std::string>> repository_bad = {
      {"--points", "-5"},
      {"--pending-points", "-1"},
      {"--queue-size", "-2"},
      {"--file-set-size", "-3"},
      {"--time-span", "-4"},
      {"--future-time", "-3"},
      {"--past-time", "-1"},
      {"--cache-size", "-9"},
      {"--pending-insert-size", "-1"},
      {"--empty-filesets", "-1"},
      {"--threshold", "-0.5"},
      {"--threshold", "1e40"},
      {"--pending-threshold", "nan"},
      {"--threshold", "inf"},
      {"--threshold", "0.5x"},
      {"--points", "-99999999999999999999"}};
  for (const auto& args : repository_bad) {
    RepositorySettings settings;
    EXPECT_THROW(Parse(settings, true, args), CLI::ValidationError) << args[0] << ' ' << args[1];
  }
  for (const auto& args : std::vector<std::vector<std::string>>{{"--size", "-1"},
                                                                {"--pending-timespan", "-60"},
                                                                {"--percentage", "-1"},
                                                                {"--percentage", "3.5e38x"},
                                                                {"--percentage", "1e39"},
                                                                {"--threshold", "-inf"}}) {
    FileSetSettings settings;
    EXPECT_THROW(Parse(settings, false, args), CLI::ValidationError) << args[0] << ' ' << args[1];
  }
  RepositorySettings zero;
  Parse(zero, true, {"--points", "0", "--threshold", "0", "--past-time", "-0"});
  KestiHistAdminRepository record{};
  record.NumberPoints = 4;
  zero.ApplyTo(record);
  EXPECT_EQ(record.NumberPoints, 0);
}

TEST(OutputTest, DatesAreUtcIso8601) {
  EXPECT_EQ(DateText({1734825600, 0}), "2024-12-22T00:00:00Z");
  EXPECT_EQ(DateText({1700003600, 5}), "2023-11-14T23:13:20.000005Z");
  EXPECT_EQ(DateText({951825599, 999999}), "2000-02-29T11:59:59.999999Z");  // a leap day
  EXPECT_EQ(DateText({2147483647, 0}), "2038-01-19T03:14:07Z");
  EXPECT_EQ(DateText({-1, 0}), "1969-12-31T23:59:59Z");
  EXPECT_EQ(DateText({1, 1000000}), "1970-01-01T00:00:01Z");  // no such fraction: none shown
  EXPECT_EQ(DateText({0, 0}), "");
}

TEST(OutputTest, ControlBytesAreEscapedAndUtf8Kept) {
  EXPECT_EQ(EscapeControls("plain /path\\x\tand\n"), "plain /path\\x\tand\n");
  EXPECT_EQ(EscapeControls("\x1b[2J\r\x7f"), "\\x1b[2J\\x0d\\x7f");
  EXPECT_EQ(EscapeControls("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(EscapeControls("\xc2\x9b"
                           "31m"),
            "\\xc2\\x9b31m");                                    // C1 CSI in UTF-8
  EXPECT_EQ(EscapeControls("\x9b\xff\xc3"), "\\x9b\\xff\\xc3");  // not UTF-8
  EXPECT_EQ(EscapeControls("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // a surrogate

  // Through a stream, also when a character comes in two writes.
  std::ostringstream sink;
  {
    const EscapedStream escaped(sink);
    sink << "name \x1b]0;x\x07\n"
         << "\xc3";
    sink << "\xa9\n";
  }
  EXPECT_EQ(sink.str(), "name \\x1b]0;x\\x07\n\xc3\xa9\n");

  KestiHistAdminFileSet record{};
  std::strcpy(record.FilePath, "/a\x1b[31m\xe9");
  testing::internal::CaptureStdout();
  PrintJson(FileSetJson(record));
  const std::string json = testing::internal::GetCapturedStdout();
  EXPECT_NE(json.find("\"/a\\u001b[31m\\ufffd\""), std::string::npos) << json;
  EXPECT_EQ(nlohmann::json::parse(json)["FilePath"], "/a\x1b[31m\xef\xbf\xbd");
}

TEST(OutputTest, FieldsFloatsAndTimes) {
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FieldText(unterminated), "abcd");
  char short_text[8] = "ab";
  EXPECT_EQ(FieldText(short_text), "ab");

  EXPECT_EQ(FloatText(0.1f), "0.1");
  EXPECT_EQ(FloatText(-1.0f), "-1");
  EXPECT_EQ(TimeText({12, 0}), "12");
  EXPECT_EQ(TimeText({12, 5}), "12:5");
  EXPECT_EQ(StatusText(3), "3 (new, saved)");
  EXPECT_EQ(StatusText(9), "9 (unknown)");

  KestiHistAdminFileSet file_set{};
  file_set.PendingThreshold = 0.1f;
  EXPECT_EQ(FileSetJson(file_set)["PendingThreshold"].get<double>(), 0.1);
}

// A path of the historian's files may start with a slash on every system:
// such an argument is never taken for an option, also where the command-
// line library's default would read /name as one (Windows).
// The text of FailWithCode(code) with `os_error` left by the export.
std::string FailureText(int32_t code, int os_error) {
#if defined(_WIN32)
  SetLastError(static_cast<DWORD>(os_error));
#else
  errno = os_error;
#endif
  try {
    FailWithCode(code, "cannot set up the HistAdmin region");
  } catch (const CommandFailure& failure) {
    return failure.what();
  }
  return "";
}

TEST(FailureTest, TheOsReasonStandsBesideTheMessageOfAKernelObjectStep) {
#if defined(_WIN32)
  const int denied = ERROR_ACCESS_DENIED;
#else
  const int denied = EACCES;
  EXPECT_EQ(FailureText(KHA_CREATE_MAPPING_FAILED, denied),
            "cannot set up the HistAdmin region: Failed to CreateFileMapping for the "
            "KESTIHISTADMIN shared memory. (Permission denied) (code -2010)");
#endif
  const std::string plain =
      "cannot set up the HistAdmin region: " + ErrorMessage(KHA_CREATE_MAPPING_FAILED) +
      " (code -2010)";
  const std::string with_reason = FailureText(KHA_CREATE_MAPPING_FAILED, denied);
  EXPECT_NE(with_reason, plain);
  EXPECT_NE(with_reason.find(ErrorMessage(KHA_CREATE_MAPPING_FAILED) + " ("), std::string::npos);
  // No OS reason (0), or a code that no kernel-object step gives: the
  // message alone, whatever errno holds.
  EXPECT_EQ(FailureText(KHA_CREATE_MAPPING_FAILED, 0), plain);
  EXPECT_EQ(
      FailureText(KHA_NAME_TOO_LONG, denied),
      "cannot set up the HistAdmin region: " + ErrorMessage(KHA_NAME_TOO_LONG) + " (code -2020)");
}

TEST(CommandLineTest, AnArgumentStartingWithASlashIsAPathOnEverySystem) {
  CLI::App app;
  ConfigureCommandLine(app);
  CLI::App* command = app.add_subcommand("add-fileset");
  std::string repository, path;
  uint64_t size = 0;
  command->add_option("REPOSITORY", repository)->required();
  command->add_option("PATH", path)->required();
  command->add_option("--size", size);
  std::vector<std::string> args = {"add-fileset", "PLANT", "/data/e2e/fs1", "--size", "5"};
  std::reverse(args.begin(), args.end());
  app.parse(args);
  EXPECT_EQ(repository, "PLANT");
  EXPECT_EQ(path, "/data/e2e/fs1");
  EXPECT_EQ(size, 5u);

  args = {"add-fileset", "PLANT", "/size"};
  std::reverse(args.begin(), args.end());
  app.clear();
  app.parse(args);
  EXPECT_EQ(path, "/size");
}

}  // namespace
}  // namespace kha::histadmin
