#include "isolate.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace quill {

namespace {

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

} // namespace

IsolatedResult runIsolated(const std::function<std::string()>& work, int timeoutSeconds) {
    IsolatedResult result;
    int fds[2];
    if (::pipe(fds) != 0) {
        result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return result;
    }
    std::fflush(nullptr); // nothing buffered may be written twice
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = std::string("cannot start a child process: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (pid == 0) {
        ::close(fds[0]);
        // A crash ends the child by its signal, whatever handlers the process had installed
        // (a sanitizer's, say), so that the parent can tell a crash from a failure.
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
            std::signal(sig, SIG_DFL);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        std::string message;
        try {
            message = "O" + work();
        } catch (const std::exception& e) {
            message = std::string("E") + e.what();
        } catch (...) {
            message = "Eunknown failure";
        }
        writeAll(fds[1], message);
        ::close(fds[1]);
        std::fflush(nullptr);
        ::_exit(0);
    }

    ::close(fds[1]);
    std::string received;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            continue; // the deadline check above ends the wait
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        received.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    if (timedOut) {
        result.error =
            "did not finish within " + std::to_string(timeoutSeconds) + " s and was stopped";
    } else if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::strsignal(sig);
        result.error = "crashed (signal " + std::to_string(sig) + ", " +
                       (name != nullptr ? name : "unknown") + ")";
    } else if (!received.empty() && received[0] == 'O') {
        result.ok = true;
        result.output = received.substr(1);
    } else if (!received.empty() && received[0] == 'E') {
        result.error = received.substr(1);
    } else {
        result.error = "ended without an answer (exit status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    }
    return result;
}

} // namespace quill
