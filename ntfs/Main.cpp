// vestrel-ntfs: lists, prints and extracts the named data streams of an NTFS
// volume or disk image from Linux, without ever writing to it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Deleted.h"
#include "Info.h"
#include "MftScan.h"
#include "NtfsLib.h"
#include "NtfsOptions.h"
#include "Output.h"
#include "Records.h"
#include "Report.h"
#include "StreamEnumerator.h"
#include "Targets.h"
#include "Volume.h"
#include "Walk.h"

namespace vestrel::ntfs {
namespace {

// The command being run, for the help a usage error points to.
const report::CommandSpec* g_command = nullptr;

void Say(const std::string& text) { std::fputs(("vestrel-ntfs: " + text + "\n").c_str(), stderr); }
// A usage error: what is wrong and where the command's help is.
void SayUsage(const std::string& text) {
    std::fputs(report::UsageError(NtfsProgram(), g_command, text).c_str(), stderr);
}

std::u16string LocalPath(const std::string& typed) { return NormalVolumePath(report::FromUtf8(typed)); }

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Everything one run shares: the source, which volumes, the problems seen.
struct Run {
    std::unique_ptr<Source> source;
    Targets targets;
    std::vector<Target>& volumes = targets.list;
    bool labelled = false;  // a partitioned disk: rows carry the volume
    bool problems = false;
    bool found = false;
    bool showProgress = false;  // a status line on stderr, a terminal
    report::Progress progress;

    // Rows, problems and the status line may share a terminal: the line goes
    // before anything else is written.
    void ClearProgress() {
        if (showProgress) std::fputs(progress.Clear().c_str(), stderr);
    }

    void Problem(const Target& where, const std::u16string& path, const std::string& what) {
        problems = true;
        std::string prefix = source->path();
        if (!where.Name().empty()) prefix += " " + where.Name();
        if (!path.empty()) prefix += " " + report::ToUtf8(path);
        Say(prefix + ": " + what);
    }

    // One volume mounted; what kept it from mounting, or what the mount had
    // to work around, is said as a problem.
    std::unique_ptr<Volume> Mount(const Target& where) {
        std::string error;
        std::unique_ptr<Volume> volume = Volume::Mount(*where.source, where.where, &error);
        if (!volume) Problem(where, u"", error);
        else if (!volume->warning().empty()) Problem(where, u"", volume->warning());
        return volume;
    }
};

// Opens SOURCE and picks the volumes: --offset, --volume, or what the start
// of the source shows. Returns a usage or read failure status, or -1 to go on.
int Prepare(const report::ParsedArgs& args, const std::string& sourcePath, Run* run) {
    std::string error;
    run->source = OpenSource(sourcePath, &error);
    if (!run->source) {
        Say(error);
        return report::kExitNoSource;
    }
    const ReadAt read = [run](uint64_t offset, void* buffer, size_t count) {
        return run->source->ReadAt(offset, buffer, count);
    };
    if (args.Has("--offset")) {
        uint64_t offset = 0;
        if (!report::ParseOffset(args.Value("--offset"), &offset)) {
            SayUsage("--offset needs a byte count or a sector count (2048s)");
            return report::kExitUsage;
        }
        uint8_t boot[kSectorSize];
        if (offset >= run->source->size() || !read(offset, boot, sizeof boot) || !IsNtfsBootSector(boot)) {
            Say(sourcePath + ": no NTFS boot sector at offset " + std::to_string(offset));
            return report::kExitNoSource;
        }
        run->volumes.push_back({{"", offset, run->source->size() - offset}, run->source.get(), "", ""});
        return -1;
    }
    const DiskLayout layout = ReadDiskLayout(read, run->source->size());
    for (const std::string& problem : layout.problems) {
        run->problems = true;
        Say(sourcePath + ": " + problem);
    }
    run->labelled = layout.kind == Layout::Mbr || layout.kind == Layout::Gpt;
    TargetOptions options;
    options.shadows = args.Has("--shadows");
    options.volume = args.Value("--volume");
    options.keys.password = args.Value("--password");
    options.keys.recoveryPassword = args.Value("--recovery-password");
    bool targetProblems = false;
    const int chosen = ChooseTargets(*run->source, layout.volumes, options, [&](const Partition&, const std::string& what) {
        run->problems = true;
        targetProblems = true;
        Say(what);
    }, &run->targets);
    // Not the user's mistake when the source could not be read.
    if (chosen >= 0 && !layout.problems.empty()) return report::kExitNoSource;
    if (chosen == report::kExitUsage) std::fputs(report::TryHelp(NtfsProgram(), g_command).c_str(), stderr);
    if (chosen >= 0) return chosen;
    if (run->volumes.empty()) {
        // A volume that is there but locked (BitLocker without its key) was
        // said already: status 1; nothing NTFS at all: the source is not one.
        if (targetProblems) return report::kExitPartial;
        if (layout.problems.empty()) Say(sourcePath + ": no NTFS volume found");
        return report::kExitNoSource;
    }
    return -1;
}

// The listing choices, with the format a terminal gets by default.
bool ParseListing(const report::ParsedArgs& args, report::Listing* listing) {
    listing->format = isatty(STDOUT_FILENO) ? report::Format::Table : report::Format::Csv;
    std::string error;
    if (!listing->Parse(args, &error)) SayUsage(error);
    return error.empty();
}

const report::SourceTraits kTraits = {true, true, false, true};

// Reads one stream's facts through the library and judges it; `run` hears
// of a stream that cannot be read.
bool Examine(Run* run, const Target& where, const report::Listing& listing, ntfs_inode* inode,
             report::StreamRow* row) {
    ntfs_attr* na = nullptr;
    bool opened = false;
    const report::ReadAt read = [&](uint64_t offset, void* buffer, size_t want, size_t* got, std::string* error) {
        if (!opened) {
            opened = true;
            na = ntfs_attr_open(inode, AT_DATA, reinterpret_cast<ntfschar*>(const_cast<char16_t*>(row->stream.data())),
                                u32(row->stream.size()));
        }
        if (na == nullptr) {
            *error = std::string("the stream cannot be opened (") + std::strerror(errno != 0 ? errno : EIO) + ")";
            return false;
        }
        const s64 n = ntfs_attr_pread(na, s64(offset), s64(want), buffer);
        if (n < 0) {
            *error = "read error at byte " + std::to_string(offset) + " (" + std::strerror(errno != 0 ? errno : EIO) + ")";
            return false;
        }
        *got = size_t(n);
        return true;
    };
    std::string error;
    const bool keep = listing.Examine(row, read, &error);
    if (na != nullptr) ntfs_attr_close(na);
    if (!error.empty()) run->Problem(where, row->path + u":" + row->stream, error);
    return keep;
}

void WriteOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Where a listed stream's bytes are: a live file's open inode (null when the
// MFT scan listed it from the record alone) or a deleted file's stream.
struct Found {
    ntfs_volume* volume = nullptr;
    ntfs_inode* inode = nullptr;
    const DeletedStream* deleted = nullptr;
};
using OnFound = std::function<void(const Target&, const report::StreamRow&, const Found&)>;

// A whole volume (-r from the root) is listed in MFT order unless --sort path.
bool WholeVolume(const report::ParsedArgs& args, const std::u16string& start) {
    return args.Has("--recursive") && start == u"\\";
}

// --deleted and --sort as the listing commands accept them; false (said) for
// a usage error.
bool CheckListingOptions(const report::ParsedArgs& args, const std::u16string& start) {
    if (args.Has("--sort") && args.Value("--sort") != "path") {
        SayUsage("--sort takes path");
        return false;
    }
    if (args.Has("--deleted") && !WholeVolume(args, start)) {
        SayUsage("--deleted lists whole volumes: give -r and no PATH below the root");
        return false;
    }
    return true;
}

// Lists every chosen volume, calling `each` for every stream found. False
// when PATH is on none of the volumes that mounted (a volume too damaged to
// mount is a problem said on stderr, not a missing path).
bool WalkAll(Run* run, const report::ParsedArgs& args, const std::u16string& start, bool openInodes,
             const OnFound& each) {
    WalkOptions options;
    options.recursive = args.Has("--recursive");
    options.all = args.Has("--all");
    // The usual names are judged by the caller from their content.
    options.usualNames = true;
    bool mounted = false, walked = false;
    const bool whole = WholeVolume(args, start);
    const bool walk = !whole || args.Value("--sort") == "path";
    const bool deleted = args.Has("--deleted");
    run->showProgress = !args.Has("--quiet") && isatty(STDERR_FILENO);
    for (const Target& where : run->volumes) {
        std::unique_ptr<Volume> volume = run->Mount(where);
        if (!volume) continue;
        mounted = true;
        ntfs_volume* vol = volume->get();
        const auto label = [&](const report::StreamRow& found) {
            report::StreamRow row = found;
            if (run->labelled) row.volume = report::FromUtf8(where.where.label);
            row.snapshot = report::FromUtf8(where.snapshot);
            return row;
        };
        const auto onStream = [&](const report::StreamRow& found, ntfs_inode* inode) {
            each(where, label(found), Found{vol, inode, nullptr});
        };
        const auto onProblem = [&](const std::u16string& path, const std::string& what) {
            run->ClearProgress();
            run->Problem(where, path, what);
        };
        const auto tick = [&](const std::u16string& folder) {
            if (!run->showProgress) return;
            const std::string line = run->progress.Tick(NowMs(), folder);
            if (!line.empty()) std::fputs(line.c_str(), stderr);
        };
        const auto onDeleted = [&](const report::StreamRow& found, const DeletedStream& stream) {
            report::StreamRow row = label(found);
            std::string why;
            const Recovery recovery = CheckDeleted(vol, stream, &why);
            if (recovery == Recovery::Unreadable) onProblem(row.path + u":" + row.stream, "deleted: " + why);
            row.recovery = RecoveryWord(recovery);
            each(where, row, Found{vol, nullptr, &stream});
        };
        if (walk && Walker(vol, options, onStream, onProblem, tick).Run(start)) walked = true;
        if (!walk || deleted) {
            if (!walk) walked = true;
            ScanOptions scan;
            scan.all = options.all;
            scan.usualNames = true;
            scan.live = !walk;
            scan.deleted = deleted;
            scan.openInodes = openInodes;
            MftScan(vol, scan, onStream, onDeleted, onProblem, [&](uint64_t) { tick(u"$MFT"); }).Run();
        }
    }
    run->ClearProgress();
    return walked || !mounted;
}

int List(const report::ParsedArgs& args) {
    if (args.operands.empty() || args.operands.size() > 2) {
        SayUsage("list needs SOURCE and at most one PATH");
        return report::kExitUsage;
    }
    report::Listing listing;
    if (!ParseListing(args, &listing)) return report::kExitUsage;
    const std::u16string start = LocalPath(args.operands.size() > 1 ? args.operands[1] : "\\");
    if (!CheckListingOptions(args, start)) return report::kExitUsage;
    Run run;
    const int early = Prepare(args, args.operands[0], &run);
    if (early >= 0) return early;
    const bool failIfFound = args.Has("--fail-if-found");
    report::Columns columns = listing.ColumnsFor(kTraits);
    columns.volume = run.labelled;
    columns.snapshot = run.targets.snapshots;
    columns.deleted = args.Has("--deleted");
    auto writer = report::RowWriter::Make(listing.format, columns, WriteOut, listing.Writer());
    // Live rows come with their inode, whose times, flags and bytes the
    // listing's facts are read from.
    const bool walked = WalkAll(&run, args, start, true, [&](const Target& where, const report::StreamRow& found, const Found& at) {
        if (!listing.Wants(found)) return;
        report::StreamRow row = found;
        if (at.deleted != nullptr) {
            // A deleted file's content is not judged: its usual names stay
            // hidden unless asked for, as they were.
            if (!args.Has("--all") && report::IsExcludedName(row.stream)) return;
        } else if (at.inode != nullptr && !Examine(&run, where, listing, at.inode, &row)) {
            return;
        }
        run.found = true;
        run.ClearProgress();
        writer->Row(row);
    });
    writer->Finish();
    std::fflush(stdout);
    if (!walked) return report::kExitNoSource;
    return report::FinalStatus(false, run.found, failIfFound, run.problems);
}

// Where copied bytes go, in order: standard output or a new file.
using Sink = std::function<bool(const char* data, size_t size, std::string* error)>;

// Copies one data attribute of a live file to `out`, a megabyte at a time.
bool CopyStream(ntfs_inode* inode, const std::u16string& stream, const Sink& out, std::string* error,
                report::ContentTap* tap = nullptr) {
    ntfs_attr* na = ntfs_attr_open(inode, AT_DATA, reinterpret_cast<ntfschar*>(const_cast<char16_t*>(stream.data())),
                                   u32(stream.size()));
    if (na == nullptr) {
        *error = errno == ENOENT ? "no such stream" : std::string("the stream cannot be opened (") + std::strerror(errno) + ")";
        return false;
    }
    std::vector<char> buffer(1 << 20);
    s64 position = 0;
    bool ok = true;
    while (position < na->data_size) {
        const s64 want = std::min<s64>(s64(buffer.size()), na->data_size - position);
        const s64 got = ntfs_attr_pread(na, position, want, buffer.data());
        if (got <= 0) {
            *error = "read error at byte " + std::to_string(position) + " (" + std::strerror(errno != 0 ? errno : EIO) + ")";
            ok = false;
            break;
        }
        if (tap != nullptr) tap->Add(buffer.data(), size_t(got));
        if (!out(buffer.data(), size_t(got), error)) {
            ok = false;
            break;
        }
        position += got;
    }
    ntfs_attr_close(na);
    return ok;
}

// Copies what was found to `out`: a deleted file's stream from its record or
// runs, a live one through its inode (opened here when the scan gave none).
bool CopyFound(const Found& found, const report::StreamRow& row, const Sink& out, std::string* error,
               report::ContentTap* tap) {
    if (found.deleted != nullptr) {
        std::string writeError;
        const bool ok = ReadDeleted(found.volume, *found.deleted,
                                    [&](const char* data, size_t size) {
                                        if (tap != nullptr) tap->Add(data, size);
                                        return out(data, size, &writeError);
                                    },
                                    error);
        if (!writeError.empty()) *error = writeError;
        return ok;
    }
    if (found.inode != nullptr) return CopyStream(found.inode, row.stream, out, error, tap);
    ntfs_inode* inode = ntfs_inode_open(found.volume, row.record);
    if (inode == nullptr) {
        *error = std::string("its MFT record cannot be read (") + std::strerror(errno != 0 ? errno : EIO) + ")";
        return false;
    }
    const bool ok = CopyStream(inode, row.stream, out, error, tap);
    ntfs_inode_close(inode);
    return ok;
}

// cat --deleted: the stream of a deleted file, found by the path the listing
// gives it (and its record number where several deleted files had that path).
int CatDeleted(const report::ParsedArgs& args, Run* run, ntfs_volume* vol, const std::u16string& path,
               const std::u16string& stream) {
    const Target& where = run->volumes[0];
    const bool byRecord = args.Has("--record");
    uint64_t record = 0;
    if (byRecord) report::ParseByteCount(args.Value("--record"), &record);
    std::vector<DeletedStream> matches;
    ScanOptions options;
    options.all = true;
    options.live = false;
    options.deleted = true;
    MftScan(
        vol, options, nullptr,
        [&](const report::StreamRow& row, const DeletedStream& found) {
            if (row.path == path && row.stream == stream && (!byRecord || row.record == record))
                matches.push_back(found);
        },
        [&](const std::u16string& at, const std::string& what) { run->Problem(where, at, what); })
        .Run();
    const std::u16string named = path + u":" + stream;
    if (matches.empty()) {
        run->Problem(where, named, byRecord ? "no deleted file in that record holds it" : "no deleted file holds it");
        return report::kExitPartial;
    }
    if (matches.size() > 1) {
        std::string records;
        for (const DeletedStream& m : matches) records += (records.empty() ? "" : ", ") + std::to_string(m.record);
        run->Problem(where, named, "several deleted files held it (records " + records + "); choose one with --record");
        std::fputs(report::TryHelp(NtfsProgram(), g_command).c_str(), stderr);
        return report::kExitUsage;
    }
    std::string why;
    const Recovery recovery = CheckDeleted(vol, matches[0], &why);
    if (recovery == Recovery::Unreadable) {
        run->Problem(where, named, "deleted: " + why);
        return report::kExitPartial;
    }
    if (recovery == Recovery::Overwritten)
        run->Problem(where, named, "deleted, and some of its clusters are in use again: the bytes are not trustworthy");
    std::fflush(stdout);
    std::string error;
    StreamOut out(STDOUT_FILENO, false);
    std::string writeError;
    const bool ok = ReadDeleted(
        vol, matches[0], [&](const char* data, size_t size) { return out.Put(data, size, &writeError); }, &error);
    if (!ok) run->Problem(where, named, writeError.empty() ? error : writeError);
    return ok && !run->problems ? report::kExitOk : report::kExitPartial;
}

int Cat(const report::ParsedArgs& args) {
    std::u16string path, stream;
    if (args.operands.size() != 2 || !SplitStreamPath(report::FromUtf8(args.operands[1]), &path, &stream)) {
        SayUsage("cat needs SOURCE and PATH:STREAM");
        return report::kExitUsage;
    }
    // "a.txt:s:$DATA" (any case), as Windows also accepts it, names "s".
    std::string refused;
    if (!report::ParseStreamSpec(std::u16string(stream), &stream, &refused)) {
        SayUsage(args.operands[1] + ": " + refused);
        return report::kExitUsage;
    }
    Run run;
    const int early = Prepare(args, args.operands[0], &run);
    if (early >= 0) return early;
    if (run.volumes.size() > 1) {
        SayUsage(args.operands[0] + ": several NTFS partitions; choose one with --volume or --offset");
        return report::kExitUsage;
    }
    uint64_t record = 0;
    if (args.Has("--record") && (!args.Has("--deleted") || !report::ParseByteCount(args.Value("--record"), &record))) {
        SayUsage("--record takes a record number, with --deleted");
        return report::kExitUsage;
    }
    std::unique_ptr<Volume> volume = run.Mount(run.volumes[0]);
    if (!volume) return report::kExitPartial;
    if (args.Has("--deleted")) return CatDeleted(args, &run, volume->get(), path, stream);
    std::string error;
    ntfs_inode* inode = OpenPath(volume->get(), path, &error);
    if (inode == nullptr) {
        run.Problem(run.volumes[0], path, error);
        return report::kExitNoSource;
    }
    std::fflush(stdout);
    StreamOut out(STDOUT_FILENO, false);
    const bool ok = CopyStream(inode, stream, [&](const char* data, size_t size, std::string* e) {
        return out.Put(data, size, e);
    }, &error);
    ntfs_inode_close(inode);
    if (!ok) run.Problem(run.volumes[0], path + u":" + stream, error);
    if (!ok && error == "no such stream") return report::kExitNoSource;
    return ok && !run.problems ? report::kExitOk : report::kExitPartial;
}

std::u16string ParentPath(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == 0 || slash == std::u16string::npos ? u"\\" : path.substr(0, slash);
}

int Extract(const report::ParsedArgs& args) {
    if (args.operands.empty() || args.operands.size() > 2 || !args.Has("--to") || args.Value("--to").empty()) {
        SayUsage("extract needs SOURCE, at most one PATH and --to DIR");
        return report::kExitUsage;
    }
    const std::u16string start = LocalPath(args.operands.size() > 1 ? args.operands[1] : "\\");
    if (!CheckListingOptions(args, start)) return report::kExitUsage;
    report::Format indexFormat = report::Format::Csv;
    if (args.Has("--index-format") && (!report::ParseFormat(args.Value("--index-format"), &indexFormat) ||
                                       indexFormat == report::Format::Table || indexFormat == report::Format::Body)) {
        SayUsage("--index-format takes csv or jsonl");
        return report::kExitUsage;
    }
    if (args.Has("--excel") && indexFormat != report::Format::Csv) {
        SayUsage("--excel goes with --index-format csv");
        return report::kExitUsage;
    }
    // The listing's choices describe the index.
    report::Listing listing;
    listing.format = indexFormat;
    std::string listingError;
    if (!listing.Parse(args, &listingError)) {
        SayUsage(listingError);
        return report::kExitUsage;
    }
    Run run;
    const int early = Prepare(args, args.operands[0], &run);
    if (early >= 0) return early;
    const std::string target = args.Value("--to");
    if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
        Say(target + ": " + std::strerror(errno));
        return report::kExitPartial;
    }
    const int dir = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        Say(target + ": " + std::strerror(errno));
        return report::kExitPartial;
    }
    PosixTargetDirectory targetDir(dir);
    // The index first, so that no extracted stream can take its name.
    const report::NewFileResult indexFile =
        report::CreateNewNumbered(targetDir, indexFormat == report::Format::Json ? u"index.jsonl" : u"index.csv");
    if (indexFile.file == nullptr) {
        Say(target + ": the index cannot be created (" + indexFile.why + ")");
        ::close(dir);
        return report::kExitPartial;
    }
    report::Columns columns = listing.ColumnsFor(kTraits);
    columns.volume = run.labelled;
    columns.snapshot = run.targets.snapshots;
    columns.savedAs = true;
    columns.deleted = args.Has("--deleted");
    bool indexOk = true;
    auto index = report::RowWriter::Make(indexFormat, columns, [&](const std::string& text) {
        std::string error;
        if (indexOk && !indexFile.file->Write(text.data(), text.size(), &error)) indexOk = false;
    }, listing.Writer());
    const std::u16string base = ParentPath(start);
    unsigned extracted = 0;
    const bool walked = WalkAll(&run, args, start, true, [&](const Target& where, const report::StreamRow& found, const Found& at) {
        if (!listing.Wants(found)) return;
        // What is written is what the index describes: the facts come from
        // the copy's own bytes. A usual name or a --kind filter needs the
        // head first, to decide whether to copy at all.
        report::StreamRow row = found;
        if (at.deleted != nullptr) {
            if (!args.Has("--all") && report::IsExcludedName(found.stream)) return;
        } else if ((report::IsExcludedName(found.stream) || !listing.filters.kinds.empty()) &&
                   at.inode != nullptr && !Examine(&run, where, listing, at.inode, &row)) {
            return;
        }
        run.found = true;
        std::u16string relative = start == u"\\" ? RelativePath(u"\\", found.path) : RelativePath(base, found.path);
        if (!where.Name().empty()) relative = ChildPath(report::FromUtf8(where.Name()), relative);
        std::u16string name = report::SafeExtractName(relative, found.stream);
        // Bytes some other file may have written over are never taken for
        // the stream's own: the file's name says so.
        if (found.recovery == u"overwritten") name += u".overwritten";
        const report::NewFileResult file = report::CreateNewNumbered(targetDir, name);
        if (file.file == nullptr) {
            run.Problem(where, found.path + u":" + found.stream, "cannot create a file for it (" + file.why + ")");
            return;
        }
        std::string error;
        report::ContentTap tap(listing.facts, row);
        const bool copied = CopyFound(at, found, [&](const char* data, size_t size, std::string* e) {
            return file.file->Write(data, size, e);
        }, &error, &tap);
        if (!copied) {
            file.file->Discard();
            run.Problem(where, found.path + u":" + found.stream, error);
            return;
        }
        tap.Finish(&row, true);
        row.savedAs = file.name;
        index->Row(row);
        ++extracted;
    });
    index->Finish();
    if (!indexOk) run.Problem({}, u"", "the index could not be written completely");
    ::close(dir);
    if (!args.Has("--quiet"))
        Say(std::to_string(extracted) + " stream(s) extracted to " + target + ", index " + report::ToUtf8(indexFile.name));
    if (!walked) return report::kExitNoSource;
    return report::FinalStatus(false, run.found, args.Has("--fail-if-found"), run.problems);
}

int Main(int argc, char** argv) {
    SilenceLibrary();
    const report::CommandLine line = report::ParseCommandLine(NtfsProgram(), {argv + 1, argv + argc});
    switch (line.outcome) {
        case report::CommandLine::Outcome::Help:
        case report::CommandLine::Outcome::Version:
            std::fputs(line.out.c_str(), stdout);
            return report::kExitOk;
        case report::CommandLine::Outcome::Usage:
            std::fputs(line.err.c_str(), stderr);
            return report::kExitUsage;
        case report::CommandLine::Outcome::Run:
            break;
    }
    g_command = line.command;
    const std::string& command = line.command->name;
    if (command == "list") return List(line.args);
    if (command == "info") return Info(line.args);
    if (command == "cat") return Cat(line.args);
    return Extract(line.args);
}

}  // namespace
}  // namespace vestrel::ntfs

int main(int argc, char** argv) { return vestrel::ntfs::Main(argc, argv); }
