#include "SequenceContract.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define VESTREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESTREL_ASAN 1
#endif
#endif
#ifndef VESTREL_ASAN
#define VESTREL_ASAN 0
#endif
#if VESTREL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace vestrel {
namespace {

const uint32_t kReadSizes[] = {1, 2, 3, 5, 6, 7, 19, 20, 21, 26, 27, 64, 100, 101, 4096};
const uint64_t kSkipSizes[] = {0, 1, 2, 5, 6, 94, 100, 1000, uint64_t(1) << 32, (uint64_t(1) << 32) + 5,
                               UINT64_MAX};
constexpr uint32_t kDrainRead = 4096;
constexpr uint8_t kUnwritten = 0xEE;

SequenceStep StepOf(uint8_t kind, uint8_t size) {
    SequenceStep s;
    s.skip = kind % 5 >= 3;  // about two reads a skip
    if (s.skip) {
        s.count = kSkipSizes[size % (sizeof kSkipSizes / sizeof kSkipSizes[0])];
    } else {
        s.count = kReadSizes[size % (sizeof kReadSizes / sizeof kReadSizes[0])];
    }
    return s;
}

std::string Describe(size_t step, const SequenceStep& s, const std::string& what) {
    return "step " + std::to_string(step) + " (" + (s.skip ? "skip " : "read ") + std::to_string(s.count) +
           "): " + what;
}

// Where ASan runs, bytes around the subject's buffer are poisoned, so a
// write past it is caught as it would be past an allocation of its own.
void Poison(const uint8_t* at, size_t n, bool poisoned = true) {
#if VESTREL_ASAN
    if (poisoned) __asan_poison_memory_region(at, n);
    else __asan_unpoison_memory_region(at, n);
#else
    (void)at, (void)n, (void)poisoned;
#endif
}

std::string CheckRead(IBackupSequence& subject, MemorySequence& ref, uint32_t count) {
    // The subject gets `count` bytes and a margin that must stay unwritten,
    // inside one reused block poisoned on both sides: no allocation per read,
    // which was most of a fuzz input's time. Larger reads get their own.
    constexpr size_t kLead = 64, kMargin = 16;
    static std::vector<uint8_t> block(kLead + 4096 + kMargin + kLead);
    std::vector<uint8_t> own;
    const size_t span = size_t(count) + kMargin;
    uint8_t* got = block.data() + kLead;
    Poison(block.data(), block.size(), false);
    if (kLead + span <= block.size()) {
        Poison(block.data(), kLead);
        Poison(got + span, block.size() - kLead - span);
    } else {
        own.resize(span);
        got = own.data();
    }
    std::memset(got, kUnwritten, span);
    static std::vector<uint8_t> want;
    if (want.size() < count) want.resize(count);
    uint32_t n = 0xDEAD, wn = 0;
    const bool ok = subject.Read(got, count, &n);
    const bool wok = ref.Read(want.data(), count, &wn);
    if (ok != wok) return "read answered " + std::to_string(ok) + ", expected " + std::to_string(wok);
    if (n != wn) return "read " + std::to_string(n) + " bytes, expected " + std::to_string(wn);
    if (std::memcmp(got, want.data(), n) != 0) return "read other bytes than the sequence holds";
    // Compared in one piece: a byte loop here is most of a fuzz input's time.
    static const std::vector<uint8_t> unwritten(size_t(UINT16_MAX) + 1, kUnwritten);
    for (size_t at = n; at < span;) {
        const size_t k = std::min(span - at, unwritten.size());
        if (std::memcmp(got + at, unwritten.data(), k) != 0) {
            return "wrote past the " + std::to_string(n) + " bytes it reported";
        }
        at += k;
    }
    return "";
}

std::string CheckSkip(IBackupSequence& subject, MemorySequence& ref, uint64_t count, bool refusesSkipBeforeData) {
    const bool beforeData = ref.BeforeData();
    uint64_t m = 0xDEAD;
    const bool ok = subject.Skip(count, &m);
    if (m > count) return "moved " + std::to_string(m) + ", more than asked";
    if (ok != (m == count)) return "answered " + std::to_string(ok) + " having moved " + std::to_string(m);
    if (beforeData && refusesSkipBeforeData && count != 0) {
        if (ok || m != 0) return "moved " + std::to_string(m) + " before a unit's data";
        return "";
    }
    uint64_t wm = 0;
    const bool wok = ref.Skip(count, &wm);
    if (ok != wok || m != wm) {
        return "moved " + std::to_string(m) + " (" + std::to_string(ok) + "), expected " + std::to_string(wm) +
               " (" + std::to_string(wok) + ")";
    }
    return "";
}

}  // namespace

std::vector<SequenceStep> StepsFromSeed(uint32_t seed, size_t length) {
    std::vector<SequenceStep> steps;
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        steps.push_back(StepOf(uint8_t(x), uint8_t(x >> 8)));
    }
    return steps;
}

std::vector<SequenceStep> StepsFromBytes(const uint8_t* data, size_t size) {
    std::vector<SequenceStep> steps;
    steps.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) steps.push_back(StepOf(data[i], data[i + 1]));
    return steps;
}

std::vector<SequenceStep> WalkSteps(size_t units) {
    std::vector<SequenceStep> steps;
    for (size_t i = 0; i < units; ++i) {
        steps.push_back({false, kStreamHeaderSize + 6});
        steps.push_back({true, UINT64_MAX});
    }
    return steps;
}

std::string CheckSequenceContract(IBackupSequence& subject, const std::vector<MemorySequence::Unit>& units,
                                  const std::vector<SequenceStep>& steps, bool refusesSkipBeforeData) {
    MemorySequence ref = MemorySequence::FromUnits(units);
    for (size_t i = 0; i < steps.size(); ++i) {
        const SequenceStep& s = steps[i];
        const std::string broke = s.skip ? CheckSkip(subject, ref, s.count, refusesSkipBeforeData)
                                         : CheckRead(subject, ref, uint32_t(s.count));
        if (!broke.empty()) return Describe(i, s, broke);
    }
    // Drain: whole reads through headers and names, skips over data, so
    // that a stream of many GiB costs one call.
    for (size_t i = steps.size(), end = 0; end < 2; ++i) {
        const bool inData = !ref.BeforeData();
        const SequenceStep s{inData, inData ? UINT64_MAX : kDrainRead};
        const bool atEnd = ref.AtEnd();
        const std::string broke = s.skip ? CheckSkip(subject, ref, s.count, refusesSkipBeforeData)
                                         : CheckRead(subject, ref, uint32_t(s.count));
        if (!broke.empty()) return Describe(i, s, "draining: " + broke);
        if (atEnd) ++end;
    }
    const std::string broke = CheckSkip(subject, ref, 1, refusesSkipBeforeData);
    if (!broke.empty()) return "past the end: " + broke;
    return "";
}

}  // namespace vestrel
