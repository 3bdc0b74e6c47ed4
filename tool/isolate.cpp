#include "isolate.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace quill {

namespace {

constexpr std::size_t kCapturedLimit = 1u << 20;

void writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Memory the child writes and the parent reads after the child has ended.
class SharedStage {
public:
    explicit SharedStage(std::size_t size) {
        if (size == 0)
            return;
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        data_ = static_cast<char*>(p);
        size_ = size;
        data_[0] = '\0';
    }
    ~SharedStage() {
        if (data_ != nullptr)
            ::munmap(data_, size_);
    }
    SharedStage(const SharedStage&) = delete;
    SharedStage& operator=(const SharedStage&) = delete;

    std::span<char> span() const { return {data_, size_}; }
    std::string text() const {
        return data_ != nullptr ? std::string(data_, strnlen(data_, size_)) : std::string();
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

[[noreturn]] void runChild(const std::function<std::string(std::span<char>)>& work,
                           std::span<char> stage, int resultFd, int outputFd) {
    // The child ends with its parent, also when the parent is stopped from outside.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        ::_exit(1);
    // A crash ends the child by its signal, whatever handlers the process had installed
    // (a sanitizer's, say), so that the parent can tell a crash from a failure.
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(sig, SIG_DFL);
    if (outputFd >= 0) {
        ::dup2(outputFd, STDOUT_FILENO);
        ::dup2(outputFd, STDERR_FILENO);
        ::close(outputFd);
    } else {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    std::string message;
    try {
        message = "O" + work(stage);
    } catch (const std::exception& e) {
        message = std::string("E") + e.what();
    } catch (...) {
        message = "Eunknown failure";
    }
    writeAll(resultFd, message);
    ::close(resultFd);
    std::fflush(nullptr);
    ::_exit(0);
}

} // namespace

IsolatedResult runIsolated(const std::function<std::string(std::span<char> stage)>& work,
                           const IsolationOptions& options) {
    IsolatedResult result;
    int answer[2];
    int output[2] = {-1, -1};
    if (::pipe(answer) != 0) {
        result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return result;
    }
    if (options.captureOutput && ::pipe(output) != 0) {
        result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        ::close(answer[0]);
        ::close(answer[1]);
        return result;
    }
    const SharedStage stage(options.stageSize);
    std::fflush(nullptr); // nothing buffered may be written twice
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = std::string("cannot start a child process: ") + std::strerror(errno);
        for (int fd : {answer[0], answer[1], output[0], output[1]})
            if (fd >= 0)
                ::close(fd);
        return result;
    }
    if (pid == 0) {
        ::close(answer[0]);
        if (output[0] >= 0)
            ::close(output[0]);
        runChild(work, stage.span(), answer[1], output[1]);
    }
    ::close(answer[1]);
    if (output[1] >= 0)
        ::close(output[1]);

    std::string received;
    bool answerOpen = true;
    bool outputOpen = output[0] >= 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    char buffer[4096];
    while (answerOpen || outputOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (answerOpen)
            fds[count++] = {answer[0], POLLIN, 0};
        if (outputOpen)
            fds[count++] = {output[0], POLLIN, 0};
        const int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready <= 0)
            continue; // interrupted, or the deadline check above ends the wait
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            const bool isAnswer = fds[i].fd == answer[0];
            if (n <= 0) {
                (isAnswer ? answerOpen : outputOpen) = false;
                continue;
            }
            if (isAnswer)
                received.append(buffer, static_cast<size_t>(n));
            else if (result.captured.size() < kCapturedLimit)
                result.captured.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(answer[0]);
    if (output[0] >= 0)
        ::close(output[0]);
    if (result.timedOut)
        ::kill(pid, SIGKILL);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.stage = stage.text();

    if (result.timedOut) {
        result.error = "did not finish within " + std::to_string(options.timeoutSeconds) +
                       " s and was stopped";
    } else if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::strsignal(sig);
        result.error = "crashed (signal " + std::to_string(sig) + ", " +
                       (name != nullptr ? name : "unknown") + ")";
    } else if (!received.empty() && received[0] == 'O') {
        result.ok = true;
        result.output = received.substr(1);
    } else if (!received.empty() && received[0] == 'E') {
        result.threw = true;
        result.error = received.substr(1);
    } else {
        result.error = "ended without an answer (exit status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    }
    return result;
}

} // namespace quill
