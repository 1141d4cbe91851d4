// What one run reads: the volumes of a source, a BitLocker one through its
// unlocked contents, and with shadow copies each volume's stores as well.
// A target's name is what --volume takes: "p2", "p2@vss3", or for a bare
// volume "" and "vss3".
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PartitionTable.h"
#include "Source.h"
#include "SourceBitLocker.h"

namespace vestrel::ntfs {

struct Target {
    Partition where;               // in *source; the label is the partition's
    const Source* source = nullptr;
    std::string store;             // "vss3" for a shadow copy, else ""
    std::string snapshot;          // the snapshot column: "" for the live volume
    std::string Name() const;
};

struct TargetOptions {
    bool shadows = false;  // every volume's stores after it
    std::string volume;    // --volume: one target by name
    BitLockerKeys keys;
    // Made for each BitLocker volume met; tests give a fake.
    std::function<std::unique_ptr<BitLockerVolume>()> bitLocker = MakeLibbdeVolume;
};

struct Targets {
    // Stores and unlocked volumes read the sources owned before them.
    ~Targets() {
        while (!owned.empty()) owned.pop_back();
    }
    std::vector<Target> list;
    std::vector<std::unique_ptr<Source>> owned;  // windows, stores, unlocked volumes
    bool snapshots = false;                      // rows carry a snapshot column
};

// Splits "p2@vss3" into "p2" and "vss3" ("vss3" alone: "" and "vss3").
// False when the store part is not "vss" and a number from 1.
bool SplitVolumeName(const std::string& name, std::string* partition, std::string* store);

// The targets of `volumes` (of `source`). Problems (a locked BitLocker
// volume, an unreadable shadow catalog) are said through `problem` and the
// volume left out. Returns -1 to go on, else an exit status: usage when
// --volume names nothing there.
int ChooseTargets(const Source& source, const std::vector<Partition>& volumes, const TargetOptions& options,
                  const std::function<void(const Partition&, const std::string&)>& problem, Targets* out);

}  // namespace vestrel::ntfs
