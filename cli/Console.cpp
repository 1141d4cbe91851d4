#include "Console.h"

#include <algorithm>

#include "Report.h"

namespace vestrel::cli {

Channel::Channel(DWORD stdHandle) : handle_(GetStdHandle(stdHandle)) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
}

void Channel::Text(const std::string& utf8) {
    if (!console_) {
        Bytes(utf8.data(), utf8.size());
        return;
    }
    const std::u16string wide = report::FromUtf8(utf8);
    size_t done = 0;
    while (ok_ && done < wide.size()) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<size_t>(wide.size() - done, 16384));
        if (!WriteConsoleW(handle_, reinterpret_cast<const wchar_t*>(wide.data()) + done, chunk, &n, nullptr) ||
            n == 0) {
            ok_ = false;
        }
        done += n;
    }
}

bool Channel::Bytes(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (ok_ && size != 0) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<size_t>(size, 1 << 20));
        if (!WriteFile(handle_, p, chunk, &n, nullptr) || n == 0) ok_ = false;
        p += n;
        size -= n;
    }
    return ok_;
}

Channel& Out() {
    static Channel channel(STD_OUTPUT_HANDLE);
    return channel;
}

Channel& Err() {
    static Channel channel(STD_ERROR_HANDLE);
    return channel;
}

std::wstring ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) LocalFree(text);
    for (wchar_t& c : out) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    while (!out.empty() && (out.back() == L' ' || out.back() == L'.')) out.pop_back();
    if (out.empty()) out = L"error " + std::to_wstring(error);
    return out;
}

}  // namespace vestrel::cli
