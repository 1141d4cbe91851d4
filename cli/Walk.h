// The walk of the console program: each path named, a directory's entries,
// and with recursion the whole tree, depth first in listing order. Every
// path it hands out is in the extended "\\?\" form.
//
// Links: a directory that is a reparse point naming another place (junction,
// directory symbolic link, mount point) is listed but not entered unless
// links are followed; the visitor gets a note for it. Whatever is followed,
// no directory is entered twice: each is known by its volume serial number
// and file id, so a loop ends at the first repeat (with a note). A directory
// whose id is unknown (0 or all ones) is never taken for one already entered.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vestrel::cli {

// A directory's identity. Where the platform answers FileIdInfo (Windows 8
// and later) it is the 128-bit file id with the 64-bit volume serial number
// (`wide`); otherwise the 64-bit file index with the 32-bit serial. The kind
// is part of the identity, so ids of the two kinds never match. An id of 0
// or all ones is no identity at all (MS-FSCC: such ids "MUST be ignored").
struct DirectoryId {
    uint64_t volume = 0;
    uint64_t file = 0;      // the 64-bit index, or the low half of the 128-bit id
    uint64_t fileHigh = 0;  // the high half of the 128-bit id; 0 for an index
    bool wide = false;      // from FileIdInfo
    bool Known() const {
        if (!wide) return file != 0 && file != UINT64_MAX;
        return !(file == 0 && fileHigh == 0) && !(file == UINT64_MAX && fileHigh == UINT64_MAX);
    }
    bool operator<(const DirectoryId& o) const {
        if (wide != o.wide) return wide < o.wide;
        if (volume != o.volume) return volume < o.volume;
        return fileHigh != o.fileHigh ? fileHigh < o.fileHigh : file < o.file;
    }
};

// What the walk asks of the file system beyond listing; tests replace it.
struct WalkHooks {
    // The identity of the directory the path leads to (through a link).
    // `within` is the identity of the directory whose entry the path is, when
    // the path is not a link: the volume is then that directory's (only a
    // link leads to another volume), so where only the 64-bit index is to be
    // had, only it needs asking.
    std::function<DWORD(const std::wstring& path, const DirectoryId* within, DirectoryId* id)> identify;
    // True for an entry that is a link to another place.
    std::function<bool(const WIN32_FIND_DATAW& entry)> isLink;
    static WalkHooks Platform();
};

struct WalkOptions {
    bool recursive = false;
    bool followLinks = false;
};

class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // One file or directory whose streams are wanted; `root` is the path
    // named on the command line it belongs to.
    virtual void Entry(const std::wstring& root, const std::wstring& path, bool isDirectory, bool isLink) = 0;
    // Something could not be read (missing, no access, listing failed).
    virtual void Unreadable(const std::wstring& path, DWORD error) = 0;
    // A directory deliberately not entered, and why.
    virtual void Note(const std::wstring& path, const std::wstring& text) = 0;
    // Asked between entries: true ends the walk (e.g. the output was closed).
    virtual bool Stopped() { return false; }
};

// Walks one path as named on the command line (already extended): its own
// streams, and for a directory those of its entries (the whole tree with
// `recursive`). A named directory is entered even when it is a link.
void Walk(const std::wstring& root, const WalkOptions& options, WalkVisitor& visitor,
          const WalkHooks& hooks = WalkHooks::Platform());

}  // namespace vestrel::cli
