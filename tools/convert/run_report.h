// How a run of mailfold-convert is reported: its exit status, one line per store and the JSON
// summary of --json.
#pragma once

#include <string>

#include "engine/folder_outcome.h"
#include "run/run_summary.h"

namespace mailfold::convert {

inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStoreFailed = 3;

// 128 + the signal when the user stopped the run; else 3 when a store or its log could not be
// opened or created, 1 when any message was not converted (failed, skipped, or a store that
// could not be completed), 0 when every queued message is in its store.
int ExitCodeOf(const run::RunSummary& summary, int stopSignal);

// "store.pst: 12 queued, 11 imported, 1 failed (see store.log)".
std::string StoreLine(const engine::FolderOutcome& folder);

// The summary as one JSON object (see the manual page for its fields).
std::string SummaryJson(const run::RunSummary& summary, double seconds, int exitCode);

// A JSON string literal. Bytes that are not UTF-8 become the escapes \udc80..\udcff (one per
// byte, Python's surrogateescape), so that a path's bytes can be recovered exactly.
std::string JsonString(const std::string& text);

}  // namespace mailfold::convert
