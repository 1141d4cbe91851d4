// Path forms of the console program: what the user typed, the absolute
// extended form every file-system call gets (so names past 259 characters
// work), the form shown back in rows, and the split of "FILE:STREAM".
// Portable: no windows.h, no file system.
#pragma once
#include <string>

namespace vestrel::cli {

// An absolute, normalised path from what the user typed and the current
// directory (itself absolute, "C:\dir" or "\\server\share\dir"). Separators
// become '\', "." and ".." components are resolved (never above the root),
// repeated separators collapse and a trailing separator goes, except after
// a drive root. Handles "C:\x", "\x" (root of the current drive),
// "C:x" (relative to the current directory when it is on that drive, else to
// the drive's root), "\\server\share\x", and paths already in "\\?\" form
// (kept as they are). Empty on input it cannot make sense of (empty text, a
// share without its name, "\\.\" device paths).
std::u16string AbsolutePath(const std::u16string& typed, const std::u16string& currentDir);

// "C:\x" -> "\\?\C:\x", "\\server\share\x" -> "\\?\UNC\server\share\x";
// a path already extended stays. The input is an AbsolutePath result.
std::u16string ExtendedPath(const std::u16string& absolute);

// The inverse: what the user would type ("\\?\C:\x" -> "C:\x",
// "\\?\UNC\s\h\x" -> "\\s\h\x"); other text is returned unchanged.
std::u16string DisplayPath(const std::u16string& extended);

// `child` below `root` (both absolute, in the same form), as a relative path
// that starts with the root's last component ("C:\a\b", "C:\a\b\c\d.txt" ->
// "b\c\d.txt"); for a drive root, its letter ("C:\" -> "C"). Empty if
// `child` is not `root` or below it.
std::u16string PathUnderRootsParent(const std::u16string& root, const std::u16string& child);

// One named data stream as the user named it: "FILE:STREAM" or
// "FILE:STREAM:$DATA". The stream separator is the first colon after the
// last path separator, not counting the drive letter's colon.
struct StreamPath {
    std::u16string file;
    std::u16string stream;  // bare name
    std::string error;      // non-empty: refused, and why
};
// Refused: no stream part ("a.txt"), an empty stream name ("a.txt:",
// "a.txt::$DATA", "a.txt:$DATA" - each names the unnamed stream), a stream
// type other than $DATA (it names no data stream: "d::$INDEX_ALLOCATION" is
// a directory's index), an empty file part, or more than two colons.
StreamPath ParseStreamPath(const std::u16string& typed);

// True when the last component of `typed` is a DOS device name, which the
// platform resolves to the device wherever it is written ("C:\x\NUL" is
// "\\.\NUL"): CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 and the superscript
// forms COM¹ COM² COM³ LPT¹ LPT² LPT³ ("Naming Files, Paths, and
// Namespaces"), CONIN$ and CONOUT$ (CreateFile's console names), in any
// case, also followed by an extension ("NUL.txt") or by spaces before it
// ("NUL .txt"). "COM10" is a file name. A path typed in the "\\?\" form is
// taken literally and names no device.
bool NamesDevice(const std::u16string& typed);

}  // namespace vestrel::cli
