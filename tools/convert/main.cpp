// mailfold-convert: Mailfold's conversion from a terminal, a script or CI, with the same run
// driver, engine and logs as the desktop screens.
#include <unistd.h>
#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
// (shellapi.h needs windows.h before it)
#include <shellapi.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "engine/pst_store_port.h"
#include "engine/run_requests.h"
#include "files/platform.h"
#include "files/utf8_path.h"
#include "run/run_driver.h"
#include "tools/convert/console_screen.h"
#include "tools/convert/folder_selection.h"
#include "tools/convert/options.h"
#include "tools/convert/run_report.h"
#include "tools/convert/stop_signal.h"
#include "tools/convert/store_password.h"

namespace {

using namespace mailfold;

int UsageError(const std::string& text) {
  std::cerr << "mailfold-convert: " << text << "\nTry 'mailfold-convert --help' for more information.\n";
  return convert::kExitUsage;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(files::PathFromUtf8(path), error);
}

std::string CurrentFolder() {
  std::error_code error;
  const auto path = std::filesystem::current_path(error);
  return error ? std::string() : files::Utf8FromPath(path);
}

bool DrawsOnTerminal() {
  const char* term = std::getenv("TERM");
  return ::isatty(STDERR_FILENO) == 1 && !(term && std::string(term) == "dumb");
}

// CR LF of the closing message becomes one line break.
std::string PlainLines(const std::string& text) {
  std::string plain;
  for (char c : text)
    if (c != '\r') plain.push_back(c);
  return plain;
}

int Run(const convert::Options& options) {
  if (!IsFolder(options.source))
    return UsageError((options.multiple ? "ROOT " : "SOURCE ") + options.source + " is not a folder");

  // A folder given as the store would put the log next to it under a made-up name.
  if (options.output && IsFolder(*options.output))
    return UsageError(*options.output + " is a folder; -o names the store file, for example " + *options.output +
                      "/mail.pst");

  convert::CommandLineSelection selection = convert::CommandLineSelection::Single(options.source);
  if (options.multiple) {
    try {
      selection = convert::CommandLineSelection::Multiple(options.source, options.names, options.outDir.value_or(""));
    } catch (const std::exception& error) {
      return UsageError(error.what());
    }
  }

  // Read before anything is converted: a password file that cannot be read is a mistake on the
  // command line, not a store failure.
  std::optional<std::string> filePassword;
  if (options.passwordFile) {
    auto passwordFile = convert::ReadPasswordFile(*options.passwordFile);
    if (!passwordFile.error.empty()) return UsageError(passwordFile.error);
    filePassword = std::move(passwordFile.password);
  }

  convert::InstallStopHandlers();
  convert::StorePasswords passwords({.filePassword = filePassword,
                                     .stdinIsTerminal = ::isatty(STDIN_FILENO) == 1,
                                     .stopSignal = convert::StopSignal});
  convert::ConsoleScreen::Settings settings;
  settings.terminal = !options.quiet && DrawsOnTerminal();
  settings.quiet = options.quiet;
  settings.storePath = options.output;
  settings.currentFolder = CurrentFolder();
  settings.stopSignal = convert::StopSignal;
  settings.password = [&passwords](const std::string& storePath) { return passwords.For(storePath); };
  engine::RunRequests requests;
  convert::ConsoleScreen screen(settings, requests);

  engine::PstStoreOpener stores;
  run::RunDriver driver(stores);
  const auto started = std::chrono::steady_clock::now();
  const run::RunSummary summary = driver.Run(run::RunPlan::Of(selection, false), screen, requests);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  screen.ClearLine();

  const int exitCode = convert::ExitCodeOf(summary, convert::StopSignal());
  if (options.json) {
    std::cout << convert::SummaryJson(summary, seconds, exitCode) << "\n";
  } else if (!options.quiet) {
    for (const auto& folder : summary.folders) std::cout << convert::StoreLine(folder) << "\n";
    std::cout << PlainLines(run::ClosingText(summary)) << "\n";
  }
  if (options.quiet || options.json) {
    // What went wrong still reaches the user.
    for (const auto& error : summary.scanErrors) std::cerr << "mailfold-convert: " << error << "\n";
    for (const auto& folder : summary.folders) {
      if (!folder.error.empty() && folder.ending != engine::FolderEnding::StoreFailed)
        std::cerr << "mailfold-convert: " << folder.error << "\n";
      if (folder.failed > 0 && folder.ending != engine::FolderEnding::StoreFailed)
        std::cerr << "mailfold-convert: " << convert::StoreLine(folder) << "\n";
    }
  }
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The arguments as UTF-8: argv holds them in the ANSI code page, which cannot hold every name.
  (void)argc, (void)argv;
  std::vector<std::string> arguments;
  ::SetConsoleOutputCP(CP_UTF8);  // what the program prints is UTF-8
  int count = 0;
  if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) arguments.push_back(files::Utf8FromWide(wide[i]));
    ::LocalFree(wide);
  }
#else
  const std::vector<std::string> arguments(argv + 1, argv + argc);
#endif
  const auto parsed = convert::ParseOptions(arguments);
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (parsed.options.help) {
    std::cout << convert::UsageText();
    return 0;
  }
  if (parsed.options.version) {
    std::cout << "mailfold-convert " << MAILFOLD_VERSION << "\n";
    return 0;
  }
  try {
    return Run(parsed.options);
  } catch (const std::exception& error) {
    std::cerr << "mailfold-convert: the conversion ended unexpectedly: " << error.what() << "\n";
    return convert::kExitSomeFailed;
  }
}
