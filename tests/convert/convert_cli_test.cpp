// mailfold-convert run as a process on temporary trees; the stores it writes are read back with
// pffexport, readpst and the npm reader, and every message must be where the folder rules put
// it, with the counts, the summary and the log telling the same story.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

#include "convert_fixture.h"
#include "pst/messaging/store.h"

namespace mailfold::test {
namespace {

// The folders that hold messages, with their subjects.
FolderContents NonEmpty(const FolderContents& contents) {
  FolderContents result;
  for (const auto& [folder, subjects] : contents)
    if (!subjects.empty()) result[folder] = subjects;
  return result;
}

std::size_t CountOf(const FolderContents& contents) {
  std::size_t count = 0;
  for (const auto& [folder, subjects] : contents) count += subjects.size();
  return count;
}

// A number field of the --json summary ("imported":12): the first one after `after`.
long JsonNumber(const std::string& json, const std::string& field, std::size_t after = 0) {
  const auto at = json.find("\"" + field + "\":", after);
  if (at == std::string::npos) return -1;
  return std::stol(json.substr(at + field.size() + 3));
}

std::size_t BadLines(const std::string& log) {
  std::size_t count = 0;
  for (auto at = log.find("BAD : "); at != std::string::npos; at = log.find("BAD : ", at + 1)) ++count;
  return count;
}

// Every reader that is installed sees the same folders and messages.
void ExpectReadersAgree(const fs::path& store, const FolderContents& expected,
                        const std::vector<std::string>& emptyFolders) {
  ASSERT_TRUE(HaveProgram("pffexport")) << "pffexport (package pff-tools) is needed for this test";
  const auto pff = ReadWithPffexport(store);
  EXPECT_EQ(NonEmpty(pff), expected) << "pffexport";
  for (const auto& folder : emptyFolders) EXPECT_EQ(pff.count(folder), 1u) << "pffexport lacks " << folder;

  if (HaveProgram("readpst")) {
    EXPECT_EQ(NonEmpty(ReadWithReadpst(store)), expected) << "readpst";
  }
  const bool npmInstalled = fs::exists(sourceDir() / "tests" / "node_modules" / "pst-extractor" / "package.json");
  const auto npm = ReadWithPstExtractor(store);
  if (npmInstalled) {
    EXPECT_FALSE(npm.empty()) << "pst-extractor could not read " << store;
    EXPECT_EQ(NonEmpty(npm), expected) << "pst-extractor";
    for (const auto& folder : emptyFolders) EXPECT_EQ(npm.count(folder), 1u) << "pst-extractor lacks " << folder;
  }
}

TEST(ConvertCli, SingleFolderTreeLandsWhereTheFolderRulesPutIt) {
  TempDir dir;
  const auto mail = dir.path() / "Mail";
  WriteMessage(mail, "top");
  WriteMessage(mail / "Inbox", "inbox-1");
  WriteMessage(mail / "Inbox", "inbox-2", true);
  WriteText(mail / "Inbox" / "broken.eml", "");  // not a message: logged, not imported
  WriteMessage(mail / "Inbox" / "Work", "work-1");
  WriteMessage(mail / "Sent", "sent-1");
  WriteMessage(mail / "Sent" / "Old", "old-1");
  fs::create_directories(mail / "Projects");
  WriteMessage(mail / "Projects" / "2020", "p2020-1");
  WriteMessage(mail / "Calendar", "cal-1");
  WriteMessage(mail / "Archive ! 2019", "bang-1");
  WriteMessage(mail / "Emailed Contacts", "contacts-1");
  WriteText(mail / "notes.txt", "not queued in single-folder mode");
  // Special names in the middle of a path: the folders below them still get real parents.
  WriteMessage(mail / "Old" / "Calendar" / "2020", "cal2020-1");
  WriteMessage(mail / "X" / "Sent" / "Notebook", "deep-1");
  // A backslash is a name character here, and names need not be ASCII.
  WriteMessage(mail / "We\\Us", "backslash-1");
  WriteMessage(mail / "\xC3\x9C" "berweisungen", "umlaut-1");

  const auto store = dir.path() / "out.pst";
  const auto result = RunConverter({mail.string(), "-o", store.string(), "--json"}, dir.path());
  EXPECT_EQ(result.exitCode, 1) << result.err;  // one file failed

  const FolderContents expected = {
      {"", {"top"}},
      {"Inbox", {"inbox-1", "inbox-2"}},
      {"Inbox\\Work", {"work-1"}},
      {"Sent", {"sent-1"}},  // special below a non-root source: created when its message arrives
      {"Sent\\Old", {"old-1"}},
      {"Projects\\2020", {"p2020-1"}},
      {"Calendar", {"cal-1"}},
      {"Archive", {"bang-1"}},  // cut before the "!"
      {"Emailed Contacts", {"contacts-1"}},
      {"Old\\Calendar\\2020", {"cal2020-1"}},
      {"X\\Sent\\Notebook", {"deep-1"}},
      {"We\xEF\xBC\xBCUs", {"backslash-1"}},
      {"\xC3\x9C" "berweisungen", {"umlaut-1"}},
  };
  ExpectReadersAgree(store, expected, {"Projects", "Sent Items", "Deleted Items", "Old\\Calendar", "X\\Sent"});

  // The summary, the log and the store reconcile.
  EXPECT_EQ(JsonNumber(result.out, "queued"), 15);
  EXPECT_EQ(JsonNumber(result.out, "imported"), 14);
  EXPECT_EQ(JsonNumber(result.out, "failed"), 1);
  EXPECT_NE(result.out.find("\"ending\":\"converted\""), std::string::npos);
  const std::string log = ReadText(dir.path() / "out.log");
  const std::string broken = (mail / "Inbox" / "broken.eml").string();
  EXPECT_EQ(log, "---- Log Starts -----\r\nBAD : " + broken + "\r\n    " + broken +
                     ": not a mail message: the file is empty\r\n");
  // The cause reaches the summary too, with its kind.
  EXPECT_NE(result.out.find("\"failures\":[{\"file\":\"" + broken + "\",\"kind\":\"bad-input\",\"cause\":\"" + broken +
                            ": not a mail message: the file is empty\"}]"),
            std::string::npos)
      << result.out;
}

TEST(ConvertCli, SourceWithAFinalSlashKeepsItsNameAndItsTree) {
  // As a shell completes it: the display name comes from the folder, not from the empty text
  // after the slash, and the tree below is the same as without the slash.
  TempDir dir;
  const auto root = dir.path() / "Backup";
  WriteMessage(root / "Inbox", "in-1");
  WriteMessage(root / "Inbox" / "Work", "work-1");
  WriteMessage(root / "Sent", "sent-1");
  const auto store = dir.path() / "root.pst";
  const auto result = RunConverter({root.string() + "/", "-o", store.string()}, dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("Migrating 3 items from " + root.string() + "/\n"), std::string::npos) << result.err;
  ExpectReadersAgree(store, {{"Inbox", {"in-1"}}, {"Inbox\\Work", {"work-1"}}, {"Sent", {"sent-1"}}}, {});
  EXPECT_TRUE(pst::Store::open(store.string(), false)->displayName().starts_with("Backup : Created - "));
}

TEST(ConvertCli, WithoutOutputTheStoreIsNamedAfterTheFolderAndTimeInTheCurrentFolder) {
  TempDir dir;
  WriteMessage(dir.path() / "src" / "Mail", "only");
  fs::create_directories(dir.path() / "cwd");
  const auto result = RunConverter({(dir.path() / "src" / "Mail").string(), "--quiet"}, dir.path() / "cwd");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path() / "cwd")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  const std::regex storeName(R"(Mail\d{1,2}\.\d{1,2}\.\d\d \d{1,2}\.\d{1,2}\.\d\d\.(log|pst))");
  EXPECT_TRUE(std::regex_match(names[0], storeName)) << names[0];
  EXPECT_TRUE(std::regex_match(names[1], storeName)) << names[1];
  ExpectReadersAgree(dir.path() / "cwd" / names[1], {{"", {"only"}}}, {});
}

TEST(ConvertCli, MultipleFoldersGiveOneStorePerFolderAndASecondRunAddsToThem) {
  TempDir dir;
  const auto root = dir.path() / "root";
  WriteMessage(root / "Alice", "a-1");
  WriteMessage(root / "Alice" / "Inbox", "a-in");
  WriteText(root / "Alice" / "readme.txt", "queued with *.* but not a message");
  WriteMessage(root / "Bob", "b-1");
  fs::create_directories(root / "Empty");
  WriteText(root / "TextOnly" / "a.txt", "no messages here");
  fs::create_directories(dir.path() / "out");

  auto result = RunConverter({"--multiple", root.string(), "-d", (dir.path() / "out").string(), "--json"}, dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "Alice.pst"));
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "Bob.pst"));
  EXPECT_FALSE(fs::exists(dir.path() / "out" / "Empty.pst"));  // no files at all: passed over
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "TextOnly.pst"));  // files, none of them messages
  EXPECT_EQ(JsonNumber(result.out, "queued", result.out.find("\"totals\"")), 3);
  EXPECT_EQ(JsonNumber(result.out, "imported", result.out.find("\"totals\"")), 3);
  ExpectReadersAgree(dir.path() / "out" / "Alice.pst", {{"", {"a-1"}}, {"Inbox", {"a-in"}}}, {});
  ExpectReadersAgree(dir.path() / "out" / "Bob.pst", {{"", {"b-1"}}}, {});

  // Only the named folder, into the same stores: opened and added to, its log started afresh.
  result = RunConverter({"--multiple", root.string(), "Bob/", "-d", (dir.path() / "out").string()}, dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  ExpectReadersAgree(dir.path() / "out" / "Bob.pst", {{"", {"b-1", "b-1"}}}, {});
  ExpectReadersAgree(dir.path() / "out" / "Alice.pst", {{"", {"a-1"}}, {"Inbox", {"a-in"}}}, {});
  EXPECT_EQ(ReadText(dir.path() / "out" / "Bob.log"), "---- Log Starts -----\r\n");
}

TEST(ConvertCli, StoresThatCannotBeCreatedEndWithExitThreeAndTheRealCause) {
  TempDir dir;
  WriteMessage(dir.path() / "Mail", "m1");
  WriteMessage(dir.path() / "Mail", "m2");

  // The folder of the store does not exist: not even the log can be written.
  auto result = RunConverter({"Mail", "-o", (dir.path() / "missing" / "x.pst").string()}, dir.path());
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_NE((result.out + result.err).find("No such file or directory"), std::string::npos) << result.out << result.err;

  // The log can be written but the store file is not a store: the cause, no Outlook advice, and
  // every message named in the log.
  WriteText(dir.path() / "text.pst", "plain text");
  result = RunConverter({"Mail", "-o", (dir.path() / "text.pst").string()}, dir.path());
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_NE(result.err.find("Outlook Session Creation Error !"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("text.pst"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("32 Bit"), std::string::npos) << result.err;
  EXPECT_EQ(ReadText(dir.path() / "text.pst"), "plain text");
  EXPECT_EQ(BadLines(ReadText(dir.path() / "text.log")), 2u);
}

// A writable copy of the Outlook-made store whose password is "openwall".
fs::path CopyProtectedStore(const fs::path& to) {
  fs::copy_file(sharedDir() / "samples" / "pst" / "pst2john-outlook2010-openwall-password.pst", to);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
  return to;
}

std::int32_t MessagesAtTheTop(const fs::path& store) {
  return pst::Store::open(store.string(), false)->ipmRoot().contentCount();
}

TEST(ConvertCli, AProtectedStoreIsAddedToOnlyWithItsPassword) {
  MAILFOLD_REQUIRE_SHARED();
  TempDir dir;
  for (int i = 0; i < 3; ++i) WriteMessage(dir.path() / "Mail", "m" + std::to_string(i));
  const auto store = CopyProtectedStore(dir.path() / "locked.pst");
  const std::string before = ReadText(store);
  const auto messagesBefore = MessagesAtTheTop(store);
  // Standard input is not a terminal: no one can be asked for the password.
  const auto convert = [&](const std::string& options) {
    return RunProcess({"sh", "-c", "exec \"$0\" Mail -o locked.pst " + options + " </dev/null", ConverterPath()},
                      dir.path());
  };

  WriteText(dir.path() / "wrong", "openwall2\n");
  for (const std::string options : {"", "--password-file wrong"}) {
    SCOPED_TRACE(options);
    const auto result = convert(options);
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.err.find(options.empty() ? "is protected by a password; give it with --password-file"
                                              : "the password is not the store's password"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(ReadText(store) == before) << "the store file changed";
    EXPECT_EQ(BadLines(ReadText(dir.path() / "locked.log")), 3u);
  }

  auto result = convert("--password-file missing");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("cannot read the password file missing: No such file or directory"), std::string::npos)
      << result.err;

  // Its own password, on a first line ended as on Windows.
  WriteText(dir.path() / "right", "openwall\r\nnot part of it\n");
  result = convert("--password-file right");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(MessagesAtTheTop(store), messagesBefore + 3);
  EXPECT_EQ(BadLines(ReadText(dir.path() / "locked.log")), 0u);
}

TEST(ConvertCli, OnATerminalThePasswordIsAskedForWithoutEchoAndTheTerminalIsPutBack) {
  MAILFOLD_REQUIRE_SHARED();
  if (!HaveProgram("script")) GTEST_SKIP() << "script (util-linux) is needed to run under a terminal";
  TempDir dir;
  for (int i = 0; i < 2; ++i) WriteMessage(dir.path() / "Mail", "m" + std::to_string(i));
  const auto store = CopyProtectedStore(dir.path() / "locked.pst");
  const std::string before = ReadText(store);
  const auto messagesBefore = MessagesAtTheTop(store);
  const std::string prompt = "Password for locked.pst: ";  // the store as the command line names it
  // The shell outlives a Ctrl-C (its trap has a command) to show the exit status and the
  // terminal's settings afterwards.
  const std::string command =
      "trap 'true' INT; " + ConverterPath() + " Mail -o locked.pst; echo \"exit=$?\"; stty -a";
  const std::regex echoOn(R"((^|\s)echo(\s|;|$))");

  // Ctrl-C at the question: no password, the run stops, the file is as it was.
  auto result = RunOnATerminal(command, dir.path(), prompt, "\x03");
  EXPECT_NE(result.out.find(prompt), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("exit=130"), std::string::npos) << result.out;
  EXPECT_TRUE(std::regex_search(result.out, echoOn)) << result.out;
  EXPECT_TRUE(ReadText(store) == before) << "the store file changed";

  result = RunOnATerminal(command, dir.path(), prompt, "openwall\n");
  EXPECT_NE(result.out.find("exit=0"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("openwall"), std::string::npos) << "the password was shown: " << result.out;
  EXPECT_TRUE(std::regex_search(result.out, echoOn)) << result.out;
  EXPECT_EQ(MessagesAtTheTop(store), messagesBefore + 2);
}

TEST(ConvertCli, UsageErrorsHelpAndVersion) {
  TempDir dir;
  WriteMessage(dir.path() / "Mail", "m1");
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {},
           {"--bogus", "Mail"},
           {"Mail", "Other"},
           {"Mail", "-o"},
           {"no-such-folder"},
           {"--multiple", "."},
           {"--multiple", ".", "Nope"},
           {"--multiple", ".", "-o", "x.pst"},
           {"Mail", "-d", "out"},
           {"Mail", "-o", "Mail"},
       }) {
    if (arguments.size() == 2 && arguments[0] == "--multiple") WriteMessage(dir.path() / "Real", "r");
    const auto result = RunConverter(arguments, dir.path());
    std::string shown;
    for (const auto& argument : arguments) shown += argument + " ";
    if (arguments == std::vector<std::string>{"--multiple", "."}) {
      EXPECT_NE(result.exitCode, 2) << shown;  // a valid root: converts its sub-folders
      continue;
    }
    EXPECT_EQ(result.exitCode, 2) << shown << result.err;
    EXPECT_NE(result.err.find("mailfold-convert: "), std::string::npos) << shown;
    EXPECT_EQ(result.out, "") << shown;
  }
  auto result = RunConverter({"--help"}, dir.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("--multiple ROOT"), std::string::npos);
  EXPECT_NE(result.out.find("--password-file FILE"), std::string::npos);
  result = RunConverter({"--version"}, dir.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(std::regex_match(result.out, std::regex("mailfold-convert \\d+\\.\\d+\\.\\d+\n"))) << result.out;
  EXPECT_TRUE(fs::is_directory(dir.path() / "Mail"));
}

TEST(ConvertCli, PlainProgressLinesWhenNotOnATerminal) {
  TempDir dir;
  for (int i = 0; i < 20; ++i) WriteMessage(dir.path() / "Mail", "m" + std::to_string(i));
  const auto result = RunConverter({"Mail", "-o", "x.pst"}, dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("Migrating 20 items from " + (dir.path() / "Mail").string() + "/\n"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("] 20/20 100%"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("] 2/20 10%"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\r'), std::string::npos);  // no bar redrawing into a file
  EXPECT_NE(result.out.find("EML Messages Converted Successfully."), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("x.pst: 20 queued, 20 imported, 0 failed"), std::string::npos) << result.out;
}

TEST(ConvertCli, AFullDiskLeavesCountsLogAndStoreInAgreement) {
  if (!HaveProgram("prlimit")) GTEST_SKIP() << "prlimit (util-linux) is needed to limit the file size";
  TempDir dir;
  constexpr int kMessages = 40;
  for (int i = 0; i < kMessages; ++i)
    WriteText(dir.path() / "Mail" / ("m" + std::to_string(i) + ".eml"),
              MessageText("m" + std::to_string(i)) + std::string(100000, 'x') + "\r\n");
  // Writes past 2 MB fail as on a full disk (the signal such writes raise is ignored).
  const auto result = RunProcess({"sh", "-c",
                                  "trap '' XFSZ; exec prlimit --fsize=2000000 " + ConverterPath() +
                                      " Mail -o full.pst --json"},
                                 dir.path());
  EXPECT_EQ(result.exitCode, 1) << result.err << result.out;
  const long imported = JsonNumber(result.out, "imported");
  const long failed = JsonNumber(result.out, "failed");
  EXPECT_GT(failed, 0) << result.out;
  EXPECT_EQ(imported + failed, kMessages);
  EXPECT_EQ(result.out.find("\"error\":null"), std::string::npos) << "the unfinished store is reported";
  EXPECT_EQ(BadLines(ReadText(dir.path() / "full.log")), static_cast<std::size_t>(failed));
  ASSERT_TRUE(HaveProgram("pffexport"));
  EXPECT_EQ(CountOf(ReadWithPffexport(dir.path() / "full.pst")), static_cast<std::size_t>(imported));
}

TEST(ConvertCli, ProgressBarRedrawsItselfOnATerminal) {
  if (!HaveProgram("script")) GTEST_SKIP() << "script (util-linux) is needed to run under a terminal";
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteMessage(dir.path() / "Mail", "m" + std::to_string(i));
  // script gives the program a pseudo-terminal and copies what it draws.
  const auto result = RunProcess({"script", "-qec", ConverterPath() + " Mail -o x.pst", "/dev/null"}, dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("\r[########################] 5/5 100%"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\x1b[K"), std::string::npos);
  EXPECT_EQ(result.out.find("] 5/5 100%  Mail\n"), std::string::npos) << "the bar is not a plain line";
  EXPECT_NE(result.out.find("x.pst: 5 queued, 5 imported, 0 failed"), std::string::npos) << result.out;
}

TEST(ConvertCli, CtrlCStopsAfterTheCurrentMessageAndKeepsWhatWasConverted) {
  TempDir dir;
  constexpr int kMessages = 600;
  for (int i = 0; i < kMessages; ++i) WriteMessage(dir.path() / "Mail" / (i % 2 ? "A" : "B"), "m" + std::to_string(i));
  const auto store = dir.path() / "stop.pst";
  const auto result = RunProcess({ConverterPath(), "Mail", "-o", store.string(), "--json"}, dir.path(), [&](pid_t pid) {
    // Once messages are going in, ask for a stop as Ctrl-C does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(store) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
  });
  ASSERT_EQ(result.exitCode, 130) << result.err << result.out;
  const long imported = JsonNumber(result.out, "imported");
  const long stopped = JsonNumber(result.out, "stopped");
  EXPECT_NE(result.out.find("\"ending\":\"stopped\""), std::string::npos) << result.out;
  EXPECT_GT(imported, 0);
  EXPECT_GT(stopped, 0);
  EXPECT_EQ(imported + JsonNumber(result.out, "failed") + stopped, kMessages);
  // The store was committed and closed: it holds exactly what the summary says.
  ASSERT_TRUE(HaveProgram("pffexport"));
  EXPECT_EQ(CountOf(ReadWithPffexport(store)), static_cast<std::size_t>(imported));
}

}  // namespace
}  // namespace mailfold::test
