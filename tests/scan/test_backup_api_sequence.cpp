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
    BackupModel model({MemorySequence::Named(":name:$DATA", std::vector<uint8_t>(300, 1))}, kCrossing);
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
    EXPECT_EQ(Take(seq, 15).size(), 15u);  // the name's rest and the first data byte
    EXPECT_TRUE(seq.Skip(299, &moved));
    EXPECT_EQ(model.SeekCalls(), 1);
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
    EXPECT_EQ(model.Served()->Stats(1).dataBytesRead, 100u);
    EXPECT_EQ(model.Served()->Stats(1).bytesSkipped, huge - 100);
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
                      {true, 0, 0, 3});
    {
        BackupApiSequence seq(model);
        NtfsStreamList list;
        // Reads: header of a, its name's rest, its data (fails): a is kept, the walk ends.
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
        SpoiledModel model(units, kCrossing);
        BackupApiSequence seq(model);
        ASSERT_EQ(Take(seq, 36).size(), 36u);  // header, name and the first data byte
        uint64_t moved = 0;
        if (spoil == 0) {
            model.readExtra = 1;
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

}  // namespace vestrel
