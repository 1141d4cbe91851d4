// The libyal libraries report errors as a chain of messages; the last one
// says what was wrong in the library's words. One line of it, for ours.
#pragma once
#include <string>

namespace vestrel::ntfs {

template <typename Error, typename Sprint, typename Free>
std::string TakeLibyalError(Error** error, Sprint sprint, Free release) {
    if (error == nullptr || *error == nullptr) return "";
    char text[2048] = {};
    sprint(*error, text, sizeof text);
    release(error);
    std::string all(text), line;
    // The last non-empty line is the outermost, most general message; the
    // first says what was actually found. Keep the first.
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        line = all.substr(start, end - start);
        while (!line.empty() && (line.back() == '.' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) break;
        start = end + 1;
    }
    return line;
}

}  // namespace vestrel::ntfs
