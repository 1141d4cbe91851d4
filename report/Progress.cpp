#include "Progress.h"

#include <utility>
#include <vector>

#include "Text.h"

namespace vestrel::report {
namespace {

// Terminal columns a code point takes: the East Asian wide and full-width
// blocks take two, everything else one.
unsigned ColumnsOf(uint32_t cp) {
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

std::string Progress::Tick(uint64_t nowMs, const std::u16string& folder) {
    ++entries_;
    if (!started_) {
        started_ = true;
        startMs_ = lastMs_ = nowMs;
        return {};
    }
    if (nowMs < lastMs_ + 100) return {};
    lastMs_ = nowMs;
    const uint64_t elapsed = nowMs - startMs_;
    const uint64_t rate = elapsed == 0 ? 0 : entries_ * 1000 / elapsed;
    std::string text = std::to_string(entries_) + " entries, " + std::to_string(rate) + "/s  ";

    // The folder's tail says more than its head: cut from the left.
    const unsigned room = width_ > text.size() ? unsigned(width_ - text.size()) : 0;
    std::vector<std::pair<uint32_t, unsigned>> points;
    unsigned columns = 0;
    text::ForEachCodePoint(folder, [&](uint32_t cp, bool lone) {
        if (lone || cp < 0x20 || cp == 0x7F) cp = '?';
        points.emplace_back(cp, ColumnsOf(cp));
        columns += ColumnsOf(cp);
    });
    size_t first = 0;
    if (columns > room) {
        const unsigned keep = room > 3 ? room - 3 : 0;
        while (first < points.size() && columns > keep) columns -= points[first++].second;
        if (room >= 3) text += "...";
    }
    // Padding is counted in columns, not bytes: a wide character is three
    // bytes of UTF-8 but two columns on the terminal.
    const size_t length = text.size() + columns;
    for (size_t i = first; i < points.size(); ++i) text::AppendUtf8(text, points[i].first);
    if (length < lastLength_) text += std::string(lastLength_ - length, ' ');
    lastLength_ = length;
    shown_ = true;
    return "\r" + text;
}

std::string Progress::Clear() {
    if (!shown_) return {};
    shown_ = false;
    const std::string blank = "\r" + std::string(lastLength_, ' ') + "\r";
    lastLength_ = 0;
    return blank;
}

}  // namespace vestrel::report
