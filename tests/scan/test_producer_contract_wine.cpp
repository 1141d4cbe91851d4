// The contract suite over the sibling-file producer, which runs only where
// the platform keeps a stream written as "a.txt:s" as a file of that name.
#include <windows.h>

#include <algorithm>
#include <string>

#include "ProducerContract.h"
#include "WinSequences.h"

namespace vestrel {
namespace {

using Unit = MemorySequence::Unit;

void WriteWhole(const std::wstring& path, const std::vector<uint8_t>& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD n = 0;
    if (!data.empty()) {
        EXPECT_TRUE(WriteFile(h, data.data(), DWORD(data.size()), &n, nullptr));
    }
    CloseHandle(h);
}

// ":name:$DATA" as UTF-16LE bytes -> "name"; empty when it is not of that form.
std::wstring BareName(const std::vector<uint8_t>& raw) {
    std::wstring s;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) s.push_back(wchar_t(raw[i] | raw[i + 1] << 8));
    const std::wstring suffix = L":$DATA";
    if (s.size() <= 1 + suffix.size() || s[0] != L':' || s.compare(s.size() - suffix.size(), suffix.size(), suffix) != 0)
        return L"";
    return s.substr(1, s.size() - 1 - suffix.size());
}

// A file written with the list's main data and named streams, read back
// through the sibling producer.
struct SiblingProducer : Producer {
    SiblingProducer() {
        static int serial = 0;
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = std::wstring(tmp) + L"vestrel_contract_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              std::to_wstring(++serial);
        CreateDirectoryW(dir.c_str(), nullptr);
        path = dir + L"\\f.bin";
    }
    ~SiblingProducer() override {
        seq.reset();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        for (const std::wstring& n : names) DeleteFileW((path + L":" + n).c_str());
        DeleteFileW(path.c_str());
        RemoveDirectoryW(dir.c_str());
    }
    IBackupSequence& Sequence() override { return *seq; }

    std::wstring dir, path;
    std::vector<std::wstring> names;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::unique_ptr<SiblingSequence> seq;
};

std::unique_ptr<Producer> MakeSibling(const UnitList& list) {
    const std::vector<Unit> units = ServedUnits(list.units, false);
    if (units.empty() || units[0].id != kBackupData || units[0].attributes != 0 || units[0].generator) return nullptr;
    std::vector<std::pair<std::wstring, Unit>> named;
    for (size_t i = 1; i < units.size(); ++i) {
        const std::wstring name = BareName(units[i].name);
        if (units[i].id != kBackupAlternateData || units[i].generator || name.empty()) return nullptr;
        named.push_back({name, units[i]});
    }
    // The producer lists the siblings by name, ascending.
    std::sort(named.begin(), named.end(),
              [](const std::pair<std::wstring, Unit>& a, const std::pair<std::wstring, Unit>& b) { return a.first < b.first; });

    std::unique_ptr<SiblingProducer> p(new SiblingProducer);
    WriteWhole(p->path, units[0].data);
    p->expected.push_back(units[0]);
    for (const auto& n : named) {
        WriteWhole(p->path + L":" + n.first, n.second.data);
        p->names.push_back(n.first);
        p->expected.push_back(n.second);
    }
    p->file = CreateFileW(p->path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (p->file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << GetLastError();
        return nullptr;
    }
    p->seq.reset(new SiblingSequence(p->file, p->path));
    return std::unique_ptr<Producer>(p.release());
}

std::vector<ProducerKind> FileProducerKinds() { return {{"Siblings", false, MakeSibling}}; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Files, SequenceContract, ::testing::ValuesIn(FileProducerKinds()), KindName);

}  // namespace vestrel
