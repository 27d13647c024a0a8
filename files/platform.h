// The platform file layer: the few operating-system file calls that the directory search, the
// existence tests and the folder-tree scan need, and the process-wide last error they leave.
//
// Everything above this layer was written against Windows results, so this POSIX layer keeps
// them: error codes are the numbers Windows gives for the same situation (errno is translated
// in one table, see platform.cpp), and the attribute word carries the Windows bits that the
// callers test. Paths are byte strings passed to the system unchanged; no encoding is assumed.
//
// How the rules read on POSIX:
//   - The separator in file paths is "/"; "\" is an ordinary name character.
//   - Attribute word: 16 = folder (a link to a folder counts as a folder), 1 = read-only (the
//     owner has no write permission), 2 = hidden (the name begins with "."), 64 = device (a
//     FIFO, socket or device node: something that is neither a folder nor a regular file),
//     128 = normal (none of the others). kInvalidAttributes (-1, all bits set) on failure.
//   - There is one file interface, so the wide/narrow variant choice, the start-up probe and
//     the "\\?\" long-path form have nothing to do here and do not exist.
//   - A path longer than kMaxPathBytes - 1 bytes fails with kFilenameTooLong (206) before the
//     system is asked; a path with an embedded NUL byte fails with kInvalidName (123), because
//     the system would silently act on the shorter path before the NUL.
//
// How they read on Windows (platform_win32.cpp): the codes, the attribute word and the folder
// listing are the system's own. Paths are UTF-8 and go to the wide-character calls; "\" and "/"
// both separate. A path that does not fit the classic length limit is passed in its "\\?\" form
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), so long paths work without any system
// setting; up to 32767 UTF-16 units, else 206. A path that is not valid UTF-8, or holds a NUL,
// fails with 123, as do names with characters Windows forbids (the system says so itself).
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace mailfold::files {

// Windows error codes the file services report (and that callers may test for).
namespace win_error {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFileNotFound = 2;
inline constexpr std::int32_t kPathNotFound = 3;
inline constexpr std::int32_t kTooManyOpenFiles = 4;
inline constexpr std::int32_t kAccessDenied = 5;
inline constexpr std::int32_t kInvalidHandle = 6;
inline constexpr std::int32_t kNotEnoughMemory = 8;
inline constexpr std::int32_t kNotSameDevice = 17;
inline constexpr std::int32_t kNoMoreFiles = 18;
inline constexpr std::int32_t kWriteProtect = 19;
inline constexpr std::int32_t kSharingViolation = 32;
inline constexpr std::int32_t kNotSupported = 50;
inline constexpr std::int32_t kFileExists = 80;
inline constexpr std::int32_t kInvalidParameter = 87;
inline constexpr std::int32_t kDiskFull = 112;
inline constexpr std::int32_t kCallNotImplemented = 120;
inline constexpr std::int32_t kInvalidName = 123;
inline constexpr std::int32_t kDirNotEmpty = 145;
inline constexpr std::int32_t kBusy = 170;
inline constexpr std::int32_t kFilenameTooLong = 206;
inline constexpr std::int32_t kFileTooLarge = 223;
inline constexpr std::int32_t kIoDevice = 1117;
inline constexpr std::int32_t kTooManyLinks = 1142;
inline constexpr std::int32_t kDiskQuotaExceeded = 1295;
inline constexpr std::int32_t kCantResolveFilename = 1921;
// Stored when a call failed but the system gave no code at all.
inline constexpr std::int32_t kUnknown = -1;
}  // namespace win_error

// Attribute word bits (the Windows values).
inline constexpr std::int32_t kAttrReadOnly = 1;
inline constexpr std::int32_t kAttrHidden = 2;
inline constexpr std::int32_t kAttrFolder = 16;
inline constexpr std::int32_t kAttrDevice = 64;
inline constexpr std::int32_t kAttrNormal = 128;
inline constexpr std::int32_t kAttrCompressed = 2048;
inline constexpr std::int32_t kInvalidAttributes = -1;

#ifdef _WIN32
// The separator the file services write: "/", the form the layers above work with (Windows takes
// it everywhere); "\\" is accepted as well.
inline constexpr char kPathSeparator = '/';
inline constexpr bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
// Longest path of the wide-character calls (UTF-16 units, "\\?\" form, NUL included); in UTF-8
// bytes a path may be up to three times as long.
inline constexpr std::size_t kMaxPathUnits = 32767;
inline constexpr std::size_t kMaxPathBytes = 3 * kMaxPathUnits;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool IsPathSeparator(char c) { return c == '/'; }
// Paths of this many bytes or more are refused (the system's own limit, NUL included).
inline constexpr std::size_t kMaxPathBytes = 4096;
#endif

// The process-wide last error of the file services: 0 after the last operation succeeded, else
// the Windows-compatible code of its failure, or -1 when the system gave none.
std::int32_t LastFileError();
void SetLastFileError(std::int32_t code);

// The Windows code for an errno value; unmapped values are returned unchanged and 0 gives -1.
std::int32_t WindowsErrorFromErrno(int errnoValue);

// A short description of a code of LastFileError ("access denied", "path not found"), from the
// system's text for the errno the code stands for; "error N" for a code of no known errno.
std::string FileErrorText(std::int32_t code);

// Records a failure in LastFileError and returns the recorded code. `errnoValue` is the errno
// captured right after the failed call.
std::int32_t RecordFileError(int errnoValue);

// As RecordFileError for a failed call on `path`: a missing entry whose folder is missing too
// is recorded as "path not found" (3) rather than "file not found" (2), as Windows tells them apart.
std::int32_t RecordPathError(int errnoValue, const std::string& path);

// Refuses paths the system cannot be given safely: 0 when `path` may be passed on, else the
// code (206 too long, 123 embedded NUL). Does not touch LastFileError.
std::int32_t CheckPathForSystem(const std::string& path);

// The attribute word of `path` (links followed), or kInvalidAttributes. Sets LastFileError to 0
// on success, else to the code of the failure.
std::int32_t GetAttributes(const std::string& path);

// Applies the changeable part of an attribute word: with bit 1 set the entry loses its write
// permissions, without it the owner gains write permission (so 128 leaves a file deletable and
// writable by its owner). The hidden bit follows the name and the folder bit the entry's kind,
// so both are ignored here, as Windows ignores the folder bit. Returns 0 on success (and sets
// LastFileError to 0), else the recorded code; kInvalidAttributes as the word is refused (87).
std::int32_t SetAttributes(const std::string& path, std::int32_t attributes);

#ifndef _WIN32
// The attribute word for an entry called `name` with file mode `mode` (shared with the
// directory search, which reports the same word as GetAttributes for each entry).
std::int32_t AttributesFromMode(mode_t mode, const std::string& name);
#else
// The path as the wide-character calls take it (see above), or "" with the code in `code`
// (123 not UTF-8 or NUL, 206 too long). Relative paths stay relative unless they are too long.
std::wstring SystemPath(const std::string& path, std::int32_t& code);
std::string Utf8FromWide(const wchar_t* text);
// Records the code of GetLastError() (or -1 when it gives none) and returns it.
std::int32_t RecordSystemError();
#endif

// Which folder `path` is, for noticing a folder reached again through a link: the device and
// the file number on it. False when the folder cannot be opened.
bool FolderIdentityOf(const std::string& path, std::uint64_t& device, std::uint64_t& fileNumber);

// The last component of a path ("" for "/"), ignoring trailing separators.
std::string LastPathComponent(const std::string& path);

}  // namespace mailfold::files
