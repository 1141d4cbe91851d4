// The alternate data streams of one file, read through the file's backup
// stream sequence.
#pragma once
#include <atomic>
#include <string>

#include <windows.h>

#include "StreamEnumerator.h"
#include "StreamPath.h"

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

namespace vestrel {

// Whether this platform has real streams, asked once: BackupRead answers
// "not supported" where streams are sibling files (Wine), as it does for
// the enumeration's fallback.
StreamPlatform CurrentStreamPlatform();
// Test seam: the kind every later call sees, until ResetStreamPlatform
// (which goes back to the probe). Returns the kind in force before.
StreamPlatform SetStreamPlatform(StreamPlatform platform);
void ResetStreamPlatform();

// JoinStreamPath for this platform: the path every open, view and delete of
// a named stream uses. Empty when the pair names no stream.
std::wstring PlatformStreamPath(const std::wstring& file, const std::wstring& name);

}  // namespace vestrel

namespace vestrel {

// Attributes saying the file's data is not (all) here: reading it would
// download or recall it ("Handling placeholders"; "File Attribute
// Constants": RECALL_ON_DATA_ACCESS, RECALL_ON_OPEN, OFFLINE).
bool DataIsRemote(DWORD attributes);
// DataIsRemote for an open file, its attributes asked through the query
// seam below; false when they cannot be had.
bool HandleDataIsRemote(HANDLE file);

// The two handle queries the no-data listing makes, for the test seam:
// the file's attributes (FileBasicInfo) and its stream list
// (FileStreamInfo), both as GetFileInformationByHandleEx answers them.
struct FileQueryCalls {
    BOOL (*attributes)(HANDLE file, DWORD* attributes);
    BOOL (*streamInfo)(HANDLE file, void* buffer, DWORD size);
};
// Sets the calls (a null member: the platform's); returns those before.
FileQueryCalls SetFileQueryCalls(FileQueryCalls calls);

// Every named data stream of the open `file` (opened by `path`), names and
// sizes only, no stream's data read: the file system's stream list where it
// answers, the backup sequence skipping all data where it does not, the
// sibling names where streams are sibling files. Visit returns false to end.
void ListStreamsWithoutData(HANDLE file, const std::wstring& path, const NamedStreamVisitor& visit,
                            const std::atomic<bool>* stop = nullptr);
// Its two halves, for a caller that opens the file with less access. The
// file system's list (FileStreamInfo) needs no access right beyond an open
// handle ("FILE_STREAM_INFORMATION structure"); false, with nothing visited,
// where it is not answered. The backup walk needs a handle opened with
// GENERIC_READ ("BackupRead"); the sibling walk, FILE_READ_ATTRIBUTES.
bool ListStreamsFromStreamInfo(HANDLE file, const NamedStreamVisitor& visit, const std::atomic<bool>* stop = nullptr);
// Whether the backup walk reads through the file's handle (the platform's
// backup calls), so that it needs one opened for reading; the sibling walk
// goes by name.
bool BackupWalkReadsHandle();
void ListStreamsFromBackup(HANDLE file, const std::wstring& path, const NamedStreamVisitor& visit,
                           const std::atomic<bool>* stop = nullptr);

}  // namespace vestrel
