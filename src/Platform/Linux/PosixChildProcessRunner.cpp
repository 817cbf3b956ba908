#include "Platform/Linux/PosixChildProcessRunner.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brevalto {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw ChildProcessLaunchError(std::strerror(errno));
    return {Fd(fds[0]), Fd(fds[1])};
}

// The spawn attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Writes the input with SIGPIPE blocked on this thread, so a reader that went away turns the
// write into EPIPE instead of a signal; a SIGPIPE left pending is taken before the thread ends.
void writeInput(int fd, const std::string& input, const std::atomic<bool>& stop) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::size_t written = 0;
    while (written < input.size() && !stop.load()) {
        pollfd p{fd, POLLOUT, 0};
        int ready = ::poll(&p, 1, 50);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (p.revents & (POLLERR | POLLNVAL)) break;
        ssize_t n = ::write(fd, input.data() + written, input.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            break;
        }
    }
    ::close(fd);

    const timespec none{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &none) == SIGPIPE) {
    }
}

void keep(std::string& into, bool& truncated, const char* data, std::size_t size, std::size_t limit) {
    std::size_t room = into.size() < limit ? limit - into.size() : 0;
    if (size > room) truncated = true;
    into.append(data, std::min(size, room));
}

// Reads both outputs to their ends and reaps the program, ending it (and its group) at the
// deadline or on cancellation.
void drain(pid_t pid, const ChildProcessRequest& request, std::stop_token cancel, Fd& output, Fd& errors,
           ChildProcessResult& result, bool& reaped) {
    const Clock::time_point started = Clock::now();

    std::optional<Clock::time_point> terminatedAt;
    bool killed = false;
    auto endGroup = [&](int signal) { ::kill(-pid, signal); };
    auto terminate = [&] {
        if (terminatedAt) return;
        terminatedAt = Clock::now();
        endGroup(SIGTERM);
    };

    char buffer[64 * 1024];
    while (output.open() || errors.open() || !reaped) {
        if (!reaped) {
            int status = 0;
            pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                reaped = true;
                if (WIFSIGNALED(status)) {
                    result.ending = ChildProcessResult::Ending::signalled;
                    result.status = WTERMSIG(status);
                } else {
                    result.ending = ChildProcessResult::Ending::exited;
                    result.status = WEXITSTATUS(status);
                }
            }
        }

        // The deadline and cancellation end the program and, while the pipes are still held by
        // something it started, that too; after the program was reaped only its group is signalled.
        const bool stillHeld = !reaped || output.open() || errors.open();
        if (stillHeld && !terminatedAt) {
            if (cancel.stop_requested()) {
                if (!reaped) result.cancelled = true;
                terminate();
            } else if (Clock::now() - started >= request.deadline) {
                if (!reaped) result.timedOut = true;
                terminate();
            }
        }
        if (stillHeld && terminatedAt && !killed && Clock::now() - *terminatedAt >= PosixChildProcessRunner::killGrace) {
            killed = true;
            endGroup(SIGKILL);
        }
        // Pipes held by something outside the group outlive even the kill: stop reading them.
        if (killed && Clock::now() - *terminatedAt >= 2 * PosixChildProcessRunner::killGrace) {
            output.reset();
            errors.reset();
            if (!reaped) {
                int status = 0;
                if (::waitpid(pid, &status, 0) == pid) {
                    reaped = true;
                    result.ending = WIFSIGNALED(status) ? ChildProcessResult::Ending::signalled
                                                        : ChildProcessResult::Ending::exited;
                    result.status = WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
                }
                reaped = true;
            }
            continue;
        }

        if (!output.open() && !errors.open()) {
            if (!reaped) ::usleep(5000);
            continue;
        }
        pollfd fds[2];
        nfds_t count = 0;
        Fd* owners[2];
        for (Fd* fd : {&output, &errors}) {
            if (!fd->open()) continue;
            fds[count] = {fd->get(), POLLIN, 0};
            owners[count++] = fd;
        }
        int ready = ::poll(fds, count, 20);
        if (ready <= 0) continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                owners[i]->reset();
                continue;
            }
            if (owners[i] == &output)
                keep(result.output, result.outputTruncated, buffer, static_cast<std::size_t>(n), request.outputLimit);
            else
                keep(result.errorOutput, result.errorOutputTruncated, buffer, static_cast<std::size_t>(n),
                     request.outputLimit);
        }
    }
}

}  // namespace

ChildProcessResult PosixChildProcessRunner::run(const ChildProcessRequest& request, std::stop_token cancel) {
    Pipe input = makePipe();
    Pipe output = makePipe();
    Pipe errors = makePipe();

    SpawnSetup setup;
    sigset_t noSignals, allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
    posix_spawn_file_actions_adddup2(&setup.actions, input.read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, output.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, errors.write.get(), STDERR_FILENO);
    if (!request.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&setup.actions, request.workingDirectory.c_str());

    const std::string program = request.executable.string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : request.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : request.environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), envp.data());
    if (spawned != 0) throw ChildProcessLaunchError(std::strerror(spawned));
    input.read.reset();
    output.write.reset();
    errors.write.reset();

    const int inputFd = input.write.release();
    ::fcntl(inputFd, F_SETFL, ::fcntl(inputFd, F_GETFL) | O_NONBLOCK);
    std::atomic<bool> stopWriting{false};
    std::thread writer;
    ChildProcessResult result;
    bool reaped = false;
    try {
        writer = std::thread(writeInput, inputFd, std::cref(request.input), std::cref(stopWriting));
        drain(pid, request, cancel, output.read, errors.read, result, reaped);
    } catch (...) {
        // Nothing may outlive a failed run: end the program, reap it and stop the writer.
        if (!reaped) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        stopWriting = true;
        if (writer.joinable())
            writer.join();
        else
            ::close(inputFd);
        throw;
    }

    stopWriting = true;
    writer.join();
    return result;
}

}  // namespace brevalto
