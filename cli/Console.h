// Standard output and error of the console program: UTF-8 when redirected,
// the console's own wide output when on a console, so any name comes out
// intact either way.
#pragma once
#include <windows.h>

#include <string>

namespace vestrel::cli {

// The same UTF-16 units in the platform's and the portable string type.
inline std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

class Channel {
public:
    explicit Channel(DWORD stdHandle);
    bool IsConsole() const { return console_; }
    // UTF-8 text: converted to UTF-16 for a console, written as is otherwise.
    void Text(const std::string& utf8);
    // Bytes unchanged, whatever the channel is.
    bool Bytes(const void* data, size_t size);
    // False once a write failed (a closed pipe): the caller may stop early.
    bool Ok() const { return ok_; }

private:
    HANDLE handle_;
    bool console_ = false;
    bool ok_ = true;
};

Channel& Out();
Channel& Err();

// The platform's text for an error code, on one line.
std::wstring ErrorText(DWORD error);

}  // namespace vestrel::cli
