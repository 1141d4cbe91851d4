// vestrel-ntfs info SOURCE: the container, the partitions read, each NTFS
// volume's serial number and label, its shadow copies, and whether it is
// BitLocker-encrypted; as a table for people or one JSON object.
#include "Info.h"

#include <unistd.h>

#include <cstdio>

#include "Bytes.h"
#include "NtfsLib.h"
#include "NtfsOptions.h"
#include "SourceBitLocker.h"
#include "SourceShadow.h"
#include "Volume.h"

namespace vestrel::ntfs {
namespace {

struct VolumeInfo {
    Partition where;
    std::string fileSystem;  // "NTFS", "BitLocker"
    std::string bitLocker;   // "", "locked", "unlocked", or what kept it locked
    std::string serial, label;
    bool mounted = false;
    std::string problem;     // why the volume could not be read
    std::vector<std::pair<unsigned, uint64_t>> snapshots;  // store number, creation time
    std::string snapshotProblem;
};

std::string Hex64(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", (unsigned long long)value);
    return text;
}

std::string Json(const std::string& utf8) { return report::JsonString(report::FromUtf8(utf8)); }

const char* LayoutName(Layout kind) {
    switch (kind) {
        case Layout::Volume: return "volume";
        case Layout::Mbr: return "mbr";
        case Layout::Gpt: return "gpt";
        case Layout::Unknown: break;
    }
    return "unknown";
}

// The volume at `where` of `source`: unlocked first when it is BitLocker's,
// then mounted for its label and looked at for shadow copies.
VolumeInfo Examine(const Source& source, const Partition& where, const BitLockerKeys& keys) {
    VolumeInfo info;
    info.where = where;
    info.fileSystem = "NTFS";
    std::unique_ptr<Source> window = WindowOf(source, where.offset, where.length, where.label);
    std::unique_ptr<Source> unlocked;
    const Source* volume = window.get();
    uint8_t boot[kSectorSize];
    if (!volume->ReadAt(0, boot, sizeof boot)) {
        info.problem = "the boot sector cannot be read";
        return info;
    }
    if (IsBitLockerBootSector(boot, sizeof boot)) {
        info.fileSystem = "BitLocker";
        if (keys.password.empty() && keys.recoveryPassword.empty()) {
            info.bitLocker = "locked";
            return info;
        }
        std::string error;
        unlocked = OpenBitLocker(*window, keys, MakeLibbdeVolume(), &error);
        if (!unlocked) {
            info.bitLocker = "locked";
            info.problem = error;
            return info;
        }
        info.bitLocker = "unlocked";
        volume = unlocked.get();
        if (!volume->ReadAt(0, boot, sizeof boot)) {
            info.problem = "the unlocked volume's boot sector cannot be read";
            return info;
        }
        info.fileSystem = "BitLocker, NTFS inside";
    }
    info.serial = Hex64(Le64(boot + 0x48));
    std::string error;
    std::unique_ptr<Volume> mounted = Volume::Mount(*volume, Partition{where.label, 0, volume->size()}, &error);
    if (mounted) {
        info.mounted = true;
        if (mounted->get()->vol_name != nullptr) info.label = mounted->get()->vol_name;
    } else {
        info.problem = error;
    }
    std::vector<ShadowStore> stores;
    if (!OpenShadowStores(*volume, &stores, &error)) info.snapshotProblem = error;
    for (const ShadowStore& s : stores) info.snapshots.push_back({s.number, s.created});
    return info;
}

}  // namespace

int Info(const report::ParsedArgs& args) {
    const report::ProgramSpec& program = NtfsProgram();
    const auto usage = [&](const std::string& what) {
        for (const report::CommandSpec& command : program.commands) {
            if (command.name == "info") std::fputs(report::UsageError(program, &command, what).c_str(), stderr);
        }
        return report::kExitUsage;
    };
    if (args.operands.size() != 1) return usage("info needs SOURCE");
    report::Format format = isatty(STDOUT_FILENO) ? report::Format::Table : report::Format::Json;
    if (args.Has("--format") && (!report::ParseFormat(args.Value("--format"), &format) || format == report::Format::Csv)) {
        return usage("info --format takes table or json");
    }
    const std::string path = args.operands[0];
    std::string error;
    std::unique_ptr<Source> source = OpenSource(path, &error);
    if (!source) {
        std::fputs(("vestrel-ntfs: " + error + "\n").c_str(), stderr);
        return report::kExitNoSource;
    }
    BitLockerKeys keys{args.Value("--password"), args.Value("--recovery-password")};
    const DiskLayout layout = ReadDiskLayout(
        [&](uint64_t offset, void* buffer, size_t count) { return source->ReadAt(offset, buffer, count); }, source->size());
    std::vector<VolumeInfo> volumes;
    for (const Partition& p : layout.volumes) volumes.push_back(Examine(*source, p, keys));
    bool problems = !layout.problems.empty();
    for (const VolumeInfo& v : volumes) problems = problems || !v.problem.empty() || !v.snapshotProblem.empty();

    std::string out;
    if (format == report::Format::Json) {
        out = "{\"source\":" + Json(path) + ",\"container\":" + Json(KindName(source->kind())) +
              ",\"description\":" + Json(source->Describe()) + ",\"size\":" + std::to_string(source->size()) +
              ",\"layout\":" + Json(LayoutName(layout.kind)) + ",\"volumes\":[";
        for (size_t i = 0; i < volumes.size(); ++i) {
            const VolumeInfo& v = volumes[i];
            out += std::string(i ? "," : "") + "{\"volume\":" + Json(v.where.label) + ",\"offset\":" +
                   std::to_string(v.where.offset) + ",\"length\":" + std::to_string(v.where.length) +
                   ",\"file_system\":" + Json(v.fileSystem) + ",\"bitlocker\":" + Json(v.bitLocker) +
                   ",\"serial\":" + Json(v.serial) + ",\"label\":" + Json(v.label) + ",\"snapshots\":[";
            for (size_t k = 0; k < v.snapshots.size(); ++k)
                out += std::string(k ? "," : "") + "{\"store\":\"vss" + std::to_string(v.snapshots[k].first) +
                       "\",\"created\":" + Json(FiletimeIso(v.snapshots[k].second)) + "}";
            out += "],\"problem\":" + Json(v.problem.empty() ? v.snapshotProblem : v.problem) + "}";
        }
        out += "],\"other_partitions\":[";
        for (size_t i = 0; i < layout.others.size(); ++i) {
            const auto& o = layout.others[i];
            out += std::string(i ? "," : "") + "{\"volume\":" + Json(o.first.label) + ",\"offset\":" +
                   std::to_string(o.first.offset) + ",\"length\":" + std::to_string(o.first.length) +
                   ",\"file_system\":" + Json(o.second) + "}";
        }
        out += "],\"problems\":[";
        for (size_t i = 0; i < layout.problems.size(); ++i) out += std::string(i ? "," : "") + Json(layout.problems[i]);
        out += "]}\n";
    } else {
        out = "source     " + path + "\ncontainer  " + source->Describe() + "\nsize       " + std::to_string(source->size()) +
              " bytes\nlayout     " + LayoutName(layout.kind) + "\n";
        for (const std::string& p : layout.problems) out += "problem    " + p + "\n";
        for (const VolumeInfo& v : volumes) {
            out += "\nvolume     " + (v.where.label.empty() ? std::string("(whole source)") : v.where.label) + "\n";
            out += "  offset   " + std::to_string(v.where.offset) + " (" + HumanSize(v.where.length) + ")\n";
            out += "  type     " + v.fileSystem + (v.bitLocker.empty() ? "" : " (" + v.bitLocker + ")") + "\n";
            if (!v.serial.empty()) out += "  serial   " + v.serial + "\n";
            if (v.mounted) out += "  label    " + (v.label.empty() ? std::string("(none)") : v.label) + "\n";
            if (v.bitLocker == "locked" && v.problem.empty())
                out += "  note     give --recovery-password or --password to read it\n";
            if (v.fileSystem != "BitLocker") {
                out += "  shadows  " + std::to_string(v.snapshots.size()) + "\n";
                for (const auto& s : v.snapshots)
                    out += "    vss" + std::to_string(s.first) + "  " + FiletimeIso(s.second) + "\n";
            }
            if (!v.problem.empty()) out += "  problem  " + v.problem + "\n";
            if (!v.snapshotProblem.empty()) out += "  problem  " + v.snapshotProblem + "\n";
        }
        for (const auto& o : layout.others)
            out += "\npartition  " + o.first.label + ", not read: offset " + std::to_string(o.first.offset) + " (" +
                   HumanSize(o.first.length) + "), " + (o.second.empty() ? std::string("not NTFS") : o.second) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return problems ? report::kExitPartial : report::kExitOk;
}

}  // namespace vestrel::ntfs
