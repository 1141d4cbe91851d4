// The context menu and the check and delete commands, on real files whose
// streams were written through their stream paths.
#include <gtest/gtest.h>

#include <algorithm>

#include "ActionTestSupport.h"
#include "resource.h"

using namespace action_tests;
using namespace testing_support;

namespace {

void WriteStream(const std::wstring& file, const std::wstring& stream, const std::string& data) {
    ASSERT_TRUE(WriteBytes(file + L":" + stream, data));
}

bool StreamExists(const Row& row) { return Exists(row.path + L":" + row.name); }

const UINT kCommands[] = {ID_VIEW_STREAM, ID_CHECK_ALL, ID_UNCHECK_ALL,
                          ID_DELETE_SELECTED, ID_DELETE_ALL, ID_SAVE_SCAN_LOG};

// Gray (true) or enabled (false) for each of the six commands.
std::vector<bool> Grayed(const MainDialog& d) {
    std::vector<bool> out;
    for (UINT id : kCommands)
        out.push_back((::GetMenuState(d->m_menuContext.m_hMenu, id, MF_BYCOMMAND) & MF_GRAYED) != 0);
    return out;
}

// Four files, each with main content and one stream.
struct FourStreams {
    TempDir dir;
    FourStreams() {
        for (int i = 0; i < 4; ++i) {
            std::wstring file = dir / (L"f" + std::to_wstring(i) + L".txt");
            EXPECT_TRUE(WriteBytes(file, "main " + std::to_string(i)));
            WriteStream(file, L"s" + std::to_wstring(i), "stream " + std::to_string(i));
        }
    }
    void ExpectMainContentIntact() const {
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ReadBytes(dir / (L"f" + std::to_wstring(i) + L".txt")), "main " + std::to_string(i)) << i;
    }
};

// A dialog and the four files; Scan() lists them in it, `rows` as the scan
// did. A case that makes rows of its own uses the dialog alone.
class FourStreamsDialog : public ::testing::Test {
protected:
    void Scan() {
        ASSERT_TRUE(ScanFolder(d, files.dir.path()));
        rows = Rows(d.list());
        ASSERT_EQ(rows.size(), 4u);
    }
    FourStreams files;
    MainDialog d;
    std::vector<Row> rows;
};
class ContextMenu : public FourStreamsDialog {};
class RowActions : public FourStreamsDialog {};

}  // namespace

TEST_F(ContextMenu, SelectionAloneGraysOrEnablesAllSixCommands) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    struct Click {
        const char* what;
        bool selected;  // row 0
        int item;       // -1: on no row
        bool grayed;
    };
    const Click clicks[] = {
        {"row 2, nothing selected", false, 2, true},
        {"row 3, row 0 selected", true, 3, false},
        {"no row, row 0 selected", true, -1, false},
        {"no row, nothing selected", false, -1, true},
    };
    bool selected = false;
    for (const Click& c : clicks) {
        SCOPED_TRACE(c.what);
        if (c.selected != selected) SetSelected(d.list(), 0, selected = c.selected);
        RightClick click(d, c.item);
        ASSERT_NE(click.WaitMenu(), nullptr);
        EXPECT_EQ(Grayed(d), std::vector<bool>(6, c.grayed));
        EXPECT_EQ(d->m_nClickedItem, c.item);
        EXPECT_EQ(d->m_strStreamName, c.item < 0 ? std::wstring() : rows[c.item].name);
        EXPECT_EQ(d->m_strFilePath, c.item < 0 ? std::wstring() : rows[c.item].path);
        EXPECT_TRUE(click.Cancel());
    }
    // Cancelled menus run no command.
    EXPECT_EQ(ItemCount(d.list()), 4);
    for (const Row& r : rows) EXPECT_TRUE(StreamExists(r));
}

TEST_F(RowActions, CheckAllThenDeleteAllRemovesEveryStreamAndKeepsTheFiles) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    const std::wstring status = WindowText(d.item(IDC_STATIC_STATUS));
    SetSelected(d.list(), 1, true);

    {   // Picked from the menu as a user does: down twice (past the separator), Enter.
        RightClick click(d, 1);
        ASSERT_NE(click.WaitMenu(), nullptr);
        ASSERT_TRUE(click.Pick(2));
    }
    ASSERT_TRUE(WaitUntil([&] { return IsChecked(d.list(), 3); }, 10000));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(IsChecked(d.list(), i)) << i;
        EXPECT_EQ(IsSelected(d.list(), i), i == 1) << i;  // the selection is not touched
    }
    ASSERT_TRUE(Command(d, ID_UNCHECK_ALL)->Wait(10000));
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(IsChecked(d.list(), i)) << i;
        EXPECT_EQ(IsSelected(d.list(), i), i == 1) << i;
    }
    // Delete all with nothing checked changes nothing.
    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), rows);
    for (const Row& r : rows) EXPECT_TRUE(StreamExists(r));

    ASSERT_TRUE(Command(d, ID_CHECK_ALL)->Wait(10000));
    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    EXPECT_EQ(ItemCount(d.list()), 0);
    for (const Row& r : rows) EXPECT_FALSE(StreamExists(r)) << r.name.size();
    files.ExpectMainContentIntact();
    EXPECT_EQ(WindowText(d.item(IDC_STATIC_STATUS)), status);
    EXPECT_EQ(d->m_nStreamCount, 4);
    // A new scan finds none of them.
    ASSERT_TRUE(ScanFolder(d, files.dir.path()));
    EXPECT_EQ(ItemCount(d.list()), 0);
}

TEST_F(RowActions, DeleteAllTakesOnlyTheCheckedRows) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    SetChecked(d.list(), 1, true);
    SetChecked(d.list(), 3, true);

    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), (std::vector<Row>{rows[0], rows[2]}));
    EXPECT_TRUE(StreamExists(rows[0]));
    EXPECT_FALSE(StreamExists(rows[1]));
    EXPECT_TRUE(StreamExists(rows[2]));
    EXPECT_FALSE(StreamExists(rows[3]));
    EXPECT_FALSE(IsChecked(d.list(), 0));
    EXPECT_FALSE(IsChecked(d.list(), 1));
    // The last row deleted is the one the texts describe now.
    EXPECT_EQ(d->m_strStreamName, rows[3].name);
    EXPECT_EQ(d->m_strFilePath, rows[3].path);
    files.ExpectMainContentIntact();
}

TEST_F(RowActions, DeleteSelectedRemovesOnlyTheRowUnderTheCursor) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    for (int i = 0; i < 4; ++i) {
        SetSelected(d.list(), i, true);
        SetChecked(d.list(), i, true);
    }
    ASSERT_TRUE(ClickRow(d, 2));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), (std::vector<Row>{rows[0], rows[1], rows[3]}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(StreamExists(rows[i]), i != 2) << i;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(IsChecked(d.list(), i)) << i;
    files.ExpectMainContentIntact();

    // A stream already gone still loses its row.
    ASSERT_TRUE(::DeleteFileW((rows[0].path + L":" + rows[0].name).c_str()));
    ASSERT_TRUE(ClickRow(d, 0));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), (std::vector<Row>{rows[1], rows[3]}));
}

// A row without a stream name, or a click on no row, gives a path that names
// no stream ("file:" or ":"). Wine keeps a stream as a sibling file named
// "file:stream", so "file:" is a real name there, standing for the file
// itself: nothing may be deleted through it, but the row still goes.
TEST_F(RowActions, PathsWithoutAStreamNameAreNeverDeleted) {
    TempDir dir;
    const std::wstring file = dir / L"f.txt";
    ASSERT_TRUE(WriteBytes(file, "main content"));
    ASSERT_TRUE(WriteBytes(file + L":", "decoy"));
    ASSERT_TRUE(WriteBytes(file + L":kept", "kept stream"));
    AddRow(d.list(), L"", L"5", file);
    AddRow(d.list(), L"kept", L"11", file);
    AddRow(d.list(), L"", L"5", file);
    SetSelected(d.list(), 0, true);

    // Click on no row: nothing is deleted and no row goes.
    ASSERT_TRUE(ClickRow(d, -1));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(ItemCount(d.list()), 3);

    ASSERT_TRUE(ClickRow(d, 0));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(ItemCount(d.list()), 2);
    EXPECT_EQ(ReadBytes(file + L":"), "decoy");
    EXPECT_EQ(ReadBytes(file), "main content");

    // Delete all: the nameless checked row goes, its path is passed over.
    SetChecked(d.list(), 1, true);
    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    ASSERT_EQ(ItemCount(d.list()), 1);
    EXPECT_EQ(ItemText(d.list(), 0, 0), L"kept");
    EXPECT_EQ(ReadBytes(file + L":"), "decoy");
    EXPECT_EQ(ReadBytes(file + L":kept"), "kept stream");
    EXPECT_EQ(ReadBytes(file), "main content");
}

// A stream another program holds open without delete sharing cannot be
// deleted: its row stays, in delete-selected and delete-all alike, while the
// rows of the streams that did go are removed.
TEST_F(RowActions, AStreamThatCouldNotBeDeletedKeepsItsRow) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    const std::wstring held = rows[1].path + L":" + rows[1].name;
    HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    ASSERT_TRUE(ClickRow(d, 1));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), rows) << "the held stream's row stays";
    EXPECT_TRUE(StreamExists(rows[1]));

    // Its neighbour, not held, goes with its row.
    ASSERT_TRUE(ClickRow(d, 2));
    ASSERT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), (std::vector<Row>{rows[0], rows[1], rows[3]}));
    EXPECT_FALSE(StreamExists(rows[2]));

    // Delete all: the held row stays (still checked), the others go.
    ASSERT_TRUE(Command(d, ID_CHECK_ALL)->Wait(10000));
    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    EXPECT_EQ(Rows(d.list()), (std::vector<Row>{rows[1]}));
    EXPECT_TRUE(IsChecked(d.list(), 0));
    EXPECT_TRUE(StreamExists(rows[1]));
    EXPECT_FALSE(StreamExists(rows[0]));
    EXPECT_FALSE(StreamExists(rows[3]));

    // Released, it can go.
    ::CloseHandle(holder);
    ASSERT_TRUE(Command(d, ID_DELETE_ALL)->Wait(10000));
    EXPECT_EQ(ItemCount(d.list()), 0);
    EXPECT_FALSE(StreamExists(rows[1]));
    files.ExpectMainContentIntact();
}
