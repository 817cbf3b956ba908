#include "Platform/Linux/PosixChildProcessRunner.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace brevalto {
namespace {

using namespace std::chrono_literals;
using Ending = ChildProcessResult::Ending;

struct Script {
    explicit Script(const std::string& body) : path(writeScript(folder / "tool", body)) {}
    ChildProcessRequest request(std::string input = {}) const {
        ChildProcessRequest r;
        r.executable = path;
        r.environment = {"PATH=/usr/bin:/bin"};
        r.workingDirectory = folder.path();
        r.input = std::move(input);
        r.deadline = 20s;
        return r;
    }
    TestFolder folder;
    std::filesystem::path path;
};

TEST(PosixChildProcessRunner, PassesInputArgumentsAndExitStatus) {
    Script script("cat; printf '|%s' \"$@\"; echo \" $WHO\" >&2; exit 7");
    ChildProcessRequest request = script.request("stdin text\n");
    request.arguments = {"one", "", "two words"};
    request.environment.push_back("WHO=tester");
    PosixChildProcessRunner runner;
    ChildProcessResult result = runner.run(request, {});
    EXPECT_EQ(result.ending, Ending::exited);
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.output, "stdin text\n|one||two words");
    EXPECT_EQ(result.errorOutput, " tester\n");
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.cancelled);
}

TEST(PosixChildProcessRunner, LargeStreamsInAllThreeDirectionsDoNotStall) {
    // Echoes 2 MiB of input to both outputs at once: any pipe left unread would fill and stall.
    Script script("tee /dev/stderr");
    std::string input;
    for (int i = 0; input.size() < 2 * 1024 * 1024; ++i) input += "line " + std::to_string(i) + "\n";
    PosixChildProcessRunner runner;
    ChildProcessResult result = runner.run(script.request(input), {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, input);
    EXPECT_EQ(result.errorOutput, input);
}

TEST(PosixChildProcessRunner, AProgramThatNeverReadsItsInputCannotHarmUs) {
    const std::string input(100 * 1024, 'i');
    PosixChildProcessRunner runner;

    // Exits at once without reading: the write fails quietly instead of raising SIGPIPE here.
    Script quitter("echo bye; exit 0");
    ChildProcessResult result = runner.run(quitter.request(input), {});
    EXPECT_EQ(result.ending, Ending::exited);
    EXPECT_EQ(result.output, "bye\n");

    // Never reads and never ends: the deadline ends it while the write is still blocked.
    Script sleeper("exec sleep 30");
    ChildProcessRequest request = sleeper.request(input);
    request.deadline = 300ms;
    const auto started = std::chrono::steady_clock::now();
    result = runner.run(request, {});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.ending, Ending::signalled);
    EXPECT_EQ(result.status, SIGTERM);
}

TEST(PosixChildProcessRunner, TheDeadlineReachesWhatTheProgramStarted) {
    // The shell's background child holds the output pipe open; ending only the shell would leave
    // the read waiting for 30 s.
    Script script("sleep 30 & echo started; wait");
    ChildProcessRequest request = script.request();
    request.deadline = 300ms;
    PosixChildProcessRunner runner;
    const auto started = std::chrono::steady_clock::now();
    ChildProcessResult result = runner.run(request, {});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.output, "started\n");
}

TEST(PosixChildProcessRunner, CancellationAndOwnSignalsAreToldApart) {
    PosixChildProcessRunner runner;
    Script selfKilled("kill -TERM $$");
    ChildProcessResult result = runner.run(selfKilled.request(), {});
    EXPECT_EQ(result.ending, Ending::signalled);
    EXPECT_EQ(result.status, SIGTERM);
    EXPECT_FALSE(result.cancelled);
    EXPECT_FALSE(result.timedOut);

    Script waiting("exec sleep 30");
    std::stop_source stop;
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    result = runner.run(waiting.request(), stop.get_token());
    canceller.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.ending, Ending::signalled);
}

TEST(PosixChildProcessRunner, KeepsAtMostTheLimitOfEachOutput) {
    Script script("head -c 100000 /dev/zero; head -c 10 /dev/zero >&2");
    ChildProcessRequest request = script.request();
    request.outputLimit = 4096;
    PosixChildProcessRunner runner;
    ChildProcessResult result = runner.run(request, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.size(), 4096u);
    EXPECT_TRUE(result.outputTruncated);
    EXPECT_EQ(result.errorOutput.size(), 10u);
    EXPECT_FALSE(result.errorOutputTruncated);
}

TEST(PosixChildProcessRunner, LaunchFailuresAreReported) {
    PosixChildProcessRunner runner;
    TestFolder folder;
    ChildProcessRequest request;
    request.executable = folder / "missing";
    EXPECT_THROW(runner.run(request, {}), ChildProcessLaunchError);
    request.executable = "/bin/true";
    request.workingDirectory = folder / "no-such-folder";
    EXPECT_THROW(runner.run(request, {}), ChildProcessLaunchError);
}

}  // namespace
}  // namespace brevalto
