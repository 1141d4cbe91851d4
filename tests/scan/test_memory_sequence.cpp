#include <gtest/gtest.h>

#include <vector>

#include "MemorySequence.h"

using vestrel::MemorySequence;

namespace {

std::vector<uint8_t> Take(MemorySequence& seq, uint32_t count, bool* ok = nullptr) {
    std::vector<uint8_t> buf(count, 0xEE);
    uint32_t n = 12345;
    const bool r = seq.Read(buf.data(), count, &n);
    if (ok) *ok = r;
    EXPECT_LE(n, count);
    buf.resize(n);
    return buf;
}

MemorySequence TwoStreams() {
    return MemorySequence::FromUnits({MemorySequence::Main({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
                                      MemorySequence::Named(":s", {0xA1, 0xA2, 0xA3})});
}

}  // namespace

TEST(MemorySequence, ReadStopsAtTheUnitEndAndResumesAtTheNextHeader) {
    auto seq = TwoStreams();
    const std::vector<uint8_t> first = Take(seq, 100);
    ASSERT_EQ(first.size(), 30u);  // header + 10 data bytes, nothing of unit 2
    EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.begin() + 20), MemorySequence::Header(1, 10, 0));
    EXPECT_EQ(first.back(), 10);

    const std::vector<uint8_t> second = Take(seq, 22);
    EXPECT_EQ(std::vector<uint8_t>(second.begin(), second.begin() + 20), MemorySequence::Header(4, 3, 4));
    EXPECT_EQ(second[20], ':');
    const std::vector<uint8_t> rest = Take(seq, 100);
    EXPECT_EQ(rest, (std::vector<uint8_t>{'s', 0, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(seq.Stats(1).dataBytesRead, 3u);
}

TEST(MemorySequence, EndOfSequenceIsASuccessfulZeroByteRead) {
    auto seq = TwoStreams();
    Take(seq, 100);
    Take(seq, 100);
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        EXPECT_TRUE(Take(seq, 26, &ok).empty());
        EXPECT_TRUE(ok);
    }
    uint64_t skipped = 7;
    EXPECT_FALSE(seq.Skip(1, &skipped));
    EXPECT_EQ(skipped, 0u);
}

TEST(MemorySequence, SkipStaysInsideTheCurrentUnit) {
    auto seq = TwoStreams();
    Take(seq, 22);  // header and two data bytes
    uint64_t skipped = 0;
    EXPECT_TRUE(seq.Skip(3, &skipped));
    EXPECT_EQ(skipped, 3u);
    EXPECT_EQ(Take(seq, 1), std::vector<uint8_t>{6});

    // Past the end: stops at the next header, reports what it moved, fails.
    EXPECT_FALSE(seq.Skip(50, &skipped));
    EXPECT_EQ(skipped, 4u);
    // Now at a header: nothing moves.
    EXPECT_FALSE(seq.Skip(1, &skipped));
    EXPECT_EQ(skipped, 0u);
    EXPECT_EQ(Take(seq, 20), MemorySequence::Header(4, 3, 4));

    // A skip that ends exactly at the unit's end succeeds.
    EXPECT_TRUE(seq.Skip(7, &skipped));
    EXPECT_EQ(skipped, 7u);
    bool ok = false;
    EXPECT_TRUE(Take(seq, 5, &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(MemorySequence, GeneratedStreamsAreServedLazily) {
    const uint64_t huge = (uint64_t(5) << 32) + 3;  // 20 GiB: allocating it would fail the test
    auto seq = MemorySequence::FromUnits({MemorySequence::NamedGenerated(":g", huge)});
    Take(seq, 24);
    uint64_t skipped = 0;
    ASSERT_TRUE(seq.Skip(huge - 2, &skipped));
    EXPECT_EQ(skipped, huge - 2);
    EXPECT_EQ(Take(seq, 10), (std::vector<uint8_t>{MemorySequence::GeneratedByte(huge - 2),
                                                   MemorySequence::GeneratedByte(huge - 1)}));
}

TEST(MemorySequence, RawBytesAreCutByTheirOwnHeaders) {
    std::vector<uint8_t> raw = MemorySequence::Header(4, 2, 4);
    for (uint8_t b : std::vector<uint8_t>{':', 0, 'x', 0, 0x11, 0x22}) raw.push_back(b);
    const std::vector<uint8_t> second = MemorySequence::Header(1, 100, 0);  // declares more than present
    raw.insert(raw.end(), second.begin(), second.end());
    raw.insert(raw.end(), {0x33, 0x44, 0x55});

    auto seq = MemorySequence::FromRaw(raw);
    ASSERT_EQ(seq.UnitCount(), 2u);
    EXPECT_EQ(Take(seq, 100).size(), 26u);
    EXPECT_EQ(Take(seq, 100).size(), 23u);  // the shortened last unit
    EXPECT_TRUE(Take(seq, 100).empty());

    auto partial = MemorySequence::FromRaw({1, 2, 3});
    ASSERT_EQ(partial.UnitCount(), 1u);
    EXPECT_EQ(Take(partial, 26), (std::vector<uint8_t>{1, 2, 3}));
}

// Data held shorter than declared reads as zeros past its end; a pattern
// unit's byte at each offset is the pattern's, whatever the read's split.
TEST(MemorySequence, HeldDataEndsInZerosAndPatternsFollowTheirOffsets) {
    MemorySequence::Unit shortData = MemorySequence::Main({1, 2, 3});
    shortData.dataSize = 5;
    MemorySequence::Unit pattern;
    pattern.dataSize = 600;
    pattern.pattern = true;
    pattern.seed = 9;
    auto seq = MemorySequence::FromUnits({shortData, pattern});
    EXPECT_EQ(Take(seq, 25), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                   1, 2, 3, 0, 0}));
    EXPECT_EQ(Take(seq, 21).back(), MemorySequence::PatternByte(0, 9));
    uint64_t moved = 0;
    EXPECT_TRUE(seq.Skip(254, &moved));
    const std::vector<uint8_t> mid = Take(seq, 3);
    ASSERT_EQ(mid.size(), 3u);
    for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(mid[i], MemorySequence::PatternByte(255 + i, 9)) << i;
    EXPECT_NE(MemorySequence::PatternByte(255, 9), MemorySequence::PatternByte(255, 8));
    const std::vector<uint8_t> tail = Take(seq, 1000);
    ASSERT_EQ(tail.size(), 600u - 258);
    EXPECT_EQ(tail.back(), MemorySequence::PatternByte(599, 9));
}
