// Existence tests, the forced delete of a single file, and the two small path operations that
// go with them. None of them throws; problems make the tests answer false.
//
// How the rules read on POSIX (separator "/"):
//   - AddBackslash trims leading and trailing spaces and ensures exactly one trailing "/"; an
//     empty or all-blank path gives "/". The name is kept so that callers read as written.
//   - IsRootPath is pure string logic and keeps the Windows forms, with "\" and "/" both taken
//     as separators: "/" (and "//") is a root; "C:\", "C:" and "C:/" are drive roots; "\\server"
//     and "\\server\" (or "//server/") are server roots; adding a share or a folder makes the
//     path no root. Blank paths are no root.
//   - FolderExists has no null-device fallback: POSIX folders show no "nul" entry.
//   - DeleteFileForced never removes a folder (the delete fails with 5). It makes the file
//     writable by its owner first only when the path names a plain file: a folder, or the target
//     of a symbolic link, keeps its permissions (deleting a link removes only the link).
#pragma once

#include <cstdint>
#include <string>

namespace mailfold::files {

// True when `path` names an existing entry that is not a folder. Leaves LastFileError at 0
// unless the first attribute read succeeded (then it is 0 anyway).
bool FileExists(const std::string& path);

// True when `path` names an existing folder; with or without a trailing "/", and with
// surrounding blanks, the answer is the same. A blank path is no folder. Leaves LastFileError 0.
bool FolderExists(const std::string& path);

// Deletes one file. 0 on success, else the code of the failure (also in LastFileError);
// -1 for a root given with its trailing "/".
std::int32_t DeleteFileForced(const std::string& path);

std::string AddBackslash(const std::string& path);

bool IsRootPath(const std::string& path);

}  // namespace mailfold::files
