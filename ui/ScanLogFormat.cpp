#include "ScanLogFormat.h"

namespace {

const wchar_t kSeparator[] = L"----------------";
const wchar_t kLineEnd[] = L"\r\n";

void AppendUnit(std::string& out, unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

}  // namespace

std::wstring ScanLogHeader() {
    return ScanLogLine(L"NTFS数据流文件名", L"文件大小(字节)", L"文件路径");
}

std::wstring ScanLogLine(const std::wstring& strStreamName, const std::wstring& strStreamSize,
                         const std::wstring& strFilePath) {
    std::wstring line;
    line.reserve(strStreamName.size() + strStreamSize.size() + strFilePath.size() + 34);
    line += strStreamName;
    line += kSeparator;
    line += strStreamSize;
    line += kSeparator;
    line += strFilePath;
    line += kLineEnd;
    return line;
}

std::string ScanLogBytes(const std::wstring& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (wchar_t ch : text) {
        unsigned long cp = static_cast<unsigned long>(ch);
        if (sizeof(wchar_t) > 2 && cp > 0xFFFF && cp <= 0x10FFFF) {
            cp -= 0x10000;
            AppendUnit(out, 0xD800 + static_cast<unsigned>(cp >> 10));
            AppendUnit(out, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
        } else if (cp > 0xFFFF) {
            // Not a character at all: written as the replacement character
            // rather than cut to its low bits.
            AppendUnit(out, 0xFFFD);
        } else {
            AppendUnit(out, static_cast<unsigned>(cp));
        }
    }
    return out;
}

std::wstring ScanLogFilePath(const std::wstring& chosenPath) {
    static const std::wstring kEnding = L".txt";
    if (chosenPath.size() >= kEnding.size() &&
        chosenPath.compare(chosenPath.size() - kEnding.size(), kEnding.size(), kEnding) == 0) {
        return chosenPath;
    }
    return chosenPath + kEnding;
}

std::wstring StreamPathOf(const std::wstring& strFilePath, const std::wstring& strStreamName,
                          vestrel::StreamPlatform platform) {
    return vestrel::JoinStreamPath(strFilePath, strStreamName, platform);
}

bool NamesStream(const std::wstring& strFilePath, const std::wstring& strStreamName) {
    return !strFilePath.empty() && !strStreamName.empty();
}
