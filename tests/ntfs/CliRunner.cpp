#include "CliRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vestrel::ntfs::testing {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint64_t HashFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    uint64_t hash = 1469598103934665603ull;
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) hash = (hash ^ uint8_t(buffer[size_t(i)])) * 1099511628211ull;
    }
    return hash;
}

std::string TempDirectory() {
    char pattern[] = "/tmp/vestrel-ntfs-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "";
}

void ExecNtfs(const std::vector<std::string>& args) {
    setenv("ASAN_OPTIONS", "exitcode=86:abort_on_error=0", 1);
    setenv("UBSAN_OPTIONS", "exitcode=86:print_stacktrace=1", 1);
    std::vector<char*> argv{const_cast<char*>(VESTREL_NTFS_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

RunResult RunNtfs(const std::vector<std::string>& args, double deadlineSeconds) {
    // Where the child's output goes; removed when the test program ends.
    static const struct Scratch {
        std::string path = TempDirectory();
        ~Scratch() { std::filesystem::remove_all(path); }
    } scratchDir;
    const std::string& scratch = scratchDir.path;
    const std::string outPath = scratch + "/out", errPath = scratch + "/err";
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        ExecNtfs(args);
    }
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > deadlineSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

}  // namespace vestrel::ntfs::testing
