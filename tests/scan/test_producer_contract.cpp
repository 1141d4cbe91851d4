// Every producer of a backup stream sequence keeps the read and skip rules the
// enumeration relies on, and the enumeration finds the same streams whichever
// way the platform answers.
#include <gtest/gtest.h>

#include "BackupApiSequence.h"
#include "ProducerContract.h"
#include "SequenceContract.h"
#include "StreamEnumerator.h"

namespace vestrel {
namespace {

using Unit = MemorySequence::Unit;

struct MemoryProducer : Producer {
    explicit MemoryProducer(const std::vector<Unit>& units) : seq(MemorySequence::FromUnits(units)) {
        expected = units;
    }
    IBackupSequence& Sequence() override { return seq; }
    MemorySequence seq;
};

struct ModelProducer : Producer {
    ModelProducer(const UnitList& list, BackupModel::Behaviour behaviour, bool processSecurity)
        : model(list.units, behaviour), seq(model, processSecurity) {
        expected = ServedUnits(list.units, processSecurity);
    }
    IBackupSequence& Sequence() override { return seq; }
    BackupModel model;
    BackupApiSequence seq;
};

const BackupModel::Behaviour kBehaviours[] = {
    {true, 0, 0, 0},   // fills every request from the following units
    {false, 0, 0, 0},  // stops at each unit's end
    {true, 7, 0, 0},   // at most 7 bytes a call: headers arrive in pieces
    {true, 1, 0, 0},
    {false, 13, 0, 0},
    {true, 0, 0, 0, false},  // BackupSeek moves nothing inside sparse blocks
};

// Walks a sequence as the scan does and keeps what a caller sees of each record.
struct Records {
    std::vector<WideString> names;
    std::vector<uint32_t> sizes;
    std::vector<std::vector<uint8_t>> leading;
    int count = 0;
    bool operator==(const Records& o) const {
        return names == o.names && sizes == o.sizes && leading == o.leading && count == o.count;
    }
};

Records Enumerate(IBackupSequence& seq) {
    NtfsStreamList list;
    Records r;
    r.count = EnumStreamsFromSequence(seq, &list);
    for (const NtfsStreamInfo* info : list) {
        r.names.push_back(info->strName);
        r.sizes.push_back(info->dwSize);
        const size_t n = info->dwSize < 100 ? info->dwSize : 100;
        r.leading.emplace_back(info->byData, info->byData + n);
    }
    FreeStreamList(&list);
    return r;
}

}  // namespace

std::vector<ProducerKind> PortableProducerKinds() {
    std::vector<ProducerKind> kinds;
    kinds.push_back({"Memory", false, [](const UnitList& list) -> std::unique_ptr<Producer> {
                         return std::unique_ptr<Producer>(new MemoryProducer(ServedUnits(list.units, false)));
                     }});
    for (const BackupModel::Behaviour& b : kBehaviours) {
        kinds.push_back({"Platform" + b.Name(), true, [b](const UnitList& list) -> std::unique_ptr<Producer> {
                             return std::unique_ptr<Producer>(new ModelProducer(list, b, false));
                         }});
    }
    kinds.push_back({"PlatformWithSecurity", true, [](const UnitList& list) -> std::unique_ptr<Producer> {
                         return std::unique_ptr<Producer>(new ModelProducer(list, kBehaviours[0], true));
                     }});
    return kinds;
}

TEST_P(SequenceContract, AnswersLikeTheReferenceUnderAnyMixOfReadsAndSkips) {
    int served = 0;
    for (const UnitList& list : RealisticSequences()) {
        SCOPED_TRACE(list.name);
        std::vector<std::pair<std::string, std::vector<SequenceStep>>> scripts = {
            {"walk", WalkSteps(list.units.size())},
            {"byte by byte", std::vector<SequenceStep>(400, SequenceStep{false, 1})},
            {"whole reads", std::vector<SequenceStep>(12, SequenceStep{false, 1 << 16})},
        };
        for (uint32_t seed = 1; seed <= 12; ++seed) scripts.push_back({"seed " + std::to_string(seed), StepsFromSeed(seed, 60)});
        for (const auto& script : scripts) {
            std::unique_ptr<Producer> p = GetParam().make(list);
            if (!p) break;
            ++served;
            EXPECT_EQ(CheckSequenceContract(p->Sequence(), p->expected, script.second,
                                            GetParam().refusesSkipBeforeData),
                      "")
                << script.first;
        }
    }
    EXPECT_GT(served, 0) << "the producer served none of the sequences";
}

// Where the enumeration's skip ends inside the tiny data it already took,
// or exactly at a header, the walk must go on to the streams that follow.
TEST_P(SequenceContract, EnumerationFindsTheSameStreamsAsFromMemory) {
    int served = 0;
    for (const UnitList& list : RealisticSequences()) {
        SCOPED_TRACE(list.name);
        std::unique_ptr<Producer> p = GetParam().make(list);
        if (!p) continue;
        ++served;
        MemorySequence reference = MemorySequence::FromUnits(p->expected);
        const Records want = Enumerate(reference);
        const Records got = Enumerate(p->Sequence());
        EXPECT_TRUE(got == want) << got.count << " records, expected " << want.count;
        EXPECT_FALSE(want.names.empty() && list.name != "PlainFile") << "a sequence without streams to find";
    }
    EXPECT_GT(served, 0);
}

INSTANTIATE_TEST_SUITE_P(Portable, SequenceContract, ::testing::ValuesIn(PortableProducerKinds()), KindName);

}  // namespace vestrel
