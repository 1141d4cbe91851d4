// Stream names a plain listing leaves out, and safe file names for
// extracted streams.
#pragma once
#include <string>

namespace vestrel::report {

// The three names a plain listing leaves out ("favicon", "zone.identifier",
// "oecustomproperty", whole name, ASCII case ignored) when they hold what
// the name says (see NameMismatch).
bool IsExcludedName(const std::u16string& stream);

// A file name for an extracted stream, built from the entry's path relative
// to the extraction root and the stream name: every character that is a path
// separator, reserved on Windows (<>:"/\|?* and controls) or a lone surrogate
// becomes '_', ".." cannot form a component, reserved device names (CON,
// NUL, COM1...) get a '_' prefix, trailing dots and spaces are replaced, and
// the result is at most 200 UTF-16 units (a hash of the whole keeps long
// names apart). Never empty, never "." or "..", never contains a separator.
std::u16string SafeExtractName(const std::u16string& relativePath, const std::u16string& stream);
// The n-th alternative when a name is taken: "name (n)" before any extension.
std::u16string NumberedName(const std::u16string& name, unsigned n);
// Windows opens a device for these whatever the extension: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, judged on the part before the first
// dot with trailing spaces dropped, ASCII case ignored.
bool IsReservedDeviceName(const std::u16string& name);

// What follows a file's colon in "FILE:STREAM" or "FILE:STREAM:$DATA": the
// bare stream name, or false with why. The type, when given, is exactly
// $DATA (ASCII case ignored, as Windows ignores it); an empty name or any
// other type names no named data stream. A bare "$DATA" is the file's own
// data, as Windows reads "FILE:$DATA": the stream of that name is
// "$DATA:$DATA".
bool ParseStreamSpec(const std::u16string& given, std::u16string* name, std::string* error);

}  // namespace vestrel::report
