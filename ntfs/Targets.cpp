#include "Targets.h"

#include "Report.h"
#include "SourceShadow.h"

namespace vestrel::ntfs {

std::string Target::Name() const {
    if (store.empty()) return where.label;
    return where.label.empty() ? store : where.label + "@" + store;
}

bool SplitVolumeName(const std::string& name, std::string* partition, std::string* store) {
    const size_t at = name.find('@');
    std::string part = at == std::string::npos ? name : name.substr(0, at);
    std::string rest = at == std::string::npos ? "" : name.substr(at + 1);
    if (at == std::string::npos && name.compare(0, 3, "vss") == 0) part.clear(), rest = name;
    if (at != std::string::npos || !rest.empty()) {
        if (rest.size() < 4 || rest.size() > 8 || rest.compare(0, 3, "vss") != 0 || rest[3] == '0') return false;
        for (size_t i = 3; i < rest.size(); ++i)
            if (rest[i] < '0' || rest[i] > '9') return false;
    }
    *partition = part;
    *store = rest;
    return true;
}

int ChooseTargets(const Source& source, const std::vector<Partition>& volumes, const TargetOptions& options,
                  const std::function<void(const Partition&, const std::string&)>& problem, Targets* out) {
    std::string wantedPartition, wantedStore;
    const bool choosing = !options.volume.empty();
    if (choosing && !SplitVolumeName(options.volume, &wantedPartition, &wantedStore)) {
        problem(Partition{}, "--volume takes pN, pN@vssM, or vssM for a volume without a partition table");
        return report::kExitUsage;
    }
    bool matched = false;
    for (const Partition& p : volumes) {
        if (choosing && p.label != wantedPartition) continue;
        matched = true;
        Target live{p, &source, "", ""};
        uint8_t boot[kSectorSize];
        if (source.ReadAt(p.offset, boot, sizeof boot) && IsBitLockerBootSector(boot, sizeof boot)) {
            out->owned.push_back(WindowOf(source, p.offset, p.length, p.label));
            std::string error;
            std::unique_ptr<Source> unlocked =
                OpenBitLocker(*out->owned.back(), options.keys, options.bitLocker(), &error);
            if (!unlocked) {
                problem(Partition{}, error);
                continue;
            }
            live.where = Partition{p.label, 0, unlocked->size()};
            live.source = unlocked.get();
            out->owned.push_back(std::move(unlocked));
        }
        if (wantedStore.empty()) out->list.push_back(live);
        if (!options.shadows && wantedStore.empty()) continue;
        out->snapshots = true;
        out->owned.push_back(WindowOf(*live.source, live.where.offset, live.where.length, p.label));
        const Source& volume = *out->owned.back();
        std::vector<ShadowStore> stores;
        std::string error;
        if (!OpenShadowStores(volume, &stores, &error)) {
            problem(p, volume.path() + ": " + error);
            continue;
        }
        bool found = false;
        for (ShadowStore& s : stores) {
            Target t{Partition{p.label, 0, s.source->size()}, s.source.get(), "vss" + std::to_string(s.number),
                     SnapshotText(s)};
            if (!wantedStore.empty() && t.store != wantedStore) continue;
            found = true;
            out->list.push_back(t);
            out->owned.push_back(std::move(s.source));
        }
        if (!wantedStore.empty() && !found) {
            problem(p, volume.path() + ": no shadow copy " + wantedStore + " (the volume has " +
                           std::to_string(stores.size()) + ")");
            return report::kExitUsage;
        }
    }
    if (choosing && !matched) {
        problem(Partition{}, source.path() + ": no NTFS partition " + wantedPartition);
        return report::kExitUsage;
    }
    return -1;
}

}  // namespace vestrel::ntfs
