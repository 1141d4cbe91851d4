// Where the program's time goes beyond the file work: the main dialog runs on
// its own thread, and a second thread asks it for what a scan asks for, one
// synchronous request at a time, as the scan's worker does.
//   benchui costs [rows]   per-request costs: an empty round trip, a status
//        line entry, a result row (first 2,000 rows and the last 1,000 of
//        <rows>), printed in microseconds
//   benchui probe   a bare row insert painted per row and with the list's
//        redraw off, against a row as the scan adds it: what painting costs
//   benchui barerows <n>   the rows of "rows <n>" put straight into the list from
//        this thread (the list's own storage, for comparison)
//   benchui refill <n>   fills the list with <n> rows, empties it, three times,
//        then sends <n> status texts and <n> messages through the dialog:
//        the working set after each step (growth would be a leak)
//   benchui rows <n>   the peak working set and private memory of the dialog
//        holding <n> result rows
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "ScanDriver.h"
#include "VestrelDlg.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

double MicrosPer(Clock::time_point since, int n) {
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count() / n;
}

void AddRows(CVestrelDlg* dlg, int from, int to) {
    std::wstring path = L"C:\\bench\\folder\\file.dat";
    for (int i = from; i < to; ++i) AddResultRow(dlg->ScanSession(), L"stream" + std::to_wstring(i), 100u + i, path);
}

double MiB(SIZE_T bytes) { return double(bytes) / (1024.0 * 1024.0); }

double WorkingSetMiB() {
    PROCESS_MEMORY_COUNTERS m{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &m, sizeof(m));
    return MiB(m.WorkingSetSize);
}

// A row put straight into the list from this thread, without the scan's
// request: column 0, and columns 1 and 2 when given.
void InsertBareRow(HWND list, int row, std::wstring name, std::wstring size = L"", std::wstring path = L"") {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = &name[0];
    row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub{};
    if (!size.empty()) {
        sub.iSubItem = 1;
        sub.pszText = &size[0];
        ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    }
    if (!path.empty()) {
        sub.iSubItem = 2;
        sub.pszText = &path[0];
        ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    int rows = argc > 2 ? _wtoi(argv[2]) : 0;
    ModalDialog<CVestrelDlg> d([] { return new CVestrelDlg; });
    if (d.hwnd() == nullptr) return 1;
    ::Sleep(2000);  // past the title banner
    HWND status = d.item(IDC_STATIC_STATUS);
    HWND list = d.item(IDC_LIST_RESULT);
    if (status == nullptr || list == nullptr) {
        std::fprintf(stderr, "benchui: the main dialog did not open (is there a display?)\n");
        return 1;
    }
    const int n = 2000;
    if (mode == L"costs") {
        auto t = Clock::now();
        for (int i = 0; i < n; ++i) ::SendMessageW(d.hwnd(), WM_NULL, 0, 0);
        std::printf("round trip      %8.1f us\n", MicrosPer(t, n));
        t = Clock::now();
        for (int i = 0; i < n; ++i) {
            std::wstring text = L"C:\\bench\\folder\\entry" + std::to_wstring(i) + L".dat";
            ::SendMessageW(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        std::printf("status entry    %8.1f us\n", MicrosPer(t, n));
        t = Clock::now();
        AddRows(d.operator->(), 0, n);
        std::printf("row (0-%d)    %8.1f us\n", n, MicrosPer(t, n));
        if (rows > n + 1000) {
            AddRows(d.operator->(), n, rows - 1000);
            t = Clock::now();
            AddRows(d.operator->(), rows - 1000, rows);
            std::printf("row (last 1000 of %d) %8.1f us\n", rows, MicrosPer(t, 1000));
        }
        return 0;
    }
    if (mode == L"rows" && rows > 0) {
        PROCESS_MEMORY_COUNTERS_EX before{}, after{};
        ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&before),
                               sizeof(before));
        auto t = Clock::now();
        AddRows(d.operator->(), 0, rows);
        double s = MicrosPer(t, 1) / 1e6;
        ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&after),
                               sizeof(after));
        // Wine gives the working set from the kernel's resident set and
        // reports no private usage (0).
        std::printf("rows %d in %.1f s: working set %.1f MiB (%.1f before), peak %.1f MiB (%.1f before), "
                    "private %.1f MiB, page file %.1f MiB\n",
                    int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)), s, MiB(after.WorkingSetSize),
                    MiB(before.WorkingSetSize), MiB(after.PeakWorkingSetSize), MiB(before.PeakWorkingSetSize),
                    MiB(after.PrivateUsage), MiB(after.PagefileUsage));
        return 0;
    }
    if (mode == L"barerows" && rows > 0) {
        const double before = WorkingSetMiB();
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < rows; ++i)
            InsertBareRow(list, i, L"stream" + std::to_wstring(i), std::to_wstring(100 + i),
                          L"C:\\bench\\folder\\file.dat");
        std::printf("bare rows %d: working set %.1f MiB (%.1f before)\n", rows, WorkingSetMiB(), before);
        return 0;
    }
    if (mode == L"refill" && rows > 0) {
        for (int round = 0; round < 3; ++round) {
            AddRows(d.operator->(), 0, rows);
            std::printf("round %d full: %.1f MiB\n", round, WorkingSetMiB());
            ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
            std::printf("round %d empty: %.1f MiB\n", round, WorkingSetMiB());
        }
        for (int i = 0; i < rows; ++i) ::SendMessageW(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x"));
        std::printf("after status texts: %.1f MiB\n", WorkingSetMiB());
        for (int i = 0; i < rows; ++i) ::SendMessageW(d.hwnd(), WM_GETTEXTLENGTH, 0, 0);
        std::printf("after as many messages through the dialog: %.1f MiB\n", WorkingSetMiB());
        return 0;
    }
    if (mode == L"probe") {
        const int m = 300;
        auto bare = [&](const char* what) {
            ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
            auto t = Clock::now();
            for (int i = 0; i < m; ++i) InsertBareRow(list, i, L"stream");
            std::printf("%-34s %8.1f us\n", what, MicrosPer(t, m));
        };
        bare("bare insert, painted per row");
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        bare("bare insert, redraw off");
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        auto t = Clock::now();
        AddRows(d.operator->(), 0, m);
        std::printf("%-34s %8.1f us\n", "row as the scan adds it", MicrosPer(t, m));
        return 0;
    }
    std::fprintf(stderr, "usage: benchui costs [rows] | probe | barerows <n> | refill <n> | rows <n>\n");
    return 2;
}
