// The one way a named data stream of a file is addressed to the file system.
// Portable: no windows.h; works on any 16- or 32-bit wide string type.
//
// Where the platform has real streams, "FILE:NAME" is not safe: a stream
// named "$DATA" makes "FILE:$DATA", the file's unnamed data, and a name that
// ends in dots or spaces loses them to path normalisation ("Naming Files,
// Paths, and Namespaces"), so "FILE: " can become "FILE:", the file itself.
// With the type spelt out, "FILE:NAME:$DATA" can only be that stream (NTFS:
// "File Streams (Local File Systems)"). Where streams are sibling files
// (Wine), "FILE:NAME" is the sibling's own name; its trailing dots and spaces
// are kept by the "\\?\" form, which skips normalisation.
#pragma once
#include <string>

namespace vestrel {

enum class StreamPlatform {
    kRealStreams,   // the file system keeps named streams: FILE:NAME:$DATA
    kSiblingFiles,  // the platform keeps "FILE:NAME" as a file beside FILE
    kUnknown,       // could not be told: the form that never names the file
};

namespace stream_path_detail {

template <class S>
bool IsSep(typename S::value_type c) {
    return c == '\\' || c == '/';
}

template <class S>
S Ascii(const char* text) {
    S out;
    for (; *text != '\0'; ++text) out.push_back(typename S::value_type(*text));
    return out;
}

// "\\?\" form of an absolute drive or UNC path; empty for anything else.
template <class S>
S Extended(const S& file) {
    const S ext = Ascii<S>("\\\\?\\");
    if (file.compare(0, ext.size(), ext) == 0) return file;
    for (typename S::value_type c : file) {
        if (c == '/') return S();  // "\\?\" would take it literally
    }
    if (file.size() >= 3 && file[1] == ':' && IsSep<S>(file[2])) return ext + file;
    if (file.size() >= 3 && IsSep<S>(file[0]) && IsSep<S>(file[1]) && file[2] != '?' && file[2] != '.')
        return Ascii<S>("\\\\?\\UNC\\") + file.substr(2);
    return S();
}

}  // namespace stream_path_detail

// The path of stream `name` of `file` on a platform of the given kind; empty
// when the pair names no stream: an empty file or name, or a name holding a
// colon (it would name another stream or a type: "x:$DATA" is stream "x"),
// a path separator or a NUL. On sibling files a name ending in a dot or a
// space needs `file` absolute, so that the "\\?\" form can keep it.
template <class S>
S JoinStreamPath(const S& file, const S& name, StreamPlatform platform) {
    using namespace stream_path_detail;
    if (file.empty() || name.empty()) return S();
    for (typename S::value_type c : name) {
        if (c == ':' || c == '\\' || c == '/' || c == 0) return S();
    }
    const S colon(1, typename S::value_type(':'));
    if (platform != StreamPlatform::kSiblingFiles) return file + colon + name + Ascii<S>(":$DATA");
    const typename S::value_type last = name.back();
    if (last != '.' && last != ' ') return file + colon + name;
    const S extended = Extended(file);
    return extended.empty() ? S() : extended + colon + name;
}

}  // namespace vestrel
