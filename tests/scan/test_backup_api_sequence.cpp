// The producer over the platform's backup calls: what it asks of the platform
// and what it makes of answers the documentation allows or does not.
#include <gtest/gtest.h>

#include <vector>

#include "BackupApiSequence.h"
#include "BackupModel.h"
#include "StreamEnumerator.h"

namespace vestrel {
namespace {

using Unit = MemorySequence::Unit;

std::vector<uint8_t> Take(IBackupSequence& seq, uint32_t count, bool* ok = nullptr) {
    std::vector<uint8_t> buf(count);
    uint32_t n = 0;
    const bool r = seq.Read(buf.data(), count, &n);
    if (ok) *ok = r;
    buf.resize(n);
    return buf;
}

const BackupModel::Behaviour kCrossing{true, 0, 0, 0};

// A model whose answers can be spoiled, for what the documentation rules out.
class SpoiledModel : public BackupModel {
public:
    using BackupModel::BackupModel;
    uint32_t readExtra = 0;  // reported on top of what a read delivered
    uint64_t seekExtra = 0;  // reported on top of what a seek moved
    bool seekFails = false;  // a seek moves half of the request, then fails
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort, bool processSecurity,
              void** context) override {
        const bool ok = BackupModel::Read(buffer, count, bytesRead, abort, processSecurity, context);
        if (!abort) *bytesRead += readExtra;
        return ok;
    }
    bool Seek(uint64_t count, uint64_t* moved, void** context) override {
        if (seekFails) return BackupModel::Seek(count / 2, moved, context) && false;
        const bool ok = BackupModel::Seek(count, moved, context);
        *moved += seekExtra;
        return ok;
    }
};

}  // namespace

TEST(BackupApiSequence, BytesPastTheUnitAreKeptForTheNextReadAndSkipsUseThemFirst) {
    // One crossing read takes the tiny main stream, the whole EA unit, the
    // named header and name and the start of its 5000 bytes.
    BackupModel model({MemorySequence::Main({1, 2, 3}), {kBackupEaData, {}, 2, {7, 8}, {}},
                       MemorySequence::Named(":s:$DATA", std::vector<uint8_t>(5000, 0x5A)),
                       MemorySequence::Main({9})},
                      kCrossing);
    BackupApiSequence seq(model);
    EXPECT_EQ(Take(seq, 4096).size(), 23u);
    EXPECT_EQ(model.ReadCalls(), 1);
    EXPECT_EQ(Take(seq, 4096).size(), 22u);  // the EA unit, from what was kept
    EXPECT_EQ(Take(seq, 20 + 16).size(), 36u);
    EXPECT_EQ(model.ReadCalls(), 1);

    const uint64_t kept = 4096 - 23 - 22 - 36;
    uint64_t moved = 0;
    EXPECT_TRUE(seq.Skip(4999, &moved));
    EXPECT_EQ(moved, 4999u);
    EXPECT_EQ(model.SeekCalls(), 1);
    EXPECT_EQ(model.Served()->Stats(2).bytesSkipped, 4999 - kept);  // only the rest was sought
    EXPECT_FALSE(seq.Skip(5, &moved));  // past the end: moves the last byte, stops at the header
    EXPECT_EQ(moved, 1u);
    EXPECT_EQ(seq.LastError(), kErrorSeek);
    EXPECT_EQ(Take(seq, 100), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}));
}

TEST(BackupApiSequence, SkipsBeforeDataAreRefusedWithoutAskingThePlatform) {
    BackupModel model({MemorySequence::Named(":name:$DATA", std::vector<uint8_t>(5000, 1))}, kCrossing);
    BackupApiSequence seq(model);
    uint64_t moved = 9;
    EXPECT_FALSE(seq.Skip(10, &moved));  // at the first header
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(Take(seq, 7).size(), 7u);
    EXPECT_FALSE(seq.Skip(10, &moved));  // inside the header
    EXPECT_EQ(Take(seq, 20).size(), 20u);
    EXPECT_FALSE(seq.Skip(1, &moved));  // inside the name
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(seq.LastError(), kErrorSeek);
    EXPECT_EQ(model.SeekCalls(), 0);
    EXPECT_TRUE(seq.Skip(0, &moved));
    EXPECT_EQ(Take(seq, 15).size(), 15u);  // the name's rest
    EXPECT_TRUE(seq.Skip(4999, &moved));  // what the one buffer holds, then the platform's seek
    EXPECT_EQ(moved, 4999u);
    EXPECT_EQ(model.SeekCalls(), 1);
    EXPECT_EQ(model.Served()->Stats(0).bytesSkipped, 4999 - (BackupApiSequence::kReadBuffer - 20 - 22));
}

TEST(BackupApiSequence, LargeStreamsAreSkippedNotRead) {
    const uint64_t huge = (uint64_t(1) << 32) + 5;
    BackupModel model({MemorySequence::Main({1}), MemorySequence::NamedGenerated(":big:$DATA", huge),
                       MemorySequence::Named(":later:$DATA", {4})},
                      {true, 0, 0, 0});
    BackupApiSequence seq(model);
    NtfsStreamList list;
    EXPECT_EQ(EnumStreamsFromSequence(seq, &list), 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front()->dwSize, 5u);
    EXPECT_EQ(list.back()->byData[0], 4);
    FreeStreamList(&list);
    // Read: what the producer's one buffer took; the rest is sought.
    const uint64_t read = model.Served()->Stats(1).dataBytesRead;
    EXPECT_GE(read, 100u);
    EXPECT_LE(read, BackupApiSequence::kReadBuffer);
    EXPECT_EQ(model.Served()->Stats(1).bytesSkipped, huge - read);
    EXPECT_LE(model.ReadCalls() + model.SeekCalls(), 10);
}

TEST(BackupApiSequence, PlatformErrorsAreReportedAndTheContextReleasedOnce) {
    for (uint32_t error : {kErrorNotSupported, kErrorCallNotImplemented}) {
        BackupModel model({MemorySequence::Main({1})}, {true, 0, error, 0});
        {
            BackupApiSequence seq(model);
            bool ok = true;
            EXPECT_TRUE(Take(seq, 26, &ok).empty());
            EXPECT_FALSE(ok);
            EXPECT_EQ(seq.LastError(), error);
            EXPECT_TRUE(BackupUnsupported(seq.LastError()));
        }
        EXPECT_EQ(model.ContextsReleased(), 0);  // none was made
    }
    EXPECT_FALSE(BackupUnsupported(kErrorReadFault));

    BackupModel model({MemorySequence::Named(":a:$DATA", {1, 2}), MemorySequence::Named(":b:$DATA", {3})},
                      {true, 26, 0, 3});
    {
        BackupApiSequence seq(model);
        NtfsStreamList list;
        // Platform reads of 26 bytes at most: a's header and name start, then
        // its name's rest, its data and part of b's header, then the rest of
        // b's header (fails): a is kept, the walk ends.
        EXPECT_EQ(EnumStreamsFromSequence(seq, &list), 1);
        FreeStreamList(&list);
        EXPECT_EQ(seq.LastError(), kErrorReadFault);
        EXPECT_TRUE(model.ContextHeld());
    }
    EXPECT_FALSE(model.ContextHeld());
    EXPECT_EQ(model.ContextsReleased(), 1);
}

// Answers the documentation rules out leave the producer unable to follow
// the units: it fails from then on instead of passing data off as headers.
TEST(BackupApiSequence, AnswersThatCannotBeFollowedEndTheSequence) {
    const std::vector<Unit> units = {MemorySequence::Named(":a:$DATA", std::vector<uint8_t>(500, 1)),
                                     MemorySequence::Named(":b:$DATA", {2})};
    for (int spoil = 0; spoil < 3; ++spoil) {
        SCOPED_TRACE(spoil);
        // 36 bytes a call: the first read holds nothing past what is taken,
        // so the next read and skip go to the platform.
        SpoiledModel model(units, {true, 36, 0, 0});
        BackupApiSequence seq(model);
        ASSERT_EQ(Take(seq, 36).size(), 36u);  // header, name and the first data byte
        uint64_t moved = 0;
        if (spoil == 0) {
            model.readExtra = BackupApiSequence::kReadBuffer;  // more than was asked
            bool ok = true;
            EXPECT_TRUE(Take(seq, 10, &ok).empty());
            EXPECT_FALSE(ok);
        } else {
            (spoil == 1 ? model.seekExtra = 3 : model.seekFails = true);
            EXPECT_FALSE(seq.Skip(400, &moved));
            EXPECT_LE(moved, 400u);
        }
        EXPECT_EQ(seq.LastError(), kErrorInvalidData);
        bool ok = true;
        EXPECT_TRUE(Take(seq, 26, &ok).empty());
        EXPECT_FALSE(ok);
        EXPECT_FALSE(seq.Skip(1, &moved));
        EXPECT_EQ(moved, 0u);
    }
}

// BackupRead's page asks for a buffer larger than WIN32_STREAM_ID (24
// bytes): the model refuses 24 and takes 25, and the producer, whatever the
// engine asks of it, never asks the platform for less.
TEST(BackupApiSequence, NoRequestFallsUnderTheDocumentedMinimum) {
    for (uint32_t count : {0u, 1u, 20u, 24u, 25u, 26u}) {
        SCOPED_TRACE(count);
        BackupModel model({MemorySequence::Named(":a:$DATA", std::vector<uint8_t>(50, 1))}, kCrossing);
        std::vector<uint8_t> buf(count + 1);
        uint32_t n = 99;
        void* context = nullptr;
        const bool ok = model.Read(buf.data(), count, &n, false, false, &context);
        EXPECT_EQ(ok, count >= 25);
        EXPECT_EQ(model.ShortRequests(), count >= 25 ? 0 : 1);
        if (!ok) {
            EXPECT_EQ(model.LastError(), kErrorInvalidParameter);
            EXPECT_EQ(n, 0u);
        }
        model.Read(nullptr, 0, &n, true, false, &context);
    }
    BackupModel::Behaviour stepped[] = {kCrossing, {false, 0, 0, 0}, {true, 1, 0, 0}, {false, 7, 0, 0}};
    for (const BackupModel::Behaviour& b : stepped) {
        for (const UnitList& list : RealisticSequences()) {
            SCOPED_TRACE(b.Name() + " " + list.name);
            BackupModel model(list.units, b);
            {
                BackupApiSequence seq(model);
                NtfsStreamList records;
                EnumStreamsFromSequence(seq, &records);
                FreeStreamList(&records);
                // The engine's own small reads: 1, 2 and 6 bytes.
                for (uint32_t small : {1u, 2u, 6u}) Take(seq, small);
            }
            EXPECT_GT(model.ReadCalls(), 0);
            EXPECT_EQ(model.ShortRequests(), 0);
            EXPECT_EQ(model.ContextsReleased(), 1);
        }
    }
}

// Where BackupSeek will not move inside a sparse stream's blocks, the
// producer reads the bytes over: the walk reaches the streams after them,
// and a block larger than its buffer is read over in whole buffers.
TEST(BackupApiSequence, RefusedSeeksInSparseBlocksAreReadOver) {
    std::vector<Unit> units = {MemorySequence::Main({1})};
    std::vector<uint8_t> large(3 * BackupApiSequence::kReadBuffer + 5, 0x33);
    for (Unit& u : SparseStream(":sp:$DATA", {{0, {4, 5}}, {70000, large}})) units.push_back(u);
    units.push_back(MemorySequence::Named(":after:$DATA", {6, 7}));
    for (bool seekInSparse : {true, false}) {
        SCOPED_TRACE(seekInSparse);
        BackupModel::Behaviour b = kCrossing;
        b.seekInSparse = seekInSparse;
        BackupModel model(units, b);
        BackupApiSequence seq(model);
        NtfsStreamList list;
        ASSERT_EQ(EnumStreamsFromSequence(seq, &list), 2);
        EXPECT_EQ(list.front()->ullSize, 70000 + large.size());
        EXPECT_EQ(list.front()->byData[1], 5);
        EXPECT_EQ(list.back()->byData[1], 7);
        FreeStreamList(&list);
        EXPECT_EQ(seq.LastError(), 0u);
        const UnitSequence::UnitStats& block = model.Served()->Stats(3);
        EXPECT_EQ(block.dataBytesRead + block.bytesSkipped, 8 + large.size());
        EXPECT_EQ(block.bytesSkipped != 0, seekInSparse);
    }
    // Outside sparse data a seek that moves nothing is not papered over.
    BackupModel::Behaviour b = kCrossing;
    b.seekInSparse = false;
    BackupModel model({MemorySequence::Named(":a:$DATA", std::vector<uint8_t>(9000, 1))}, b);
    BackupApiSequence seq(model);
    EXPECT_EQ(Take(seq, 36).size(), 36u);
    uint64_t moved = 0;
    EXPECT_TRUE(seq.Skip(8999, &moved));
    EXPECT_EQ(model.Served()->Stats(0).bytesSkipped, 8999 - (BackupApiSequence::kReadBuffer - 36));
}

}  // namespace vestrel
