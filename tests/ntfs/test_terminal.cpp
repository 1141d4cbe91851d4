// vestrel-ntfs on a terminal, as a user runs it: a live status line on
// standard error while a walk runs, a table on standard output; none of the
// line with --quiet or when standard error is redirected.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "Fixture.h"

using namespace vestrel::ntfs;
using namespace vestrel::ntfs::testing;

namespace {

// The program with a terminal as its standard output and error: everything
// the terminal received, and how the program ended.
struct TerminalRun {
    std::string text;
    int status = -1;
    bool timedOut = false;
};

TerminalRun RunOnTerminal(const std::vector<std::string>& args, double deadlineSeconds = 120) {
    TerminalRun result;
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 120;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return result;
    if (pid == 0) ExecNtfs(args);
    const auto start = std::chrono::steady_clock::now();
    char buffer[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // the terminal closed with the program
            result.text.append(buffer, size_t(n));
        }
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > deadlineSeconds) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

bool HasStatusLine(const std::string& text) { return text.find(" entries, ") != std::string::npos; }

}  // namespace

TEST(NtfsTerminal, StatusLineOnATerminalOnly) {
    const std::string dir = TempDirectory();
    ASSERT_FALSE(dir.empty());
    const std::string image = dir + "/many.raw";
    std::string error;
    // Enough entries for the walk to outlast the status line's 100 ms step
    // several times over on a fast, idle machine (20,000 took 0.3 s there,
    // too few steps for rows and status lines to interleave reliably).
    ASSERT_TRUE(fixture::BuildBench(image, 60000, &error)) << error;

    // The walk (directory order): reading $MFT in order is over too soon.
    const TerminalRun shown = RunOnTerminal({"list", "-r", "--sort", "path", image});
    EXPECT_FALSE(shown.timedOut);
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(HasStatusLine(shown.text)) << shown.text.substr(0, 2000);
    // A table on a terminal: its header row, then the rows.
    EXPECT_NE(shown.text.find("PATH:STREAM"), std::string::npos);
    // The status line is cleared before the program ends: the last thing
    // written is not a status line.
    const size_t lastStatus = shown.text.rfind(" entries, ");
    ASSERT_NE(lastStatus, std::string::npos);
    EXPECT_NE(shown.text.find("\r          ", lastStatus), std::string::npos) << "no clearing after the last status line";
    // Rows come while the line shows: each is written on a cleared line, so
    // no status text is left in front of a row ("\r", spaces, "\r" follow
    // the last status text of every terminal line).
    size_t linesWithStatus = 0;
    for (size_t from = 0; from < shown.text.size();) {
        size_t eol = shown.text.find('\n', from);
        if (eol == std::string::npos) eol = shown.text.size();
        const std::string line = shown.text.substr(from, eol - from);
        from = eol + 1;
        const size_t status = line.rfind(" entries, ");
        if (status == std::string::npos) continue;
        ++linesWithStatus;
        const std::string tail = line.substr(std::min(line.find('\r', status), line.size()));
        const size_t spaces = tail.find_first_not_of(' ', 1);
        EXPECT_TRUE(tail.size() > 2 && spaces != std::string::npos && spaces > 1 && tail[spaces] == '\r')
            << "a row written over the status line: " << line;
    }
    EXPECT_GT(linesWithStatus, 1u) << "rows and status lines interleave";

    const TerminalRun quiet = RunOnTerminal({"list", "-r", "--quiet", image});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_FALSE(HasStatusLine(quiet.text));
    EXPECT_EQ(quiet.text.size() > 1000, true) << "the rows still come";

    const RunResult redirected = RunNtfs({"list", "-r", image});
    EXPECT_EQ(redirected.status, 0);
    EXPECT_FALSE(HasStatusLine(redirected.err)) << redirected.err.substr(0, 500);
    std::filesystem::remove_all(dir);
}
