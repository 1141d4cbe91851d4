// The update launch with the real program and real updater processes: each
// case runs copies in a fresh folder, observes the About button from outside
// (caption and screen pixels) and the web browser through a recording
// handler registered for http addresses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinTestSupport.h"

using namespace testing_support;

namespace {

const wchar_t kTemplateCaption[] = L"关      于";
const wchar_t kNoticeCaption[] = L"\x3000关\x3000于\x3000";
const char kToolsPage[] = "\"http:\\\\tools.korvane.example\\Q00000019\"";
const char kManifestUpdate[] = "[Q00000019]\r\nlatest=v1.3\r\nurgent=0\r\n";
const char kManifestUrgent[] = "[Q00000019]\r\nlatest=v1.10\r\nurgent=1\r\n";
const char kManifestCurrent[] = "; up to date\r\n[Q00000019]\r\nlatest=v1.2\r\nurgent=1\r\n";
const int kAboutButton = 1011;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::string Narrow(const std::wstring& w) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

bool Copy(const wchar_t* from, const std::wstring& to) { return ::CopyFileW(from, to.c_str(), FALSE) != 0; }

// The web browser: Wine's shell runs the command registered for the http
// scheme under HKLM\Software\Classes; this points it at a recording program
// for the life of the object and puts the previous command back afterwards.
class PageRecorder {
public:
    PageRecorder() {
        m_browser = m_dir / L"browser.exe";
        EXPECT_TRUE(Copy(PAGE_RECORDER_EXE, m_browser));
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                                    nullptr), ERROR_SUCCESS);
        wchar_t old[2048] = {};
        DWORD bytes = sizeof(old) - sizeof(wchar_t);
        DWORD type = 0;
        m_hadOld = ::RegQueryValueExW(m_key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &bytes) ==
                   ERROR_SUCCESS;
        m_old = old;
        m_oldType = type;
        SetCommand(L"\"" + m_browser + L"\" \"%1\"");
    }
    ~PageRecorder() {
        if (m_hadOld) {
            ::RegSetValueExW(m_key, nullptr, 0, m_oldType, reinterpret_cast<const BYTE*>(m_old.c_str()),
                             static_cast<DWORD>((m_old.size() + 1) * sizeof(wchar_t)));
        } else {
            ::RegDeleteValueW(m_key, nullptr);
        }
        ::RegCloseKey(m_key);
    }
    std::vector<std::string> Pages() const { return Lines(ReadBytes(m_dir / L"opened-pages.txt")); }
    // The line the recorder writes when the tools page is opened.
    std::string ToolsPageLine() const { return "\"" + Narrow(m_browser) + "\" " + kToolsPage; }

private:
    void SetCommand(const std::wstring& command) {
        ::RegSetValueExW(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                         static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    static constexpr const wchar_t* kKey = L"Software\\Classes\\http\\shell\\open\\command";
    TempDir m_dir;
    std::wstring m_browser;
    HKEY m_key = nullptr;
    bool m_hadOld = false;
    std::wstring m_old;
    DWORD m_oldType = REG_SZ;
};

// The environment of this process with PATH replaced (a block for
// CreateProcessW with CREATE_UNICODE_ENVIRONMENT).
std::wstring EnvironmentWithPath(const std::wstring& path) {
    std::wstring block;
    wchar_t* env = ::GetEnvironmentStringsW();
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"PATH=", 5) == 0) continue;
        block += p;
        block += L'\0';
    }
    ::FreeEnvironmentStringsW(env);
    block += L"PATH=" + path;
    block += L'\0';
    return block;
}

std::wstring CurrentPath() {
    wchar_t buf[32767];
    DWORD n = ::GetEnvironmentVariableW(L"PATH", buf, 32767);
    return std::wstring(buf, n < 32767 ? n : 0);
}

struct FindData {
    DWORD pid;
    HWND except;
    HWND found;
};

// Window enumeration callbacks are stdcall on 32-bit Windows: plain
// functions, not lambdas.
BOOL CALLBACK FindDialogVisit(HWND w, LPARAM lp) {
    auto* d = reinterpret_cast<FindData*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    wchar_t cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    if (owner == d->pid && w != d->except && ::IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0) {
        d->found = w;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog window of the process other than `except`.
HWND FindDialog(DWORD pid, HWND except) {
    FindData data{pid, except, nullptr};
    ::EnumWindows(FindDialogVisit, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

BOOL CALLBACK CountVisit(HWND w, LPARAM lp) {
    auto* d = reinterpret_cast<std::pair<DWORD, int>*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    if (owner == d->first && ::IsWindowVisible(w)) ++d->second;
    return TRUE;
}

int CountVisibleWindows(DWORD pid) {
    std::pair<DWORD, int> data{pid, 0};
    ::EnumWindows(CountVisit, reinterpret_cast<LPARAM>(&data));
    return data.second;
}

std::wstring TextOf(HWND w) {
    wchar_t buf[256] = {};
    DWORD_PTR got = 0;
    ::SendMessageTimeoutW(w, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 3000, &got);
    return buf;
}

// The screen under a window, as 32-bit pixels read back in one piece.
std::vector<DWORD> ScreenPixels(HWND w, int* width, int* height) {
    RECT r;
    ::GetWindowRect(w, &r);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    std::vector<DWORD> pixels(static_cast<size_t>(*width) * static_cast<size_t>(*height));
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), *width, -*height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, dib);
    ::BitBlt(mem, 0, 0, *width, *height, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
    ::SelectObject(mem, old);
    ::DeleteObject(dib);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

// Pixels of the update picture's red lettering on the button; the button's
// own face (grey, black caption) has none.
int RedPixels(HWND button) {
    int w = 0, h = 0;
    int red = 0;
    for (DWORD p : ScreenPixels(button, &w, &h)) {
        int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        if (r > 150 && g < 110 && b < 110) ++red;
    }
    return red;
}

// One run of the program; ended through its window (the program is single
// instance, so the next case needs this one gone).
class Program {
public:
    explicit Program(const std::wstring& exe, const std::wstring& workDir = L"", const std::wstring* env = nullptr) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        std::wstring cmd = L"\"" + exe + L"\"";
        std::vector<wchar_t> line(cmd.begin(), cmd.end());
        line.push_back(L'\0');
        EXPECT_TRUE(::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE,
                                     env ? CREATE_UNICODE_ENVIRONMENT : 0,
                                     env ? const_cast<wchar_t*>(env->c_str()) : nullptr,
                                     workDir.empty() ? nullptr : workDir.c_str(), &si, &m_pi))
            << Narrow(exe);
        WaitUntil([this] { return (m_main = FindDialog(m_pi.dwProcessId, nullptr)) != nullptr; }, 20000);
        EXPECT_NE(m_main, nullptr) << "no main window";
    }
    ~Program() {
        if (m_pi.hProcess == nullptr) return;
        if (m_main) ::PostMessageW(m_main, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(m_pi.hProcess, 15000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the program did not end on WM_CLOSE";
            ::TerminateProcess(m_pi.hProcess, 1);
            ::WaitForSingleObject(m_pi.hProcess, 5000);
        }
        ::CloseHandle(m_pi.hThread);
        ::CloseHandle(m_pi.hProcess);
    }
    HWND main() const { return m_main; }
    HWND aboutButton() const { return ::GetDlgItem(m_main, kAboutButton); }
    std::wstring aboutCaption() const { return TextOf(aboutButton()); }

    // Opens the About box as the button's click does; its window, or null.
    HWND OpenAbout() {
        ::PostMessageW(m_main, WM_COMMAND, MAKEWPARAM(kAboutButton, BN_CLICKED),
                       reinterpret_cast<LPARAM>(aboutButton()));
        HWND about = nullptr;
        WaitUntil([&] { return (about = FindDialog(m_pi.dwProcessId, m_main)) != nullptr; }, 10000);
        return about;
    }
    // Closes it with OK or with the Escape key; true once it is gone.
    bool CloseAbout(HWND about, bool escape) {
        HWND ok = ::GetDlgItem(about, IDOK);
        if (escape) {
            ::PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            ::PostMessageW(ok, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        } else {
            ::PostMessageW(ok, BM_CLICK, 0, 0);
        }
        return WaitUntil([&] { return !::IsWindow(about); }, 10000);
    }
    DWORD pid() const { return m_pi.dwProcessId; }

private:
    PROCESS_INFORMATION m_pi{};
    HWND m_main = nullptr;
};

struct Sample {
    ULONGLONG ms;
    std::wstring caption;
    bool picture;
};

// Watches the About button for `ms` milliseconds.
std::vector<Sample> Watch(const Program& p, int ms) {
    std::vector<Sample> samples;
    ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < static_cast<ULONGLONG>(ms)) {
        samples.push_back({::GetTickCount64() - start, p.aboutCaption(), RedPixels(p.aboutButton()) > 20});
        ::Sleep(25);
    }
    return samples;
}

// Start times of the runs during which the picture was on the button.
std::vector<ULONGLONG> PictureRuns(const std::vector<Sample>& samples) {
    std::vector<ULONGLONG> runs;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].picture && (i == 0 || !samples[i - 1].picture)) runs.push_back(samples[i].ms);
    }
    return runs;
}

void ExpectAlternation(const std::vector<Sample>& samples) {
    std::vector<ULONGLONG> runs = PictureRuns(samples);
    ASSERT_GE(runs.size(), 2u) << "the update picture did not come and go";
    for (size_t i = 1; i < runs.size(); ++i) {
        ULONGLONG period = runs[i] - runs[i - 1];
        EXPECT_GE(period, 700u);  // picture 500 ms, caption 500 ms
        EXPECT_LE(period, 1500u);
    }
    size_t off = 0;
    for (const Sample& s : samples) {
        EXPECT_EQ(s.caption, kNoticeCaption);
        if (!s.picture) ++off;
    }
    EXPECT_GT(off, samples.size() / 4) << "the caption steps were not seen";
}

void ExpectQuietButton(const std::vector<Sample>& samples, const std::wstring& caption) {
    for (const Sample& s : samples) {
        EXPECT_EQ(s.caption, caption) << s.ms;
        EXPECT_FALSE(s.picture) << s.ms;
    }
}

// A folder with the program and, where the case needs them, an updater and
// its manifest.
struct Sandbox {
    TempDir dir;
    std::wstring exe;
    explicit Sandbox(const wchar_t* updater = nullptr, const char* manifest = nullptr,
                     const std::wstring& programName = L"vestrel.exe") {
        exe = dir / programName;
        EXPECT_TRUE(Copy(VESTREL_EXE, exe));
        if (updater) {
            EXPECT_TRUE(Copy(updater, dir / L"korvaneupdate.exe"));
        }
        if (manifest) {
            EXPECT_TRUE(WriteBytes(dir / L"korvaneupdate.ini", manifest));
        }
    }
    std::vector<std::string> UpdaterCalls() const { return Lines(ReadBytes(dir / L"updater-calls.txt")); }
};

std::vector<std::string> WaitForCalls(const Sandbox& box, int ms) {
    WaitUntil([&] { return !box.UpdaterCalls().empty(); }, ms);
    ::Sleep(300);
    return box.UpdaterCalls();
}

}  // namespace

// --- Notice (exit code 100) ------------------------------------------------

class UpdateNotice : public ::testing::TestWithParam<bool> {};

TEST_P(UpdateNotice, ButtonAlternatesUntilTheAboutBoxClosesThenThePageOpensOnce) {
    const bool escape = GetParam();
    PageRecorder browser;
    Sandbox box(UPDATER_EXE, kManifestUpdate);
    Program p(box.exe);
    ASSERT_NE(p.main(), nullptr);

    ASSERT_TRUE(WaitUntil([&] { return p.aboutCaption() == kNoticeCaption; }, 15000))
        << "the notice did not start";
    std::vector<Sample> seen = Watch(p, 3000);
    ExpectAlternation(seen);
    EXPECT_TRUE(browser.Pages().empty());

    HWND about = p.OpenAbout();
    ASSERT_NE(about, nullptr);
    // The notice goes on while the box is open.
    std::vector<ULONGLONG> runs = PictureRuns(Watch(p, 1600));
    EXPECT_GE(runs.size(), 1u);
    EXPECT_TRUE(browser.Pages().empty());
    ASSERT_TRUE(p.CloseAbout(about, escape));

    ASSERT_TRUE(WaitUntil([&] { return !browser.Pages().empty(); }, 10000)) << "no page opened";
    ::Sleep(500);
    EXPECT_EQ(browser.Pages(), std::vector<std::string>{browser.ToolsPageLine()});
    ::Sleep(700);  // a tick that was due would have come by now
    ExpectQuietButton(Watch(p, 1500), kNoticeCaption);

    about = p.OpenAbout();
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(p.CloseAbout(about, !escape));
    ::Sleep(2000);
    EXPECT_EQ(browser.Pages().size(), 1u) << "the second close opened a page";
    EXPECT_EQ(p.aboutCaption(), kNoticeCaption);
}

INSTANTIATE_TEST_SUITE_P(ClosedWith, UpdateNotice, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Escape" : "Ok");
                         });

// --- Other answers of the updater ------------------------------------------

TEST(UpdateAnswer, UrgentOpensThePageAtOnceAndNothingMore) {
    PageRecorder browser;
    Sandbox box(UPDATER_EXE, kManifestUrgent);
    Program p(box.exe);
    ASSERT_NE(p.main(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !browser.Pages().empty(); }, 15000)) << "no page opened";
    ExpectQuietButton(Watch(p, 2000), kTemplateCaption);
    HWND about = p.OpenAbout();
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(p.CloseAbout(about, false));
    ::Sleep(2000);
    EXPECT_EQ(browser.Pages(), std::vector<std::string>{browser.ToolsPageLine()});
    EXPECT_EQ(p.aboutCaption(), kTemplateCaption);
}

TEST(UpdateAnswer, NothingToDoNoUpdaterOrNoManifestChangeNothing) {
    PageRecorder browser;
    struct Case { const char* name; const wchar_t* updater; const char* manifest; };
    const Case cases[] = {
        {"up to date (exit 0)", UPDATER_EXE, kManifestCurrent},
        {"no manifest (exit 0)", UPDATER_EXE, nullptr},
        {"no updater", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box(c.updater, c.manifest);
        Program p(box.exe);
        ASSERT_NE(p.main(), nullptr);
        ExpectQuietButton(Watch(p, 3000), kTemplateCaption);
        EXPECT_EQ(CountVisibleWindows(p.pid()), 1) << "a message box or other window appeared";
        HWND about = p.OpenAbout();
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(p.CloseAbout(about, false));
        ::Sleep(1500);
        EXPECT_EQ(p.aboutCaption(), kTemplateCaption);
        EXPECT_TRUE(browser.Pages().empty());
    }
}

// --- What the updater receives, and which updater runs ---------------------

TEST(UpdaterCall, ReceivesCatalogueCodeVersionAndTheUnquotedProgramFileName) {
    for (const wchar_t* name : {L"vestrel.exe", L"my tool.exe"}) {
        Sandbox box(RECORDING_UPDATER_EXE, nullptr, name);
        Program p(box.exe);
        ASSERT_NE(p.main(), nullptr);
        EXPECT_EQ(WaitForCalls(box, 10000),
                  std::vector<std::string>{"korvaneupdate.exe Q00000019 v1.2 " + Narrow(name)});
    }
}

TEST(UpdaterCall, ALongProgramNameRunsTheUpdaterOnlyIfTheCommandLineFits) {
    // A short folder, so that the name and not the path reaches the limit:
    // 33 characters of fixed text + the name + the null must fit in 260.
    const std::wstring dir = L"C:\\vtu";
    RemoveTree(dir);
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    for (size_t nameChars : {226u, 227u}) {
        std::wstring name = std::wstring(nameChars - 4, L'n') + L".exe";
        std::wstring exe = dir + L"\\" + name;
        ASSERT_TRUE(Copy(VESTREL_EXE, exe));
        ASSERT_TRUE(Copy(RECORDING_UPDATER_EXE, dir + L"\\korvaneupdate.exe"));
        ::DeleteFileW((dir + L"\\updater-calls.txt").c_str());
        {
            Program p(exe);
            ASSERT_NE(p.main(), nullptr);
            WaitUntil([&] { return Exists(dir + L"\\updater-calls.txt"); }, 5000);
        }
        std::vector<std::string> calls = Lines(ReadBytes(dir + L"\\updater-calls.txt"));
        if (nameChars == 226) {
            EXPECT_EQ(calls, std::vector<std::string>{"korvaneupdate.exe Q00000019 v1.2 " + Narrow(name)});
        } else {
            EXPECT_TRUE(calls.empty()) << "started with a command line that does not fit";
        }
        ::DeleteFileW(exe.c_str());
    }
    RemoveTree(dir);
}

TEST(UpdaterCall, APlantedUpdaterInTheCurrentDirectoryIsNeverRun) {
    Sandbox planted(RECORDING_UPDATER_EXE);  // the current directory
    Sandbox onPath(RECORDING_UPDATER_EXE);   // a folder on the search path
    const std::wstring path = CurrentPath();

    {
        SCOPED_TRACE("no other updater; '.' and empty entries on PATH");
        Sandbox program;
        std::wstring env = EnvironmentWithPath(L".;;" + path);
        Program p(program.exe, planted.dir.path(), &env);
        ASSERT_NE(p.main(), nullptr);
        ::Sleep(3000);
        EXPECT_TRUE(planted.UpdaterCalls().empty());
        EXPECT_EQ(p.aboutCaption(), kTemplateCaption);
    }
    {
        SCOPED_TRACE("an updater on PATH is found, the planted one still not run");
        Sandbox program;
        std::wstring env = EnvironmentWithPath(L".;" + onPath.dir.path() + L";" + path);
        Program p(program.exe, planted.dir.path(), &env);
        ASSERT_NE(p.main(), nullptr);
        EXPECT_EQ(WaitForCalls(onPath, 10000).size(), 1u);
        EXPECT_TRUE(planted.UpdaterCalls().empty());
    }
    {
        SCOPED_TRACE("the updater beside the program comes first");
        Sandbox program(RECORDING_UPDATER_EXE);
        ::DeleteFileW((onPath.dir / L"updater-calls.txt").c_str());
        std::wstring env = EnvironmentWithPath(onPath.dir.path() + L";" + path);
        Program p(program.exe, planted.dir.path(), &env);
        ASSERT_NE(p.main(), nullptr);
        EXPECT_EQ(WaitForCalls(program, 10000).size(), 1u);
        EXPECT_TRUE(onPath.UpdaterCalls().empty());
        EXPECT_TRUE(planted.UpdaterCalls().empty());
    }
}

// --- The updater program by itself ------------------------------------------

TEST(UpdaterProgram, AnswersFromTheManifestBesideItself) {
    struct Case { const char* manifest; const wchar_t* args; DWORD code; };
    const Case cases[] = {
        {kManifestUpdate, L"Q00000019 v1.2 vestrel.exe", 100},
        {kManifestUpdate, L"Q00000019 v1.2 my tool.exe", 100},
        {kManifestUrgent, L"Q00000019 v1.9 vestrel.exe", 101},
        {kManifestUrgent, L"Q00000019 v1.10 vestrel.exe", 0},
        {kManifestCurrent, L"Q00000019 v1.2 vestrel.exe", 0},
        {kManifestUpdate, L"Q00000020 v1.2 vestrel.exe", 0},
        {kManifestUpdate, L"Q00000019 v1.2", 0},
        {kManifestUpdate, L"Q00000019 latest vestrel.exe", 0},
        {"[Q00000019]\nlatest=v1.3\nurgent=maybe\n", L"Q00000019 v1.2 vestrel.exe", 0},
        {nullptr, L"Q00000019 v1.2 vestrel.exe", 0},
    };
    for (const Case& c : cases) {
        Sandbox box(UPDATER_EXE, c.manifest);
        std::wstring line = L"korvaneupdate.exe " + std::wstring(c.args);
        std::vector<wchar_t> buf(line.begin(), line.end());
        buf.push_back(L'\0');
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        std::wstring exe = box.dir / L"korvaneupdate.exe";
        ASSERT_TRUE(::CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        ASSERT_EQ(::WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
        DWORD code = 1;
        ::GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, c.code) << Narrow(c.args) << " / " << (c.manifest ? c.manifest : "(no manifest)");
        EXPECT_EQ(CountVisibleWindows(pi.dwProcessId), 0);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
}
