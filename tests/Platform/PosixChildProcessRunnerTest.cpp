#include "Platform/Linux/PosixChildProcessRunner.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <csignal>

namespace brevalto {
namespace {

using namespace std::chrono_literals;
using Ending = ChildProcessResult::Ending;

ChildProcessResult run(const std::string& script, std::string input = {}, std::chrono::milliseconds deadline = 20s,
                       std::size_t limit = 1 << 24) {
    TestFolder folder;
    ChildProcessRequest request;
    request.executable = writeScript(folder / "tool", script);
    request.arguments = {"one", "", "two words"};
    request.environment = {"PATH=/usr/bin:/bin", "WHO=tester"};
    request.workingDirectory = folder.path();
    request.input = std::move(input);
    request.deadline = deadline;
    request.outputLimit = limit;
    return PosixChildProcessRunner().run(request, {});
}

TEST(PosixChildProcessRunner, StreamsArgumentsAndEndings) {
    ChildProcessResult r = run("cat; printf '|%s' \"$@\"; echo \" $WHO $(basename \"$PWD\")\" >&2; exit 7", "in\n");
    EXPECT_EQ(r.ending, Ending::exited);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.output, "in\n|one||two words");
    EXPECT_EQ(r.errorOutput.substr(0, 21), " tester brevalto-test");

    // 2 MiB through all three pipes at once: a pipe left unread would stall both sides.
    std::string input;
    for (int i = 0; input.size() < (2 << 20); ++i) input += std::to_string(i) + "\n";
    r = run("tee /dev/stderr", input);
    EXPECT_EQ(r.output, input);
    EXPECT_EQ(r.errorOutput, input);

    r = run("head -c 100000 /dev/zero; kill -TERM $$", {}, 20s, 4096);
    EXPECT_EQ(r.output.size(), 4096u);
    EXPECT_TRUE(r.outputTruncated);
    EXPECT_EQ(r.ending, Ending::signalled);
    EXPECT_EQ(r.status, SIGTERM);
    EXPECT_FALSE(r.timedOut || r.cancelled);
}

TEST(PosixChildProcessRunner, ProgramsThatIgnoreUsCannotHangOrKillUs) {
    const std::string input(100 * 1024, 'i');
    // Exits without reading: the rest of the write fails quietly instead of raising SIGPIPE here.
    ChildProcessResult r = run("echo bye", input);
    EXPECT_EQ(r.output, "bye\n");

    // Never reads and never ends; a background child keeps the pipes open after the shell: the
    // deadline ends them all.
    const auto started = std::chrono::steady_clock::now();
    r = run("sleep 30 & echo started; sleep 30", input, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.output, "started\n");
    EXPECT_EQ(r.ending, Ending::signalled);
}

}  // namespace
}  // namespace brevalto
