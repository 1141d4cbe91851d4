// The contract suite shared by every producer of a backup stream sequence:
// each test program instantiates it with the producers it can run.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "BackupModel.h"
#include "BackupSequence.h"

namespace vestrel {

// One producer serving one unit list, with whatever it stands on.
struct Producer {
    virtual ~Producer() = default;
    virtual IBackupSequence& Sequence() = 0;
    std::vector<MemorySequence::Unit> expected;  // the units it serves, in its order
};

struct ProducerKind {
    std::string name;
    // Skips at or inside a header or a name move nothing (as BackupSeek).
    bool refusesSkipBeforeData = false;
    // Null when this producer cannot serve the list.
    std::function<std::unique_ptr<Producer>(const UnitList&)> make;
};

class SequenceContract : public ::testing::TestWithParam<ProducerKind> {};

// Producers that run everywhere: the in-memory sequence and the platform
// producer over the model in each of its behaviours.
std::vector<ProducerKind> PortableProducerKinds();

// Failure messages name the producer rather than dumping its bytes.
inline void PrintTo(const ProducerKind& kind, std::ostream* os) { *os << kind.name; }

inline std::string KindName(const ::testing::TestParamInfo<ProducerKind>& info) { return info.param.name; }

}  // namespace vestrel
