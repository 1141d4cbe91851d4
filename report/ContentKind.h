// What a stream holds, judged from its first bytes: the column an examiner
// filters on to find an executable hidden behind an innocent name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::report {

// How many leading bytes the judgement looks at.
constexpr size_t kKindProbeBytes = 4096;

// One of: pe, elf, script, archive, office, pdf, image, text, binary, empty.
// `head` is the start of the stream (up to kKindProbeBytes); `fullSize` its
// whole size (0 is "empty" whatever `head` holds).
std::string DetectKind(const std::string& head, uint64_t fullSize);

// Every kind, in the order above.
const std::vector<std::string>& AllKinds();

}  // namespace vestrel::report
