#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace brevalto {

// One run of a helper program: what it is given.
struct ChildProcessRequest {
    std::filesystem::path executable;
    // The arguments after the program name (the program name itself is the executable's path).
    std::vector<std::string> arguments;
    // The whole environment of the program, as "NAME=value" entries.
    std::vector<std::string> environment;
    std::filesystem::path workingDirectory;
    // Written to the program's standard input, which is then closed. A program that never reads
    // it, or exits first, loses the rest; that is not a failure.
    std::string input;
    // The program is ended when it is still running this long after its start.
    std::chrono::milliseconds deadline{150'000};
    // Most bytes kept of each output stream; the rest is read and dropped.
    std::size_t outputLimit = 4 * 1024 * 1024;
};

// How a run ended.
struct ChildProcessResult {
    enum class Ending { exited, signalled };
    Ending ending = Ending::exited;
    // The exit status, or the number of the signal that ended the program.
    int status = 0;
    // The deadline passed and the program was ended for it.
    bool timedOut = false;
    // The run was cancelled and the program was ended for it.
    bool cancelled = false;
    // The kept output bytes, and whether more arrived than the request's limit.
    std::string output;
    std::string errorOutput;
    bool outputTruncated = false;
    bool errorOutputTruncated = false;
};

// The program could not be started; what() describes why (no path, no output, no environment).
class ChildProcessLaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs helper programs with their standard input, output and error on pipes. `run` blocks the
// calling thread (never the GUI thread) until the program has ended and both outputs have been
// read to their ends. Standard input is written on a thread of its own while both outputs are
// drained, so no pipe can fill and stall either side, and a program that exits without reading
// never harms this process. Passing the deadline or cancelling ends the program together with
// everything it started (terminate first, kill shortly after).
class ChildProcessRunner {
public:
    virtual ~ChildProcessRunner() = default;
    virtual ChildProcessResult run(const ChildProcessRequest& request, std::stop_token cancel) = 0;
};

}  // namespace brevalto
