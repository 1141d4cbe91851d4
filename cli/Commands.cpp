#include "Commands.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "Access.h"
#include "CliOptions.h"
#include "CliPaths.h"
#include "Console.h"
#include "FsRedirection.h"
#include "NtfsStream.h"
#include "Report.h"
#include "StreamEnumerator.h"
#include "Walk.h"
#include "WinSequences.h"

namespace vestrel::cli {

namespace {

using report::StreamRow;

// The command being run, for the help a usage error points to.
const report::CommandSpec* g_command = nullptr;

std::string Utf8(const std::wstring& w) { return report::ToUtf8(U16(w)); }

// The extended path of what the user typed, resolved as the platform
// resolves any program's paths (GetFullPathNameW, "Naming Files, Paths, and
// Namespaces"): "E:x" from E:'s own current directory, ".." and a last
// component's trailing dots and spaces as every program takes them. Typed in
// the "\\?\" form it stays literal. Empty, with the reason, for a device
// name or text that names no file.
std::wstring Resolve(const std::u16string& typed, std::string* why) {
    *why = "names no usable path";
    if (typed.empty()) return {};
    if (typed.compare(0, 4, u"\\\\?\\") == 0) return Wide(typed);
    const bool deviceNamespace = typed.size() >= 4 && (typed[0] == u'\\' || typed[0] == u'/') &&
                                 (typed[1] == u'\\' || typed[1] == u'/') && typed[2] == u'.' &&
                                 (typed[3] == u'\\' || typed[3] == u'/');
    if (deviceNamespace || NamesDevice(typed)) {
        *why = "names a device, not a file";
        return {};
    }
    const std::wstring w = Wide(typed);
    const DWORD need = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (need == 0) return {};
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(w.c_str(), need, &full[0], nullptr);
    if (got == 0 || got >= need) return {};
    full.resize(got);
    if (full.compare(0, 4, L"\\\\.\\") == 0) {
        *why = "names a device, not a file";
        return {};
    }
    // A trailing separator goes ("C:\dir\" is "C:\dir"); a drive root keeps it.
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    const bool drive = full.size() >= 3 && full[1] == L':' && full[2] == L'\\';
    const bool unc = full.size() > 2 && full[0] == L'\\' && full[1] == L'\\';
    if (!drive && !unc) return {};
    return Wide(ExtendedPath(U16(full)));
}

std::wstring Shown(const std::wstring& extended) { return Wide(DisplayPath(U16(extended))); }

// The stderr side: one line per problem, and the progress line on a console.
class Diagnostics {
public:
    explicit Diagnostics(bool quiet) : progressOn_(!quiet && Err().IsConsole()) {}
    ~Diagnostics() { ClearProgress(); }

    void Problem(const std::wstring& path, const std::wstring& text) {
        ClearProgress();
        Err().Text("vestrel-cli: " + Utf8(path) + ": " + Utf8(text) + "\n");
    }
    void Unreadable(const std::wstring& extendedPath, DWORD error) { Failed(Shown(extendedPath), ErrorText(error)); }
    // A failure about a path as the user reads it.
    void Failed(const std::wstring& shown, const std::wstring& text) {
        unreadable_ = true;
        Problem(shown, text);
    }
    // A usage error: what is wrong and where the command's help is.
    void Usage(const std::string& text) { Err().Text(report::UsageError(CliProgram(), g_command, text)); }
    // One of several: each said, then TryHelp once.
    void UsageLine(const std::string& text) { Err().Text("vestrel-cli: " + text + "\n"); }
    void TryHelp() { Err().Text(report::TryHelp(CliProgram(), g_command)); }
    void ReadFailed(const std::wstring& extendedPath, const std::string& what) {
        unreadable_ = true;
        Problem(Shown(extendedPath), Wide(report::FromUtf8(what)));
    }
    void Tick(const std::wstring& extendedPath) {
        if (!progressOn_) return;
        std::wstring folder = Shown(extendedPath);
        const size_t slash = folder.find_last_of(L'\\');
        if (slash != std::wstring::npos && slash > 2) folder.resize(slash);
        const std::string line = progress_.Tick(GetTickCount64(), U16(folder));
        if (!line.empty()) Err().Text(line);
    }
    // Rows and the progress line may share a console (standard output
    // redirected to a pager shows there too): the line goes first.
    void BeforeRow() { ClearProgress(); }
    bool AnyUnreadable() const { return unreadable_; }

private:
    void ClearProgress() {
        if (!progressOn_) return;
        const std::string clear = progress_.Clear();
        if (!clear.empty()) Err().Text(clear);
    }
    bool progressOn_;
    bool unreadable_ = false;
    report::Progress progress_;
};

// Every file call of this program goes through the calls that turn WOW64
// redirection off for their duration ("File System Redirector"), so that the
// 32-bit build sees System32 as it is.
class OpenFile {
public:
    OpenFile(FsCall what, const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
        : h_(CreateFileUnredirected(what, path.c_str(), access, share, disposition, flags)),
          error_(h_ == INVALID_HANDLE_VALUE ? GetLastError() : 0) {}
    ~OpenFile() { Close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    DWORD error() const { return error_; }
    void Close() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
    DWORD error_;
};

// Files others hold open (logs, registry hives) are listed where the
// platform allows any sharing at all ("Creating and Opening Files").
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Every open of an entry or of one of its streams opens what the path names,
// never a link's target: a link's streams are the link's ("Reparse Points
// and File Operations"; the flag is ignored for other files). Backup
// semantics open directories and, with the backup privilege, files the
// user could not open otherwise ("Setting the Backup and Restore Privileges").
constexpr DWORD kStreamOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// The host file's times and id into `row`. Times from FILE_BASIC_INFO
// ("FILE_BASIC_INFO structure", Microsoft Learn: ChangeTime is the MFT
// change); the id from BY_HANDLE_FILE_INFORMATION, left empty when it is 0
// or all ones, which file systems without ids answer.
void HostFacts(HANDLE file, StreamRow* row) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        row->times = {uint64_t(basic.CreationTime.QuadPart), uint64_t(basic.LastWriteTime.QuadPart),
                      uint64_t(basic.LastAccessTime.QuadPart), uint64_t(basic.ChangeTime.QuadPart)};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info)) {
        const uint64_t id = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        if (id != 0 && id != ~uint64_t(0)) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "%08lx-%016llx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                          static_cast<unsigned long long>(id));
            row->fileId = hex;
        }
    }
}

// Every named stream of one entry, names and sizes only: no stream's data is
// read, so a cloud placeholder or an offline file is not downloaded or
// recalled by a listing. False (with the error) when the entry cannot be
// opened. `host`, when given, gets the entry's times and id; `remote`, when
// given, whether its data is elsewhere (so that no stream of it is read).
bool ForEachStream(const std::wstring& path, bool all, const std::function<bool(const NamedStream&)>& visit,
                   DWORD* error, StreamRow* host = nullptr, bool* remote = nullptr) {
    // Attributes only: enough for the times, the id and the file system's
    // stream list, and an open that asks no data access is refused by no
    // sharing mode, so files others hold open exclusively are listed too
    // ("Creating and Opening Files": sharing governs read, write and delete).
    OpenFile file(FsCall::kOpen, path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, kStreamOpenFlags);
    if (!file.ok()) {
        *error = file.error();
        return false;
    }
    if (host != nullptr) HostFacts(file.get(), host);
    if (remote != nullptr) *remote = HandleDataIsRemote(file.get());
    const NamedStreamVisitor chosen = [&](const NamedStream& s) { return (s.excluded && !all) || visit(s); };
    if (ListStreamsFromStreamInfo(file.get(), chosen)) return true;
    if (!BackupWalkReadsHandle()) {
        ListStreamsFromBackup(file.get(), path, chosen);
        return true;
    }
    // A file system without the list: the backup calls read through a
    // handle opened for reading ("BackupRead").
    OpenFile readable(FsCall::kOpen, path, GENERIC_READ, kShareAll, OPEN_EXISTING, kStreamOpenFlags);
    if (!readable.ok()) {
        *error = readable.error();
        return false;
    }
    ListStreamsFromBackup(readable.get(), path, chosen);
    return true;
}

// What the user reads for stream `stream` of the entry at `extendedPath`.
std::wstring ShownStream(const std::wstring& extendedPath, const std::wstring& stream) {
    return Shown(extendedPath) + L":" + stream;
}

struct Common {
    report::ParsedArgs args;
    std::vector<std::u16string> operands;  // exact UTF-16, lone surrogates kept
    report::Format format = report::Format::Csv;
    report::Listing listing;
};

const report::SourceTraits kTraits = {false, false, true, false};

// Reads one stream's facts through its own path and judges it; a stream
// that cannot be read is said on stderr and still listed.
bool Examine(const report::Listing& listing, const std::wstring& entry, StreamRow* row, Diagnostics& diag) {
    const std::wstring source = PlatformStreamPath(entry, Wide(row->stream));
    OpenFile in(FsCall::kView, source, GENERIC_READ, kShareAll, OPEN_EXISTING,
                kStreamOpenFlags | FILE_FLAG_SEQUENTIAL_SCAN);
    // Reads come in order from the start, so the file position is the offset.
    const report::ReadAt read = [&](uint64_t, void* buffer, size_t want, size_t* got, std::string* error) {
        DWORD n = 0;
        if (!in.ok() || !ReadFile(in.get(), buffer, DWORD(std::min<size_t>(want, 1 << 20)), &n, nullptr)) {
            *error = Utf8(ErrorText(in.ok() ? GetLastError() : in.error()));
            return false;
        }
        *got = n;
        return true;
    };
    std::string error;
    const bool keep = listing.Examine(row, read, &error);
    if (!error.empty()) diag.ReadFailed(source, error);
    return keep;
}

// Walks every path named on the command line with the walk options given;
// ends early when standard output was closed.
void WalkOperands(const Common& c, WalkVisitor& visitor, Diagnostics& diag) {
    WalkOptions options;
    options.recursive = c.args.Has("--recursive");
    options.followLinks = c.args.Has("--follow-links");
    for (const std::u16string& typed : c.operands) {
        std::string why;
        const std::wstring root = Resolve(typed, &why);
        if (root.empty()) {
            diag.Failed(Wide(typed), Wide(report::FromUtf8(why)));
            continue;
        }
        Walk(root, options, visitor);
        if (!Out().Ok()) break;
    }
}

class ListVisitor : public WalkVisitor {
public:
    ListVisitor(Diagnostics& diag, report::RowWriter& writer, const report::Listing& listing)
        : diag_(diag), writer_(writer), listing_(listing) {}
    void Entry(const std::wstring&, const std::wstring& path, bool isDirectory, bool) override {
        diag_.Tick(path);
        StreamRow host;
        host.path = U16(Shown(path));
        host.isDirectory = isDirectory;
        DWORD err = 0;
        bool remote = false;
        // The usual names come through too: Examine decides whether to hide them.
        const bool opened = ForEachStream(path, true, [&](const NamedStream& s) {
            StreamRow row = host;
            row.stream = U16(s.name);
            row.size = s.size;
            if (!listing_.Wants(row)) return true;
            // A cloud placeholder's or an offline file's streams are not
            // read: that would fetch the file ("Handling placeholders").
            if (remote ? !listing_.LeaveUnread(&row) : !Examine(listing_, path, &row, diag_)) return true;
            diag_.BeforeRow();
            writer_.Row(row);
            found_ = true;
            return Out().Ok();
        }, &err, &host, &remote);
        if (!opened) diag_.Unreadable(path, err);
    }
    void Unreadable(const std::wstring& path, DWORD error) override { diag_.Unreadable(path, error); }
    void Note(const std::wstring& path, const std::wstring& text) override { diag_.Problem(Shown(path), text); }
    bool Stopped() override { return !Out().Ok(); }
    bool found_ = false;

private:
    Diagnostics& diag_;
    report::RowWriter& writer_;
    const report::Listing& listing_;
};

// True when none of the paths named exists: nothing could be looked at.
bool NoneExists(const Common& c) {
    for (const std::u16string& typed : c.operands) {
        std::string why;
        const std::wstring root = Resolve(typed, &why);
        if (!root.empty() && GetFileAttributesUnredirected(root.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    }
    return true;
}

int List(const Common& c) {
    Diagnostics diag(c.args.Has("--quiet"));
    auto writer = report::RowWriter::Make(c.format, c.listing.ColumnsFor(kTraits),
                                          [](const std::string& s) { Out().Text(s); }, c.listing.Writer());
    ListVisitor visitor(diag, *writer, c.listing);
    WalkOperands(c, visitor, diag);
    writer->Finish();
    if (NoneExists(c)) return report::kExitNoSource;
    return report::FinalStatus(false, visitor.found_, c.args.Has("--fail-if-found"),
                               diag.AnyUnreadable() || !Out().Ok());
}

// A stream named on the command line: the path the file system is given
// (PlatformStreamPath: never the file's unnamed data) and the path shown.
struct StreamTarget {
    std::wstring path;
    std::wstring shown;
};

// Empty path, with the error set, when the typed path is refused.
StreamTarget ResolveStream(const std::u16string& typed, std::string* error) {
    const StreamPath sp = ParseStreamPath(typed);
    if (!sp.error.empty()) {
        *error = sp.error;
        return {};
    }
    const std::wstring file = Resolve(sp.file, error);
    if (file.empty()) return {};
    StreamTarget t{PlatformStreamPath(file, Wide(sp.stream)), ShownStream(file, Wide(sp.stream))};
    if (t.path.empty()) *error = "names no stream this platform can address";
    return t;
}

int Cat(const Common& c) {
    Diagnostics diag(true);
    if (c.operands.size() != 1) {
        diag.Usage("cat takes exactly one FILE:STREAM");
        return report::kExitUsage;
    }
    std::string refused;
    const StreamTarget target = ResolveStream(c.operands[0], &refused);
    if (target.path.empty()) {
        diag.Usage(Utf8(Wide(c.operands[0])) + ": " + refused);
        return report::kExitUsage;
    }
    OpenFile in(FsCall::kView, target.path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                kStreamOpenFlags | FILE_FLAG_SEQUENTIAL_SCAN);
    if (!in.ok()) {
        diag.Failed(target.shown, ErrorText(in.error()));
        const DWORD e = in.error();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? report::kExitNoSource : report::kExitPartial;
    }
    std::unique_ptr<char[]> buffer(new char[1 << 16]);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(in.get(), buffer.get(), 1 << 16, &n, nullptr)) {
            diag.Failed(target.shown, ErrorText(GetLastError()));
            return report::kExitPartial;
        }
        if (n == 0) break;
        if (!Out().Bytes(buffer.get(), n)) return report::kExitPartial;
    }
    return report::kExitOk;
}

bool WriteAll(HANDLE h, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
        DWORD n = 0;
        if (!WriteFile(h, p, DWORD(std::min<size_t>(size, 1 << 20)), &n, nullptr) || n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

class WinNewFile : public report::NewFile {
public:
    WinNewFile(HANDLE h, std::wstring path) : h_(h), path_(std::move(path)) {}
    ~WinNewFile() override { Close(); }
    bool Write(const char* data, size_t size, std::string* error) override {
        if (WriteAll(h_, data, size)) return true;
        *error = Utf8(ErrorText(GetLastError()));
        return false;
    }
    void Discard() override {
        if (h_ == INVALID_HANDLE_VALUE) return;
        Close();
        DeleteFileUnredirected(path_.c_str());
    }

private:
    void Close() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    HANDLE h_;
    std::wstring path_;
};

// The extraction folder (an extended path): CREATE_NEW never opens a file
// that exists, whatever it is ("CreateFileW": it fails with
// ERROR_FILE_EXISTS), and the call runs without WOW64 redirection.
class WinTargetDirectory : public report::TargetDirectory {
public:
    explicit WinTargetDirectory(std::wstring dir) : dir_(std::move(dir)) {}
    Created CreateNew(const std::u16string& name) override {
        Created created;
        const std::wstring path = dir_ + (dir_.back() == L'\\' ? L"" : L"\\") + Wide(name);
        HANDLE h = CreateFileUnredirected(FsCall::kWrite, path.c_str(), GENERIC_WRITE, 0, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            const bool exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
            created.status = exists ? Created::Status::kExists : Created::Status::kFailed;
            created.why = Utf8(ErrorText(error));
            return created;
        }
        created.status = Created::Status::kCreated;
        created.file = std::make_unique<WinNewFile>(h, path);
        created.name = name;
        return created;
    }

private:
    std::wstring dir_;
};

class ExtractVisitor : public WalkVisitor {
public:
    ExtractVisitor(Diagnostics& diag, report::RowWriter& out, report::RowWriter& index, const std::wstring& dir,
                   bool all, const report::Listing& listing)
        : diag_(diag), out_(out), index_(index), dir_(dir), target_(dir), all_(all), listing_(listing),
          buffer_(new char[1 << 16]) {}

    void Entry(const std::wstring& root, const std::wstring& path, bool isDirectory, bool) override {
        diag_.Tick(path);
        // Names first, copies after: the entry's handle is closed by then.
        std::vector<std::pair<std::wstring, uint64_t>> streams;
        DWORD err = 0;
        if (!ForEachStream(path, all_, [&](const NamedStream& s) {
                streams.emplace_back(s.name, s.size);
                return true;
            }, &err)) {
            diag_.Unreadable(path, err);
            return;
        }
        for (const auto& s : streams) Copy(root, path, isDirectory, s.first, s.second);
    }
    void Unreadable(const std::wstring& path, DWORD error) override { diag_.Unreadable(path, error); }
    void Note(const std::wstring& path, const std::wstring& text) override { diag_.Problem(Shown(path), text); }
    bool extracted_ = false;

private:
    void Copy(const std::wstring& root, const std::wstring& path, bool isDirectory, const std::wstring& stream,
              uint64_t size) {
        const std::wstring shown = ShownStream(path, stream);
        // A name the platform cannot address as a stream is not opened.
        const std::wstring source = PlatformStreamPath(path, stream);
        if (source.empty()) {
            diag_.Failed(shown, ErrorText(ERROR_INVALID_NAME));
            return;
        }
        OpenFile in(FsCall::kOpen, source, GENERIC_READ, kShareAll, OPEN_EXISTING,
                    kStreamOpenFlags | FILE_FLAG_SEQUENTIAL_SCAN);
        if (!in.ok()) {
            diag_.Failed(shown, ErrorText(in.error()));
            return;
        }
        const std::u16string name = report::SafeExtractName(PathUnderRootsParent(U16(root), U16(path)), U16(stream));
        const report::NewFileResult out = report::CreateNewNumbered(target_, name);
        if (out.file == nullptr) {
            diag_.Failed(Shown(dir_ + L"\\" + Wide(name)), Wide(report::FromUtf8(out.why)));
            return;
        }
        StreamRow row;
        row.path = U16(Shown(path));
        row.stream = U16(stream);
        row.size = size;
        row.isDirectory = isDirectory;
        // The index describes what was written: the facts come from the copy.
        report::ContentTap tap(listing_.facts, row);
        std::string failed;
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(in.get(), buffer_.get(), 1 << 16, &n, nullptr)) {
                failed = Utf8(ErrorText(GetLastError()));
                break;
            }
            if (n == 0) break;
            tap.Add(buffer_.get(), n);
            if (!out.file->Write(buffer_.get(), n, &failed)) break;
        }
        if (!failed.empty()) {
            out.file->Discard();  // ours, and incomplete
            diag_.Failed(shown, Wide(report::FromUtf8(failed)));
            return;
        }
        tap.Finish(&row, true);
        row.savedAs = out.name;
        index_.Row(row);
        diag_.BeforeRow();
        out_.Row(row);
        extracted_ = true;
    }

    Diagnostics& diag_;
    report::RowWriter& out_;
    report::RowWriter& index_;
    std::wstring dir_;
    WinTargetDirectory target_;
    bool all_;
    const report::Listing& listing_;
    std::unique_ptr<char[]> buffer_;
};

int Extract(const Common& c) {
    Diagnostics diag(c.args.Has("--quiet"));
    if (!c.args.Has("--to") || c.args.Value("--to").empty()) {
        diag.Usage("extract needs --to DIR");
        return report::kExitUsage;
    }
    report::Format indexFormat = report::Format::Csv;
    if (c.args.Has("--index-format") &&
        (!report::ParseFormat(c.args.Value("--index-format"), &indexFormat) || indexFormat == report::Format::Table ||
         indexFormat == report::Format::Body)) {
        diag.Usage("--index-format is csv or jsonl");
        return report::kExitUsage;
    }
    std::string why;
    const std::wstring dir = Resolve(report::FromUtf8(c.args.Value("--to")), &why);
    if (dir.empty()) {
        diag.Usage("--to " + why);
        return report::kExitUsage;
    }
    if (!CreateDirectoryUnredirected(dir.c_str()) && GetLastError() != ERROR_ALREADY_EXISTS) {
        diag.Unreadable(dir, GetLastError());
        return report::kExitPartial;
    }
    const DWORD attr = GetFileAttributesUnredirected(dir.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        diag.Unreadable(dir, attr == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY);
        return report::kExitPartial;
    }
    // The index first, so that no extracted stream can take its name.
    WinTargetDirectory target(dir);
    const report::NewFileResult index =
        report::CreateNewNumbered(target, indexFormat == report::Format::Json ? u"index.jsonl" : u"index.csv");
    if (index.file == nullptr) {
        diag.Failed(Shown(dir + L"\\index"), Wide(report::FromUtf8(index.why)));
        return report::kExitPartial;
    }
    bool indexOk = true;
    std::string indexError;
    report::Columns columns;
    columns.savedAs = true;
    columns.kind = true;
    columns.md5 = columns.sha1 = columns.sha256 = false;
    for (report::HashAlgorithm a : c.listing.facts.hashes) {
        if (a == report::HashAlgorithm::Md5) columns.md5 = true;
        if (a == report::HashAlgorithm::Sha1) columns.sha1 = true;
        if (a == report::HashAlgorithm::Sha256) columns.sha256 = true;
    }
    {
        auto indexWriter = report::RowWriter::Make(indexFormat, columns, [&](const std::string& s) {
            if (indexOk && !index.file->Write(s.data(), s.size(), &indexError)) indexOk = false;
        });
        auto out = report::RowWriter::Make(c.format, columns, [](const std::string& s) { Out().Text(s); });
        ExtractVisitor visitor(diag, *out, *indexWriter, dir, c.args.Has("--all"), c.listing);
        WalkOperands(c, visitor, diag);
        indexWriter->Finish();
        out->Finish();
    }
    if (!indexOk) diag.Failed(Shown(dir + L"\\" + Wide(index.name)), Wide(report::FromUtf8(indexError)));
    return report::FinalStatus(false, false, false, diag.AnyUnreadable());
}

int Delete(const Common& c) {
    Diagnostics diag(true);
    // Every path is checked before anything is touched.
    std::vector<StreamTarget> targets;
    bool refused = false;
    for (const std::u16string& typed : c.operands) {
        std::string why;
        const StreamTarget target = ResolveStream(typed, &why);
        if (target.path.empty()) {
            diag.UsageLine(Utf8(Wide(typed)) + ": " + why + "; nothing deleted");
            refused = true;
        }
        targets.push_back(target);
    }
    if (refused) {
        diag.TryHelp();
        return report::kExitUsage;
    }
    const bool dryRun = c.args.Has("--dry-run");
    for (const StreamTarget& target : targets) {
        // The stream itself is opened (a link's own, never its target's) and
        // marked for deletion through that handle, so that what is deleted
        // is what was opened ("FILE_DISPOSITION_INFO").
        OpenFile stream(FsCall::kDelete, target.path, dryRun ? FILE_READ_ATTRIBUTES : DELETE, kShareAll,
                        OPEN_EXISTING, kStreamOpenFlags);
        if (!stream.ok()) {
            diag.Failed(target.shown, ErrorText(stream.error()));
            continue;
        }
        FILE_DISPOSITION_INFO dispose{TRUE};
        if (!dryRun && !SetFileInformationByHandle(stream.get(), FileDispositionInfo, &dispose, sizeof dispose)) {
            diag.Failed(target.shown, ErrorText(GetLastError()));
            continue;
        }
        stream.Close();
        Out().Text((dryRun ? "would remove " : "removed ") + Utf8(target.shown) + "\n");
    }
    return report::FinalStatus(false, false, false, diag.AnyUnreadable());
}

// The body of each command of the table (CliOptions.cpp).
struct CommandBody {
    const char* name;
    int (*run)(const Common&);
};
const CommandBody kBodies[] = {{"list", List}, {"cat", Cat}, {"extract", Extract}, {"delete", Delete}};

// The operands in their exact UTF-16 form: the option parser works on UTF-8,
// which cannot carry a lone surrogate, so each operand is matched back to
// the argument it came from, in order.
std::vector<std::u16string> ExactOperands(const std::vector<std::string>& operands,
                                          const std::vector<std::u16string>& args) {
    std::vector<std::u16string> out;
    size_t from = 0;
    for (const std::string& op : operands) {
        size_t i = from;
        while (i < args.size() && report::ToUtf8(args[i]) != op) ++i;
        if (i == args.size()) {
            out.push_back(report::FromUtf8(op));
        } else {
            out.push_back(args[i]);
            from = i + 1;
        }
    }
    return out;
}

}  // namespace

int Run(const std::vector<std::wstring>& wideArgs) {
    std::vector<std::u16string> words;
    std::vector<std::string> utf8;
    for (const std::wstring& w : wideArgs) {
        words.push_back(U16(w));
        utf8.push_back(report::ToUtf8(words.back()));
    }
    const report::CommandLine line = report::ParseCommandLine(CliProgram(), utf8);
    switch (line.outcome) {
        case report::CommandLine::Outcome::Help:
        case report::CommandLine::Outcome::Version:
            Out().Text(line.out);
            return report::kExitOk;
        case report::CommandLine::Outcome::Usage:
            Err().Text(line.err);
            return report::kExitUsage;
        case report::CommandLine::Outcome::Run:
            break;
    }
    g_command = line.command;
    Diagnostics diag(true);
    Common c;
    c.args = line.args;
    // The command is the first word; the operands come from the rest.
    c.operands = ExactOperands(c.args.operands, {words.begin() + 1, words.end()});
    if (c.operands.empty()) {
        diag.Usage(line.command->name + ": nothing named");
        return report::kExitUsage;
    }
    c.listing.format = Out().IsConsole() ? report::Format::Table : report::Format::Csv;
    // Held by an elevated administrator: with it, backup-semantics opens
    // pass the files' own access checks. Not held is not an error.
    EnableBackupPrivilege();
    std::string bad;
    if (!c.listing.Parse(c.args, &bad)) {
        diag.Usage(bad);
        return report::kExitUsage;
    }
    c.format = c.listing.format;
    for (const CommandBody& body : kBodies) {
        if (line.command->name == body.name) return body.run(c);
    }
    diag.Usage(line.command->name + ": not built into this program");
    return report::kExitUsage;
}

}  // namespace vestrel::cli
