#pragma once

#include "Platform/ChildProcess.h"

namespace brevalto {

// ChildProcessRunner over posix_spawn: the program starts in a process group of its own, so the
// deadline and cancellation reach everything it started; three close-on-exec pipes; standard input
// is written by a helper thread with SIGPIPE blocked (a program that exits without reading only
// ends the write); both outputs are drained with poll on the calling thread.
class PosixChildProcessRunner final : public ChildProcessRunner {
public:
    ChildProcessResult run(const ChildProcessRequest& request, std::stop_token cancel) override;

    // How long a program that was asked to terminate has before it is killed.
    static constexpr std::chrono::milliseconds killGrace{2000};
};

}  // namespace brevalto
