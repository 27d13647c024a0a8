// The parts of mailfold-convert that need no store: the command line, the progress texts, the
// console screen's answers, the exit status and the JSON summary.
#include <gtest/gtest.h>

#include "tools/convert/console_screen.h"
#include "tools/convert/options.h"
#include "tools/convert/run_report.h"

namespace mailfold::convert {
namespace {

TEST(ConvertOptions, ModesOutputsAndMistakes) {
  auto parsed = ParseOptions({"Mail", "-o", "x.pst", "--json", "-q"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_FALSE(parsed.options.multiple);
  EXPECT_EQ(parsed.options.source, "Mail");
  EXPECT_EQ(parsed.options.output, "x.pst");
  EXPECT_TRUE(parsed.options.json && parsed.options.quiet);

  parsed = ParseOptions({"--multiple", "root", "--output-dir=out", "--password-file=pw", "A", "B", "--", "-odd"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.multiple);
  EXPECT_EQ(parsed.options.outDir, "out");
  EXPECT_EQ(parsed.options.passwordFile, "pw");
  EXPECT_EQ(parsed.options.names, (std::vector<std::string>{"A", "B", "-odd"}));

  // GNU habits: grouped short flags, a value glued to its short option, options between and
  // after operands, and -- before a folder whose name looks like an option.
  parsed = ParseOptions({"-qm", "root", "-dout", "A", "--json"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.multiple && parsed.options.quiet && parsed.options.json);
  EXPECT_EQ(parsed.options.outDir, "out");
  EXPECT_EQ(parsed.options.names, (std::vector<std::string>{"A"}));
  parsed = ParseOptions({"-qo", "x.pst", "--", "-Mail"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.output, "x.pst");
  EXPECT_EQ(parsed.options.source, "-Mail");
  EXPECT_EQ(ParseOptions({"-ox.pst", "Mail"}).options.output, "x.pst");

  EXPECT_TRUE(ParseOptions({"--help"}).options.help);
  EXPECT_TRUE(ParseOptions({"--version"}).options.version);
  // Wherever they stand, also on a line with a mistake.
  EXPECT_TRUE(ParseOptions({"Mail", "-x", "--help"}).options.help);
  EXPECT_TRUE(ParseOptions({"-qh"}).options.help);
  for (const auto& [bad, named] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-qx", "Mail"}, "unknown option -x"},
           {{"Mail", "Other"}, "'Other'"},
           {{"Mail", "-o", "x", "--output", "y"}, "--output is given twice"}})
    EXPECT_NE(ParseOptions(bad).error.find(named), std::string::npos) << ParseOptions(bad).error;
  for (const auto& bad : std::vector<std::vector<std::string>>{{},
                                                                 {"-o", "x.pst"},
                                                                 {"A", "B"},
                                                                 {"A", "-o"},
                                                                 {"A", "-o", ""},
                                                                 {"A", "-o", "x", "-o", "y"},
                                                                 {"A", "--json=yes"},
                                                                 {"A", "-x"},
                                                                 {"--multiple"},
                                                                 {"--multiple", "r", "-o", "x.pst"},
                                                                 {"A", "-d", "out"},
                                                                 {"A", "--password-file"},
                                                                 {"A", "--password-file="},
                                                                 {"A", "--password-file", "p", "--password-file", "q"}})
    EXPECT_NE(ParseOptions(bad).error, "") << (bad.empty() ? std::string("(nothing)") : bad[0]);
}

TEST(ConvertProgress, LineShowsCountRateAndTimeLeftWithinItsWidth) {
  EXPECT_EQ(FormatProgressLine({50, 200}, 10.0, "Inbox", 0),
            "[######------------------] 50/200 25% 5 msg/s 0:30 left  Inbox");
  // No rate before there is anything to measure.
  EXPECT_EQ(FormatProgressLine({0, 10}, 0.0, "", 0), "[------------------------] 0/10 0%");
  EXPECT_EQ(FormatProgressLine({1, 1}, 0.1, "", 0), "[########################] 1/1 100%");
  // A long label in UTF-8 is cut at the width, never inside a character.
  std::string label;
  for (int i = 0; i < 40; ++i) label += "\xC3\xA4";  // ä
  const std::string line = FormatProgressLine({1, 3}, 3600.0, label, 79);
  EXPECT_LE(line.size(), 79u);
  EXPECT_NE(line.find("2:00:00 left"), std::string::npos) << line;
  EXPECT_NE(static_cast<unsigned char>(line.back()), 0xC3);
}

TEST(ConvertConsoleScreen, StopSignalBecomesAConfirmedStopAndTheStoreFileIsTheCommandLines) {
  int signal = 0;
  std::FILE* sink = std::tmpfile();
  ConsoleScreen::Settings settings;
  settings.out = sink;
  settings.stopSignal = [&signal] { return signal; };
  settings.currentFolder = "/work";
  engine::RunRequests requests;
  ConsoleScreen screen(settings, requests);

  EXPECT_EQ(screen.ChooseStoreFile("Inbox6.12.26 4.7.05.pst"), "/work/Inbox6.12.26 4.7.05.pst");
  screen.OnRunEvent(run::ScanProgress{1});
  EXPECT_FALSE(requests.StopRequested());
  signal = 2;
  screen.OnEvent(engine::StepChanged{engine::Step::ConvertingMessage, "/m/a.eml"});
  EXPECT_TRUE(requests.StopRequested());
  EXPECT_TRUE(screen.StopNoticed());
  // The run clears its requests before a folder; the next event sets the stop again.
  requests.ClearStop();
  screen.OnRunEvent(run::FolderStarting{});
  EXPECT_TRUE(requests.StopRequested());
  EXPECT_TRUE(screen.ConfirmStop());

  settings.storePath = "/data/chosen.pst";
  ConsoleScreen named(settings, requests);
  EXPECT_EQ(named.ChooseStoreFile("proposed.pst"), "/data/chosen.pst");
  std::fclose(sink);
}

TEST(ConvertReport, ExitStatusFollowsTheWorstOutcome) {
  run::RunSummary summary;
  EXPECT_EQ(ExitCodeOf(summary, 0), kExitAllConverted);  // nothing to convert is no failure
  engine::FolderOutcome good;
  good.queued = good.imported = 3;
  summary.folders.push_back(good);
  EXPECT_EQ(ExitCodeOf(summary, 0), kExitAllConverted);
  EXPECT_EQ(ExitCodeOf(summary, 2), 130);

  engine::FolderOutcome partly = good;
  partly.imported = 2;
  partly.failed = 1;
  summary.folders.push_back(partly);
  EXPECT_EQ(ExitCodeOf(summary, 0), kExitSomeFailed);

  engine::FolderOutcome unfinished = good;
  unfinished.error = "The store file x.pst could not be completed: No space left on device";
  run::RunSummary unfinishedRun;
  unfinishedRun.folders = {good, unfinished};
  EXPECT_EQ(ExitCodeOf(unfinishedRun, 0), kExitSomeFailed);

  engine::FolderOutcome noStore;
  noStore.ending = engine::FolderEnding::StoreFailed;
  summary.folders.push_back(noStore);
  EXPECT_EQ(ExitCodeOf(summary, 0), kExitStoreFailed);
  EXPECT_EQ(ExitCodeOf(summary, 15), 143);
}

TEST(ConvertReport, JsonSummaryEscapesEveryPath) {
  EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001\"");
  EXPECT_EQ(JsonString("Gr\xC3\xBC\xC3\x9F\x65"), "\"Gr\xC3\xBC\xC3\x9F\x65\"");
  // Bytes that are not UTF-8 (a Latin-1 file name, a cut sequence, an encoded surrogate) keep
  // their value (Python's surrogateescape): a script finds the file.
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\udce9\"");
  EXPECT_EQ(JsonString("\xE2\x82"), "\"\\udce2\\udc82\"");
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\udced\\udca0\\udc80\"");

  run::RunSummary summary;
  engine::FolderOutcome folder;
  folder.folderName = "In\"box";
  folder.storePath = "/o/In\"box.pst";
  folder.queued = 2;
  folder.imported = 1;
  folder.failed = 1;
  summary.folders.push_back(folder);
  const std::string json = SummaryJson(summary, 1.5, 1);
  EXPECT_NE(json.find("\"store\":\"/o/In\\\"box.pst\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"totals\":{\"stores\":1,\"queued\":2,\"imported\":1,\"failed\":1,\"skipped\":0,\"stopped\":0}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"seconds\":1.500,\"exitCode\":1}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"error\":null"), std::string::npos);
}

}  // namespace
}  // namespace mailfold::convert
