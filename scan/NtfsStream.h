// The alternate data streams of one file, read through the file's backup
// stream sequence.
#pragma once
#include <atomic>
#include <string>

#include "StreamEnumerator.h"

class CNtfsStream {
public:
    virtual ~CNtfsStream();

    // Appends one record per listed stream of the file at `path` and returns
    // the list's element count. An empty path or a file that cannot be opened
    // (missing, no access, held open for writing) returns 0, list untouched.
    static int EnumStreams(std::wstring path, NtfsStreamList* list,
                           const std::atomic<bool>* stop = nullptr);
    static void FreeStreamList(NtfsStreamList* list);
};

// True for a directory entry that is a stream sibling ("a.txt:s") rather than
// a file: such entries exist only where the platform keeps streams as files,
// and a directory walk passes over them (Windows never lists a name with ':').
bool IsStreamSiblingName(const std::wstring& entryName);
