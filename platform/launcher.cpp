#include "launcher.h"

#include "cp1252.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A started program counts as waiting for input once it has slept this long
// without a break: a program that is still loading sleeps only in short spells.
constexpr auto kSettledSleep = std::chrono::milliseconds(100);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// What the child processes tell the caller through the pipe.
struct ChildReport {
    enum Kind : int { StartedPid, ExecFailed } kind;
    int value;  // the process id or the errno
};

void report(int fd, ChildReport::Kind kind, int value) {
    const ChildReport message{kind, value};
    // Small enough to be written in one piece; nothing to do if it fails.
    [[maybe_unused]] const ssize_t n = ::write(fd, &message, sizeof message);
}

// Descriptors the caller opened without close-on-exec must not reach the
// started program: a listening socket inherited by it would outlive us.
void closeInheritedDescriptorsOnExec(int highestDescriptor) {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    for (int fd = 3; fd <= highestDescriptor; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Starts `program` as the grandchild of a child that ends at once, so that it
// belongs to no one here. Returns its process id, or -errno.
pid_t startDetached(const std::string& program) {
    rlimit limit{};
    const int highestDescriptor =
        ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < 65536
            ? static_cast<int>(limit.rlim_cur) - 1
            : 65535;
    // Everything the children need is made before the fork: they may not allocate.
    std::string programCopy = program;
    char* const argv[] = {programCopy.data(), nullptr};

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return -errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int errnum = errno;
        ::close(pipe[0]);
        ::close(pipe[1]);
        return -errnum;
    }
    if (child == 0) {
        ::close(pipe[0]);
        ::setsid();  // no terminal's hang-up or interrupt reaches it
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            report(pipe[1], ChildReport::ExecFailed, errno);
            ::_exit(1);
        }
        if (grandchild > 0) {
            report(pipe[1], ChildReport::StartedPid, grandchild);
            ::_exit(0);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        closeInheritedDescriptorsOnExec(highestDescriptor);
        ::execve(argv[0], argv, environ);
        report(pipe[1], ChildReport::ExecFailed, errno);
        ::_exit(127);
    }

    ::close(pipe[1]);
    pid_t started = 0;
    int failure = 0;
    // The pipe reaches its end when the program is running (its end of the
    // pipe closes on exec) or the children have given up.
    ChildReport message{};
    while (true) {
        const ssize_t n = ::read(pipe[0], &message, sizeof message);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof message)) break;
        if (message.kind == ChildReport::StartedPid) started = message.value;
        else failure = message.value;
    }
    ::close(pipe[0]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (failure != 0) return -failure;
    return started > 0 ? started : -ECHILD;
}

// The state letter of /proc/<pid>/stat; 0 when the process is gone.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    // The name in brackets may itself hold blanks and brackets.
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return 0;
    return line[close + 2];
}

void waitUntilReady(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    bool asleep = false;
    Clock::time_point asleepSince;
    while (Clock::now() < deadline) {
        const char state = processState(pid);
        if (state == 0 || state == 'Z' || state == 'X') return;  // ended already
        if (state == 'S' || state == 'T' || state == 't') {
            if (!asleep) asleepSince = Clock::now();
            else if (Clock::now() - asleepSince >= kSettledSleep) return;
            asleep = true;
        } else {
            asleep = false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

bool TSendKeys::StartProgram(const std::string& path) {
    processId_ = 0;
    programPath_.clear();
    if (path.empty()) return false;

    namespace fs = std::filesystem;
    fs::path program(archive::cp1252ToUtf8(path));
    if (program.is_relative()) {
        std::error_code error;
        const fs::path current = fs::current_path(error);
        if (error) return false;
        program = current / program;
    }
    struct stat info {};
    if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(program.c_str(), X_OK) != 0)
        return false;

    const pid_t pid = startDetached(program.string());
    if (pid <= 0) return false;
    processId_ = pid;
    programPath_ = archive::utf8ToCp1252(program.string());
    waitUntilReady(pid, ReadyTimeout);
    return true;
}
