// The live status line on a terminal while a walk runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vestrel::report {

// At most one update per 100 ms, entries per second and the current folder,
// cut to `width` columns.
class Progress {
public:
    explicit Progress(unsigned width = 79) : width_(width) {}
    // Counts one entry at `nowMs` (any monotonic clock). Returns the line to
    // show ("\r" + text, padded over the last one) when an update is due,
    // else an empty string.
    std::string Tick(uint64_t nowMs, const std::u16string& folder);
    // Clears the line at the end ("\r" + spaces + "\r"), or "" if none shown.
    std::string Clear();
    uint64_t Entries() const { return entries_; }

private:
    unsigned width_;
    uint64_t entries_ = 0;
    uint64_t startMs_ = 0, lastMs_ = 0;
    bool started_ = false, shown_ = false;
    size_t lastLength_ = 0;
};

}  // namespace vestrel::report
