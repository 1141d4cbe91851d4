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

#include "NtfsLib.h"
#include "Records.h"
#include "Report.h"
#include "StreamEnumerator.h"
#include "Volume.h"
#include "Walk.h"

namespace vestrel::ntfs {
namespace {

const char kUsage[] =
    "usage: vestrel-ntfs list [options] SOURCE [PATH]\n"
    "       vestrel-ntfs cat [--offset N | --volume pN] SOURCE PATH:STREAM\n"
    "       vestrel-ntfs extract [-r] [options] SOURCE [PATH] --to DIR\n"
    "\n"
    "Finds the named data streams (alternate data streams) on an NTFS volume.\n"
    "SOURCE is a block device or an image file, opened read-only; it is never\n"
    "written. A whole-disk image with an MBR or GPT partition table is read\n"
    "partition by partition; the rows say which, numbered as Linux does (p1 to\n"
    "p4 the MBR slots, p5 on the logical partitions, pN GPT entry N). PATH is a\n"
    "file or directory inside the volume, e.g. \\Users\\a (default: the root);\n"
    "/ works too.\n"
    "\n"
    "commands:\n"
    "  list      the streams of PATH and, for a directory, of its entries\n"
    "  cat       the bytes of one stream to standard output\n"
    "  extract   each stream to its own new file in DIR, plus an index\n"
    "\n"
    "options:\n"
    "  -r, --recursive        walk the whole tree under PATH\n"
    "  --format table|csv|jsonl|body\n"
    "                         output format (default: table on a terminal, else\n"
    "                         csv); json is jsonl; body is the timeline body file\n"
    "  --excel                csv for spreadsheets: byte order mark, and cells\n"
    "                         starting = + - @ get a leading ' (alters them)\n"
    "  --hash md5|sha1|sha256 digest of each stream's content (repeatable, or a\n"
    "                         comma list)\n"
    "  --zones                only Zone.Identifier streams, with their fields\n"
    "  --name GLOB            only streams whose name matches (repeatable; case\n"
    "                         ignored as NTFS does; * and ?)\n"
    "  --exclude GLOB         leave out streams of paths that match (repeatable)\n"
    "  --min-size N, --max-size N\n"
    "                         only streams of at least / at most N bytes\n"
    "  --kind K[,K...]        only streams of these kinds: pe, elf, script,\n"
    "                         archive, office, pdf, image, text, binary, empty\n"
    "  -a, --all              also metadata files and the names favicon,\n"
    "                         zone.identifier and oecustomproperty (without it\n"
    "                         they are listed only when they do not hold what\n"
    "                         their name says, with a note)\n"
    "  -q, --quiet            no progress line\n"
    "  --fail-if-found        exit status 3 when any stream is listed\n"
    "  --offset N             the volume starts N bytes (or Ns: N 512-byte\n"
    "                         sectors) into SOURCE\n"
    "  --volume pN            only partition N of a disk image\n"
    "  --to DIR               extract: where the streams go (created if missing)\n"
    "  --index-format csv|jsonl\n"
    "                         extract: the index of what went where (default csv)\n"
    "  -h, --help             this text\n"
    "  -V, --version          the program's version\n"
    "\n"
    "exit status: 0 all read, 1 some entries could not be read or damage was\n"
    "worked around (each said on stderr), 2 usage error, 3 --fail-if-found and\n"
    "streams were listed, 4 the source or path could not be opened at all.\n";

void Say(const std::string& text) { std::fputs(("vestrel-ntfs: " + text + "\n").c_str(), stderr); }

std::u16string LocalPath(const std::string& typed) { return NormalVolumePath(report::FromUtf8(typed)); }

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}


// Everything one run shares: the source, which volumes, the problems seen.
struct Run {
    Source source;
    std::vector<Partition> volumes;
    bool labelled = false;  // a partitioned disk: rows carry the volume
    bool problems = false;
    bool found = false;

    void Problem(const Partition& where, const std::u16string& path, const std::string& what) {
        problems = true;
        std::string prefix = source.path();
        if (!where.label.empty()) prefix += " " + where.label;
        if (!path.empty()) prefix += " " + report::ToUtf8(path);
        Say(prefix + ": " + what);
    }

    // One volume mounted; what kept it from mounting, or what the mount had
    // to work around, is said as a problem.
    std::unique_ptr<Volume> Mount(const Partition& where) {
        std::string error;
        std::unique_ptr<Volume> volume = Volume::Mount(source, where, &error);
        if (!volume) Problem(where, u"", error);
        else if (!volume->warning().empty()) Problem(where, u"", volume->warning());
        return volume;
    }
};

// Opens SOURCE and picks the volumes: --offset, --volume, or what the start
// of the source shows. Returns a usage or read failure status, or -1 to go on.
int Prepare(const report::ParsedArgs& args, const std::string& sourcePath, Run* run) {
    std::string error;
    if (!run->source.Open(sourcePath, &error)) {
        Say(error);
        return report::kExitNoSource;
    }
    const ReadAt read = [run](uint64_t offset, void* buffer, size_t count) {
        return run->source.ReadAt(offset, buffer, count);
    };
    if (args.Has("--offset")) {
        uint64_t offset = 0;
        if (!report::ParseOffset(args.Value("--offset"), &offset)) {
            Say("--offset needs a byte count or a sector count (2048s)");
            return report::kExitUsage;
        }
        uint8_t boot[kSectorSize];
        if (offset >= run->source.size() || !read(offset, boot, sizeof boot) || !IsNtfsBootSector(boot)) {
            Say(sourcePath + ": no NTFS boot sector at offset " + std::to_string(offset));
            return report::kExitNoSource;
        }
        run->volumes.push_back({"", offset, run->source.size() - offset});
        return -1;
    }
    const DiskLayout layout = ReadDiskLayout(read, run->source.size());
    for (const std::string& problem : layout.problems) {
        run->problems = true;
        Say(sourcePath + ": " + problem);
    }
    run->labelled = layout.kind == Layout::Mbr || layout.kind == Layout::Gpt;
    run->volumes = layout.volumes;
    if (args.Has("--volume")) {
        const std::string wanted = args.Value("--volume");
        std::vector<Partition> chosen;
        for (const Partition& p : run->volumes)
            if (p.label == wanted) chosen.push_back(p);
        if (chosen.empty()) {
            Say(sourcePath + ": no NTFS partition " + wanted);
            return report::kExitUsage;
        }
        run->volumes = chosen;
    }
    if (run->volumes.empty()) {
        if (layout.problems.empty()) Say(sourcePath + ": no NTFS volume found");
        return report::kExitNoSource;
    }
    return -1;
}

// The listing choices, with the format a terminal gets by default.
bool ParseListing(const report::ParsedArgs& args, report::Listing* listing) {
    listing->format = isatty(STDOUT_FILENO) ? report::Format::Table : report::Format::Csv;
    std::string error;
    if (!listing->Parse(args, &error)) Say(error);
    return error.empty();
}

const report::SourceTraits kTraits = {true, true, false, true};

// Reads one stream's facts through the library and judges it; `run` hears
// of a stream that cannot be read.
bool Examine(Run* run, const Partition& where, const report::Listing& listing, ntfs_inode* inode,
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

// Walks every chosen volume, calling `each` for every stream found. False
// when PATH is on none of the volumes that mounted (a volume too damaged to
// mount is a problem said on stderr, not a missing path).
bool WalkAll(Run* run, const report::ParsedArgs& args, const std::u16string& start,
             const std::function<void(const Partition&, const report::StreamRow&, ntfs_inode*)>& each) {
    WalkOptions options;
    options.recursive = args.Has("--recursive");
    options.all = args.Has("--all");
    options.usualNames = true;
    bool mounted = false, walked = false;
    const bool showProgress = !args.Has("--quiet") && isatty(STDERR_FILENO);
    report::Progress progress;
    for (const Partition& where : run->volumes) {
        std::unique_ptr<Volume> volume = run->Mount(where);
        if (!volume) continue;
        mounted = true;
        Walker walker(
            volume->get(), options,
            [&](const report::StreamRow& found, ntfs_inode* inode) {
                report::StreamRow row = found;
                if (run->labelled) row.volume = report::FromUtf8(where.label);
                each(where, row, inode);
            },
            [&](const std::u16string& path, const std::string& what) {
                if (showProgress) std::fputs(progress.Clear().c_str(), stderr);
                run->Problem(where, path, what);
            },
            [&](const std::u16string& folder) {
                if (!showProgress) return;
                const std::string line = progress.Tick(NowMs(), folder);
                if (!line.empty()) std::fputs(line.c_str(), stderr);
            });
        if (walker.Run(start)) walked = true;
    }
    if (showProgress) std::fputs(progress.Clear().c_str(), stderr);
    return walked || !mounted;
}

int List(const report::ParsedArgs& args) {
    if (args.operands.empty() || args.operands.size() > 2) {
        Say("list needs SOURCE and at most one PATH");
        return report::kExitUsage;
    }
    report::Listing listing;
    if (!ParseListing(args, &listing)) return report::kExitUsage;
    Run run;
    const int early = Prepare(args, args.operands[0], &run);
    if (early == report::kExitUsage) return early;
    const bool failIfFound = args.Has("--fail-if-found");
    if (early >= 0) return early;
    const std::u16string start = LocalPath(args.operands.size() > 1 ? args.operands[1] : "\\");
    report::Columns columns = listing.ColumnsFor(kTraits);
    columns.volume = run.labelled;
    auto writer = report::RowWriter::Make(listing.format, columns, WriteOut, listing.Writer());
    const bool walked = WalkAll(&run, args, start, [&](const Partition& where, const report::StreamRow& found, ntfs_inode* inode) {
        if (!listing.Wants(found)) return;
        report::StreamRow row = found;
        if (!Examine(&run, where, listing, inode, &row)) return;
        run.found = true;
        writer->Row(row);
    });
    writer->Finish();
    std::fflush(stdout);
    if (!walked) return report::kExitNoSource;
    return report::FinalStatus(false, run.found, failIfFound, run.problems);
}

bool AllZero(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) return false;
    return true;
}

// Copies one data attribute to `fd`, a megabyte at a time. With `holes`
// (a new regular file) runs of zeros are skipped rather than written, so a
// sparse stream stays sparse on disk.
bool CopyStream(ntfs_inode* inode, const std::u16string& stream, int fd, bool holes, std::string* error,
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
        if (holes && AllZero(buffer.data(), size_t(got))) {
            position += got;
            if (::ftruncate(fd, off_t(position)) != 0 || ::lseek(fd, off_t(position), SEEK_SET) < 0) {
                *error = std::string("write error (") + std::strerror(errno) + ")";
                ok = false;
                break;
            }
            continue;
        }
        for (s64 done = 0; done < got;) {
            const ssize_t put = ::write(fd, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                *error = std::string("write error (") + std::strerror(errno) + ")";
                ntfs_attr_close(na);
                return false;
            }
            done += put;
        }
        position += got;
    }
    ntfs_attr_close(na);
    return ok;
}

int Cat(const report::ParsedArgs& args) {
    std::u16string path, stream;
    if (args.operands.size() != 2 || !SplitStreamPath(report::FromUtf8(args.operands[1]), &path, &stream)) {
        Say("cat needs SOURCE and PATH:STREAM");
        return report::kExitUsage;
    }
    // "a.txt:s:$DATA" (any case), as Windows also accepts it, names "s".
    std::string refused;
    if (!report::ParseStreamSpec(std::u16string(stream), &stream, &refused)) {
        Say(args.operands[1] + ": " + refused);
        return report::kExitUsage;
    }
    Run run;
    const int early = Prepare(args, args.operands[0], &run);
    if (early >= 0) return early;
    if (run.volumes.size() > 1) {
        Say(args.operands[0] + ": several NTFS partitions; choose one with --volume or --offset");
        return report::kExitUsage;
    }
    std::unique_ptr<Volume> volume = run.Mount(run.volumes[0]);
    if (!volume) return report::kExitPartial;
    std::string error;
    ntfs_inode* inode = OpenPath(volume->get(), path, &error);
    if (inode == nullptr) {
        run.Problem(run.volumes[0], path, error);
        return report::kExitNoSource;
    }
    std::fflush(stdout);
    const bool ok = CopyStream(inode, stream, STDOUT_FILENO, false, &error);
    ntfs_inode_close(inode);
    if (!ok) run.Problem(run.volumes[0], path + u":" + stream, error);
    if (!ok && error == "no such stream") return report::kExitNoSource;
    return ok && !run.problems ? report::kExitOk : report::kExitPartial;
}

// Creates `name` (or "name (n)") in `dir` as a new file; never replaces one.
int CreateNew(int dir, const std::u16string& name, std::string* chosen) {
    for (unsigned n = 0; n < 10000; ++n) {
        const std::u16string candidate = n == 0 ? name : report::NumberedName(name, n);
        *chosen = FitFileName(report::ToUtf8(candidate));
        const int fd = ::openat(dir, chosen->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

std::u16string ParentPath(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == 0 || slash == std::u16string::npos ? u"\\" : path.substr(0, slash);
}

int Extract(const report::ParsedArgs& args) {
    if (args.operands.empty() || args.operands.size() > 2 || !args.Has("--to") || args.Value("--to").empty()) {
        Say("extract needs SOURCE, at most one PATH and --to DIR");
        return report::kExitUsage;
    }
    report::Format indexFormat = report::Format::Csv;
    if (args.Has("--index-format") && (!report::ParseFormat(args.Value("--index-format"), &indexFormat) ||
                                       indexFormat == report::Format::Table || indexFormat == report::Format::Body)) {
        Say("--index-format takes csv or jsonl");
        return report::kExitUsage;
    }
    report::Listing listing;
    if (!ParseListing(args, &listing)) return report::kExitUsage;
    listing.format = indexFormat;
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
    std::string indexName;
    const int indexFd = CreateNew(dir, indexFormat == report::Format::Json ? u"index.jsonl" : u"index.csv", &indexName);
    if (indexFd < 0) {
        Say(target + ": the index cannot be created (" + std::strerror(errno) + ")");
        ::close(dir);
        return report::kExitPartial;
    }
    report::Columns columns = listing.ColumnsFor(kTraits);
    columns.volume = run.labelled;
    columns.savedAs = true;
    bool indexOk = true;
    auto index = report::RowWriter::Make(indexFormat, columns, [&](const std::string& text) {
        if (::write(indexFd, text.data(), text.size()) != ssize_t(text.size())) indexOk = false;
    }, listing.Writer());
    const std::u16string start = LocalPath(args.operands.size() > 1 ? args.operands[1] : "\\");
    const std::u16string base = ParentPath(start);
    unsigned extracted = 0;
    const bool walked = WalkAll(&run, args, start, [&](const Partition& where, const report::StreamRow& found, ntfs_inode* inode) {
        if (!listing.Wants(found)) return;
        // What is written is what the index describes: the facts come from
        // the copy's own bytes. A usual name or a --kind filter needs the
        // head first, to decide whether to copy at all.
        report::StreamRow row = found;
        if ((report::IsExcludedName(found.stream) || !listing.filters.kinds.empty()) &&
            !Examine(&run, where, listing, inode, &row))
            return;
        run.found = true;
        std::u16string relative = start == u"\\" ? RelativePath(u"\\", found.path) : RelativePath(base, found.path);
        if (!where.label.empty()) relative = ChildPath(report::FromUtf8(where.label), relative);
        std::string file;
        const int fd = CreateNew(dir, report::SafeExtractName(relative, found.stream), &file);
        if (fd < 0) {
            run.Problem(where, found.path + u":" + found.stream, std::string("cannot create a file for it (") + std::strerror(errno) + ")");
            return;
        }
        std::string error;
        report::ContentTap tap(listing.facts, row);
        const bool copied = CopyStream(inode, found.stream, fd, true, &error, &tap);
        ::close(fd);
        if (!copied) {
            ::unlinkat(dir, file.c_str(), 0);
            run.Problem(where, found.path + u":" + found.stream, error);
            return;
        }
        tap.Finish(&row, true);
        row.savedAs = report::FromUtf8(file);
        index->Row(row);
        ++extracted;
    });
    index->Finish();
    if (!indexOk) run.Problem({}, u"", "the index could not be written completely");
    ::close(indexFd);
    ::close(dir);
    if (!args.Has("--quiet"))
        Say(std::to_string(extracted) + " stream(s) extracted to " + target + ", index " + indexName);
    if (!walked) return report::kExitNoSource;
    return report::FinalStatus(false, run.found, args.Has("--fail-if-found"), run.problems);
}

int Main(int argc, char** argv) {
    SilenceLibrary();
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        std::fputs(kUsage, stderr);
        return report::kExitUsage;
    }
    report::AcceptedOptions accepted;
    accepted.flags = {"--recursive", "--all", "--quiet", "--fail-if-found", "--help"};
    accepted.valued = {"--format", "--offset", "--volume", "--to", "--index-format"};
    for (const char* const* f = report::kListingFlags; *f != nullptr; ++f) accepted.flags.push_back(*f);
    for (const char* const* v = report::kListingValued; *v != nullptr; ++v) accepted.valued.push_back(*v);
    accepted.aliases = {{"-r", "--recursive"}, {"-h", "--help"}, {"-q", "--quiet"}, {"-a", "--all"}};
    const std::string command = words[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return report::kExitOk;
    }
    if (command == "--version" || command == "-V") {
        std::fputs("vestrel-ntfs " VESTREL_VERSION "\n", stdout);
        return report::kExitOk;
    }
    const report::ParsedArgs args = report::ParseArgs({words.begin() + 1, words.end()}, accepted);
    if (args.Has("--help")) {
        std::fputs(kUsage, stdout);
        return report::kExitOk;
    }
    if (!args.error.empty()) {
        Say(args.error);
        std::fputs(kUsage, stderr);
        return report::kExitUsage;
    }
    if (command == "list") return List(args);
    if (command == "cat") return Cat(args);
    if (command == "extract") return Extract(args);
    Say("unknown command '" + command + "'");
    std::fputs(kUsage, stderr);
    return report::kExitUsage;
}

}  // namespace
}  // namespace vestrel::ntfs

int main(int argc, char** argv) { return vestrel::ntfs::Main(argc, argv); }
