// Helpers for the converter tests: message files on disk, running mailfold-convert as a process,
// and reading stores back through our own reader and the independent ones (pffexport, readpst,
// the npm reader).
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::test {

namespace fs = std::filesystem;

inline void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A small message whose subject names it, so that readers can tell where it landed.
inline std::string MessageText(const std::string& subject, bool withAttachment = false) {
  std::string text =
      "From: Ann Example <ann@example.com>\r\n"
      "To: Bob Example <bob@example.com>\r\n"
      "Subject: " + subject + "\r\n"
      "Date: Tue, 03 Nov 2026 10:00:00 +0000\r\n"
      "Message-ID: <" + subject + "@example.com>\r\n"
      "MIME-Version: 1.0\r\n";
  if (!withAttachment) return text + "Content-Type: text/plain; charset=utf-8\r\n\r\nBody of " + subject + ".\r\n";
  return text +
         "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
         "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nBody of " + subject + ".\r\n"
         "--b1\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQ==\r\n--b1--\r\n";
}

// Writes a message file named <subject>.eml below `folder`.
inline fs::path WriteMessage(const fs::path& folder, const std::string& subject, bool withAttachment = false) {
  const fs::path path = folder / (subject + ".eml");
  WriteText(path, MessageText(subject, withAttachment));
  return path;
}

// Programs run as processes, and the Linux readers: the end-to-end tests of mailfold-convert
// (POSIX; on Windows the converter is run and its stores read back by scripts/windows/test.sh).
#ifndef _WIN32
struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a program with `arguments` in `workingDir`, capturing its output; `beforeWait` runs
// with the child's pid once it has started (to send it a signal).
template <class BeforeWait>
ProcessResult RunProcess(const std::vector<std::string>& arguments, const fs::path& workingDir,
                         BeforeWait beforeWait) {
  TempDir capture;
  const std::string outPath = (capture.path() / "out").string();
  const std::string errPath = (capture.path() / "err").string();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(workingDir.c_str()) != 0) _exit(126);
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(126);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ProcessResult result;
  if (pid < 0) return result;
  beforeWait(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  return result;
}

inline ProcessResult RunProcess(const std::vector<std::string>& arguments, const fs::path& workingDir) {
  return RunProcess(arguments, workingDir, [](pid_t) {});
}

// Runs the shell command `command` on a pseudo-terminal (util-linux script), as a user at a
// terminal would, and types `typed` once what it drew contains `cue` (or gives up typing after a
// minute). `result.out` is everything the terminal showed.
inline ProcessResult RunOnATerminal(const std::string& command, const fs::path& workingDir, const std::string& cue,
                                    const std::string& typed) {
  TempDir capture;
  const std::string outPath = (capture.path() / "out").string();
  int keyboard[2];
  if (pipe(keyboard) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(keyboard[1]);
    if (dup2(keyboard[0], STDIN_FILENO) < 0 || chdir(workingDir.c_str()) != 0) _exit(126);
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execlp("script", "script", "-qec", command.c_str(), "/dev/null", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(keyboard[0]);
  ProcessResult result;
  if (pid < 0) {
    close(keyboard[1]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadText(outPath).find(cue) == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (write(keyboard[1], typed.data(), typed.size()) < 0) result.err = "could not type";
  int status = 0;
  waitpid(pid, &status, 0);
  close(keyboard[1]);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadText(outPath);
  return result;
}

inline std::string ConverterPath() { return (binDir() / "mailfold-convert").string(); }

inline ProcessResult RunConverter(std::vector<std::string> arguments, const fs::path& workingDir) {
  arguments.insert(arguments.begin(), ConverterPath());
  return RunProcess(arguments, workingDir);
}

inline bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Folder path (below the visible root, "\"-separated, "" for the root) -> subjects in it.
using FolderContents = std::map<std::string, std::multiset<std::string>>;

// The store as pffexport sees it: every folder below "Top of Personal Folders", with the
// subjects of its messages.
inline FolderContents ReadWithPffexport(const fs::path& store) {
  TempDir work;
  const auto target = work.path() / "x";
  RunProcess({"pffexport", "-q", "-m", "all", "-t", target.string(), store.string()}, work.path());
  FolderContents contents;
  const fs::path top = work.path() / "x.export" / "Top of Personal Folders";
  if (!fs::is_directory(top)) return contents;
  contents[""];
  for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_directory()) continue;
    const std::string name = it->path().filename().string();
    if (name.rfind("Message", 0) == 0 && fs::exists(it->path() / "OutlookHeaders.txt")) {
      std::string folder = fs::relative(it->path().parent_path(), top).generic_string();
      if (folder == ".") folder.clear();
      for (auto& c : folder)
        if (c == '/') c = '\\';
      std::istringstream headers(ReadText(it->path() / "OutlookHeaders.txt"));
      std::string line;
      std::string subject;
      while (std::getline(headers, line))
        if (line.rfind("Subject:", 0) == 0) subject = line.substr(line.find_first_not_of("\t ", 8));
      contents[folder].insert(subject);
      it.disable_recursion_pending();
    } else if (name != "Attachments" && name.rfind("Message", 0) != 0) {
      std::string folder = fs::relative(it->path(), top).generic_string();
      for (auto& c : folder)
        if (c == '/') c = '\\';
      contents[folder];
    }
  }
  return contents;
}

// The store as readpst sees it (-D -r): one mbox per folder that holds messages.
inline FolderContents ReadWithReadpst(const fs::path& store) {
  TempDir work;
  // -j 0: readpst's parallel jobs share one file offset and now and then read each other's blocks.
  RunProcess({"readpst", "-j", "0", "-q", "-D", "-r", "-o", work.str(), store.string()}, work.path());
  FolderContents contents;
  // readpst writes one folder named after the store's display name; it stands for the visible root.
  fs::path top;
  for (const auto& entry : fs::directory_iterator(work.path()))
    if (entry.is_directory()) top = entry.path();
  if (top.empty()) return contents;
  for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
    std::string folder = fs::relative(it->is_directory() ? it->path() : it->path().parent_path(), top).generic_string();
    if (folder == ".") folder.clear();
    for (auto& c : folder)
      if (c == '/') c = '\\';
    contents[folder];
    if (it->is_directory() || it->path().filename() != "mbox") continue;
    std::istringstream mbox(ReadText(it->path()));
    std::string line;
    bool inHeader = false;
    while (std::getline(mbox, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("From ", 0) == 0) inHeader = true;
      else if (line.empty()) inHeader = false;
      else if (inHeader && line.rfind("Subject: ", 0) == 0) contents[folder].insert(line.substr(9));
    }
  }
  return contents;
}

// The store as the npm reader sees it; empty when node or the reader is missing.
inline FolderContents ReadWithPstExtractor(const fs::path& store) {
  FolderContents contents;
  const fs::path script = sourceDir() / "tests" / "oracles" / "pst_extractor_dump.js";
  if (!fs::exists(sourceDir() / "tests" / "node_modules" / "pst-extractor" / "package.json")) return contents;
  TempDir work;
  const auto result = RunProcess({"node", script.string(), store.string()}, work.path());
  if (result.exitCode != 0) return contents;
  WriteText(work.path() / "dump.json", result.out);
  // Paths below "Top of Personal Folders", as the other readers give them.
  const char* flatten = R"PY(
import json, sys
top = '\\Top of Personal Folders'
for f in json.load(open(sys.argv[1]))['folders']:
    p = f['path']
    if p != top and not p.startswith(top + '\\'):
        continue
    rel = p[len(top) + 1:]
    print('F\t' + rel)
    for m in f['messages']:
        print('M\t' + rel + '\t' + (m['subject'] or ''))
)PY";
  const auto flat = RunProcess({"python3", "-c", flatten, (work.path() / "dump.json").string()},
                               work.path());
  std::istringstream lines(flat.out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string rest = line.substr(tab + 1);
    std::string subject;
    const bool isMessage = line[0] == 'M';
    if (isMessage) {
      const auto second = rest.find('\t');
      subject = rest.substr(second + 1);
      rest = rest.substr(0, second);
    }
    contents[rest];
    if (isMessage) contents[rest].insert(subject);
  }
  return contents;
}

#endif

}  // namespace mailfold::test
