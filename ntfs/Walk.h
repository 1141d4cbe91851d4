// Walks a mounted volume from one path and reports every named data stream
// of every file and directory reached, as it goes: entries are handled as a
// directory's index yields them, so memory does not grow with the size of a
// directory, only with the depth of the tree.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Report.h"

struct _ntfs_volume;
struct _ntfs_inode;

namespace vestrel::ntfs {

struct WalkOptions {
    bool recursive = false;  // the whole tree, not only PATH and its entries
    bool all = false;        // metadata files and the three excluded names too
    bool usualNames = false; // the three excluded names too (the caller judges them)
};

// One stream found; `inode` stays open for the call (extract reads it).
using OnStream = std::function<void(const report::StreamRow& row, _ntfs_inode* inode)>;
// Something that could not be read; the listing goes on past it.
using OnProblem = std::function<void(const std::u16string& path, const std::string& what)>;

// Reports each named data stream of the open `inode`, listed at `path`: the
// one place a live file's streams are read, for the walk and the MFT scan.
void InodeStreams(_ntfs_inode* inode, const std::u16string& path, bool isDirectory, bool all,
                  const OnStream& onStream, const OnProblem& onProblem);

class Walker {
public:
    using OnStream = ntfs::OnStream;
    using OnProblem = ntfs::OnProblem;
    // One entry looked at, in `folder` (progress).
    using OnEntry = std::function<void(const std::u16string& folder)>;

    Walker(_ntfs_volume* volume, const WalkOptions& options, OnStream onStream, OnProblem onProblem,
           OnEntry onEntry = nullptr);
    // Lists `start` (a normal volume path) and what lies under it. False when
    // `start` itself cannot be found or read (reported through OnProblem).
    bool Run(const std::u16string& start);

    // Guards against damaged volumes.
    static constexpr unsigned kMaxDepth = 512;
    static constexpr unsigned kMaxAttributes = 65536;

private:
    void Directory(_ntfs_inode* dir, const std::u16string& path, unsigned depth);
    // One entry of the directory `parent`; `reference` is its MFT reference
    // (record number and sequence).
    void Entry(const std::u16string& parent, const std::u16string& name, uint64_t reference, unsigned depth);

    _ntfs_volume* volume_;
    WalkOptions options_;
    OnStream onStream_;
    OnProblem onProblem_;
    OnEntry onEntry_;
    std::vector<uint64_t> ancestors_;  // record numbers of the directories being listed
};

// Opens the inode at a normal volume path ("\a\b"); null with `error` set
// when a component is missing or unreadable. Close with ntfs_inode_close.
_ntfs_inode* OpenPath(_ntfs_volume* volume, const std::u16string& path, std::string* error);

bool IsDirectoryInode(_ntfs_inode* inode);

}  // namespace vestrel::ntfs
