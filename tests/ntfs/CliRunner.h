// Runs vestrel-ntfs as a child process for the tests: its output, exit
// status or signal, and how long it took, killed at a deadline.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::ntfs::testing {

struct RunResult {
    int status = -1;        // exit status when it exited
    int signal = 0;         // the signal that ended it, else 0
    bool timedOut = false;  // killed at the deadline
    double seconds = 0;
    std::string out, err;
};

// Sanitizer reports end the child with these statuses, never 0 or 1.
constexpr int kSanitizerExit = 86;

// In a forked child: becomes vestrel-ntfs with `args`, sanitizer reports
// ending it with kSanitizerExit; 127 when it cannot be started.
[[noreturn]] void ExecNtfs(const std::vector<std::string>& args);

RunResult RunNtfs(const std::vector<std::string>& args, double deadlineSeconds = 60);

std::string ReadFile(const std::string& path);
// A 64-bit FNV-1a of a file's bytes.
uint64_t HashFile(const std::string& path);
std::string TempDirectory();

}  // namespace vestrel::ntfs::testing
