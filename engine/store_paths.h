// String rules for turning source file paths into store folder paths.
//
// Source paths are POSIX paths ("/" separates, "\" is an ordinary name character). Store folder
// paths use "\" as their separator. The folder rules (which folders are created, where a
// message goes) are written for the backslash form, so a source path is first put into that
// form: every "\" inside a name becomes U+FF3C FULLWIDTH REVERSE SOLIDUS (it looks the same to
// the user but can no longer split a name into two store folders), then every "/" becomes "\".
// The source /mail/Inbox/a.eml reads \mail\Inbox\a.eml, and the root "/" reads "\", the
// counterpart of a drive root such as D:\ . A name that is not UTF-8 (an archive unpacked with
// Latin-1 names, "caf\xE9") is read as windows-1252, as mail clients read unlabelled text, so that
// it names a folder the store can hold ("café") and two such names stay apart.
#pragma once

#include <string>
#include <string_view>

namespace mailfold::engine {

// U+FF3C in UTF-8: stands for "\" inside a store folder or store name.
inline constexpr std::string_view kBackslashStandIn = "\xEF\xBC\xBC";

// A single name (file, folder or store name) made safe for a store folder path.
std::string StoreSafeName(std::string_view name);
// A POSIX path in the backslash form described above.
std::string BackslashFormOf(std::string_view posixPath);

// `path` without its leading `root`. Both are in the backslash form. A source path always starts
// with the scanned root, so only that leading occurrence is taken away: a later occurrence is a
// real folder name (/m/x/m/y keeps its second "m" when /m is the root).
std::string WithoutRoot(std::string_view path, std::string_view root);

// The text after the last `separator` (the whole text when there is none).
std::string FileNameOf(std::string_view path, char separator = '\\');
// The text up to and including the last `separator` ("" when there is none).
std::string ParentPathOf(std::string_view path, char separator = '\\');

// A queued file that is imported: its name ends in ".eml" or is "eml~1", in any letter case.
// `posixPath` is the source path as scanned.
bool IsMessageFile(std::string_view posixPath);

// Plain string helpers with the exact, case-sensitive semantics the folder rules use.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
bool Contains(std::string_view text, std::string_view part);
// Leading and trailing blanks (spaces) removed.
std::string TrimBlanks(std::string_view text);

}  // namespace mailfold::engine
