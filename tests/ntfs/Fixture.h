// Builds NTFS images for the tests and the benchmark without mounting them:
// mkntfs formats an image file, then the NTFS library writes files, named
// streams, hard links and sparse data straight into it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::ntfs::fixture {

// What one file or directory of a fixture carries.
struct Stream {
    std::u16string name;
    uint64_t size;        // bytes of a repeating pattern, or a sparse tail
    bool sparse = false;  // a first cluster, a hole, and 5 bytes at the end
    // CompressibleText(size) stored NTFS-compressed; the file is marked
    // compressed, so its other non-resident streams are compressed too.
    bool compressed = false;
    // When not empty: these bytes, in place of the pattern (size is ignored).
    std::string data = {};
};

// Numbered lines of text: compresses well, yet no two 4 KiB blocks are equal.
std::string CompressibleText(uint64_t size);

// Formats `image` (created or truncated to `bytes`) as an empty NTFS volume.
// `partitionStart` (sectors) is recorded in the boot sector for disk images;
// `sectorSize` is the volume's.
bool Format(const std::string& image, uint64_t bytes, std::string* error, uint64_t partitionStart = 0,
            uint32_t sectorSize = 512);

// A writable session on a formatted image.
class Writer {
public:
    ~Writer();
    bool Open(const std::string& image, std::string* error);
    // Creates the directories on the way, then the file or directory itself.
    bool AddFile(const std::u16string& path, const std::vector<Stream>& streams, const std::string& content = "");
    bool AddDirectory(const std::u16string& path, const std::vector<Stream>& streams = {});
    // A second name for an existing file.
    bool AddLink(const std::u16string& existing, const std::u16string& newPath);
    // Deletes a file or an empty directory, as the library does: the MFT
    // record is marked free and its clusters too; their bytes stay.
    bool Remove(const std::u16string& path);
    // A file whose main data takes every free cluster left (written until
    // the volume is full).
    bool Fill(const std::u16string& path);
    // True when the file's attributes spilled into an attribute list.
    bool HasAttributeList(const std::u16string& path);
    bool Close();
    const std::string& error() const { return error_; }

private:
    void* volume_ = nullptr;
    std::string error_;
};

// The fixture every command test reads (see the test for what it holds).
bool BuildStandard(const std::string& image, std::string* error);

// A volume whose directory \loop\inner holds a second name of \loop: a
// directory cycle, as a damaged index could make one.
bool BuildLoop(const std::string& image, std::string* error);

// A volume whose MFT order is not its tree's: \late\early.txt (stream "e")
// has a lower record number than its directory, and \outer\d1 (stream
// "ds", holding g.txt with stream "g") a lower one than \outer.
bool BuildMoved(const std::string& image, std::string* error);

// What BuildDeleted leaves behind, for the tests to compare against.
struct DeletedFixture {
    std::string resident, nonResident, orphan, reused;  // the streams' bytes
};
// A volume with deleted files: \keep\gone.txt (a resident stream "res" and a
// non-resident "big"), \tmp\orphan.txt (stream "o") whose directory was
// deleted too, \reused.txt (stream "carrier") whose clusters a later file
// took, and \keep\live.txt (stream "live") still there.
bool BuildDeleted(const std::string& image, DeletedFixture* bytes, std::string* error);

// A volume of `files` files in directories of `perDirectory`, one in twenty
// carrying a stream, for the benchmark.
bool BuildBench(const std::string& image, unsigned files, std::string* error, unsigned perDirectory = 100);

// 404 files with a stream "s" each, sized as streams come: 400 of 120 B,
// 4 KiB, 64 KiB and 1 MiB in turn, and 4 of 16 MiB (171 MiB in all).
bool BuildDigests(const std::string& image, std::string* error);

// A small volume whose \packed.bin carries a compressed stream "packed" of
// `size` bytes of CompressibleText.
bool BuildCompressed(const std::string& image, uint64_t size, std::string* error);

// The user guide's demonstration documents under \Users\demo\Documents.
bool BuildDemo(const std::string& image, std::string* error);

// A triage case under \Users\a: a download with its Zone.Identifier, a
// document whose "Zone.Identifier" is a 48 KiB executable, a favicon that
// is an icon, a batch script in a stream and a few bytes of binary.
bool BuildTriage(const std::string& image, std::string* error);
// The bytes BuildTriage writes, for the tests to compare with.
extern const char kTriageZone[];
std::string TriageExecutable();

// True when the image's `path`:`stream` is stored compressed; read-only.
bool StreamIsCompressed(const std::string& image, const std::u16string& path, const std::u16string& stream);

// A whole-disk image with a partition table ("mbr" or "gpt") holding the
// given volume images at 1 MiB alignment. An MBR disk gets an extra non-NTFS
// partition between the two, so the NTFS ones are slots 1 and 3. A GPT
// disk's table counts in `sectorSize` sectors.
bool BuildDisk(const std::string& disk, const std::string& table, const std::vector<std::string>& volumes,
               std::string* error, uint32_t sectorSize = 512);

// An MBR disk: `primary` in slot 1, slot 2 an extended partition holding
// `logicals` as logical partitions, with a non-NTFS one after the first: as
// Linux numbers them, the NTFS logical ones are p5, p7, p8...
bool BuildExtendedDisk(const std::string& disk, const std::string& primary, const std::vector<std::string>& logicals,
                       std::string* error);

}  // namespace vestrel::ntfs::fixture
