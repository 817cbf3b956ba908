#include "AI/ClaudeCode.h"
#include "Errors/AIError.h"
#include "Platform/Linux/PosixChildProcessRunner.h"
#include "Platform/Task.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A home folder with a tool script at `relative`, and the runner over it.
struct Tool {
    explicit Tool(const std::string& body, const std::string& relative = ".local/bin/claude") {
        fs::create_directories((home.path() / relative).parent_path());
        fs::create_directories(temporary.path());
        writeScript(home.path() / relative, body);
    }
    ClaudeCode code() {
        return ClaudeCode(runner, {home.path(), temporary.path(), {"HOME=" + home.path().string(), "PATH=/usr/bin:/bin", "LANG=C"}});
    }
    std::string complete(const std::vector<ContentBlock>& content, double timeout = 30, std::stop_token cancel = {}) {
        return code().complete("Be brief.", content, "sonnet", "", timeout, cancel);
    }
    std::string failure(const std::vector<ContentBlock>& content, double timeout = 30) {
        try {
            return "(answered) " + complete(content, timeout);
        } catch (const AIError& error) {
            return error.what();
        }
    }

    TestFolder home;
    TestFolder temporary;
    PosixChildProcessRunner runner;
};

TEST(ClaudeCode, TheToolGetsTheTextArgumentsEnvironmentAndFolder) {
    Tool tool(R"(
cat > "$HOME/input"
for a in "$@"; do printf '[%s]' "$a"; done > "$HOME/arguments"
printf '%s\n%s\n' "$PATH" "$PWD" > "$HOME/places"
printf '  \n  the answer  \n\n')");
    EXPECT_EQ(tool.complete({textBlock("a"), {{"type", "text"}}, {{"type", "text"}, {"text", 5}}, textBlock("b")}),
              "the answer");
    EXPECT_EQ(slurp(tool.home / "input"), "a\n\nb");
    EXPECT_EQ(slurp(tool.home / "arguments"),
              "[-p][--output-format][text][--system-prompt][Be brief.][--model][sonnet][--tools][]"
              "[--strict-mcp-config][--disable-slash-commands][--no-session-persistence]");
    const std::string home = tool.home.path().string();
    EXPECT_EQ(slurp(tool.home / "places"), home + "/.local/bin:" + home + "/.local/bin:" + home +
                                               "/.npm-global/bin:/usr/local/bin:/usr/bin:/bin\n" +
                                               tool.temporary.path().string() + "\n");
}

TEST(ClaudeCode, ImagesAreRefusedBeforeTheToolRuns) {
    Tool tool("touch \"$HOME/ran\"; echo ok");
    const std::string message =
        "Claude Code CLI accepts text only. Choose Anthropic or Cloudflare in Settings > AI for image requests.";
    EXPECT_EQ(tool.failure({textBlock("a"), pngImageBlock("AAAA")}), message);
    EXPECT_EQ(tool.failure({{{"text", "no type"}}}), message);
    EXPECT_EQ(tool.failure({"just a string"}), message);
    EXPECT_FALSE(fs::exists(tool.home / "ran"));
    EXPECT_EQ(tool.complete({}), "ok");
}

TEST(ClaudeCode, EndingsBecomeTheirMessages) {
    struct Case {
        std::string script;
        std::string message;
    };
    const std::string longError(400, 'e');
    const std::vector<Case> cases = {
        {"echo 'bad model' >&2; echo partial; exit 3", "Claude Code CLI failed (3): bad model"},
        {"echo '  only stdout  '; exit 1", "Claude Code CLI failed (1): only stdout"},
        {"printf '\\n  \\n\\t\\n'", "Claude Code CLI failed (0): "},
        {"echo 'empty answer' >&2; printf '   '", "Claude Code CLI failed (0): empty answer"},
        {"printf '  " + longError + "x' >&2; exit 2", "Claude Code CLI failed (2): " + longError.substr(0, 300)},
        {"printf 'caf\\303\\251 \\377' >&2; exit 4", "Claude Code CLI failed (4): caf\xC3\xA9 \xEF\xBF\xBD"},
        // A crash is a failure with its signal, not a cancellation.
        {"echo 'out of memory' >&2; kill -KILL $$", "Claude Code CLI failed (signal 9): out of memory"},
        {"kill -SEGV $$", "Claude Code CLI failed (signal 11): "},
    };
    for (const Case& c : cases) {
        Tool tool(c.script);
        EXPECT_EQ(tool.failure({textBlock("x")}), c.message) << c.script;
    }
}

TEST(ClaudeCode, AToolThatOutlivesItsTimeIsEnded) {
    Tool tool("sleep 30; echo late");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.failure({textBlock("x")}, 0.3), "Claude Code CLI did not answer within 0 seconds.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    Tool stubborn("trap '' TERM; sleep 30");
    EXPECT_EQ(stubborn.failure({textBlock("x")}, 1.9), "Claude Code CLI did not answer within 1 seconds.");
}

TEST(ClaudeCode, CancellingEndsTheToolWithTheCancellationError) {
    Tool tool("sleep 30; echo late");
    std::stop_source stop;
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    EXPECT_THROW(tool.complete({textBlock("x")}, 30, stop.get_token()), TaskCancelled);
    canceller.join();
}

TEST(ClaudeCode, TheToolIsFoundAtItsPathOrTheUsualPlaces) {
    TestFolder home;
    PosixChildProcessRunner runner;
    ClaudeCode code(runner, {home.path(), home.path(), {}});
    auto failure = [&](const std::string& path) {
        try {
            return "found " + code.locate(path).string();
        } catch (const AIError& error) {
            return std::string(error.what());
        }
    };
    EXPECT_EQ(failure(""), "Claude Code CLI not found. Install it or set its path in Settings > AI.");
    EXPECT_EQ(failure(" \n"), "Claude Code CLI not found. Install it or set its path in Settings > AI.");

    fs::create_directories(home / "tools/folder");
    std::ofstream(home / "tools/plain") << "#!/bin/sh\n";
    EXPECT_EQ(failure("~/tools/folder"), "No executable Claude Code CLI at ~/tools/folder.");
    EXPECT_EQ(failure(" ~/tools/plain "), "No executable Claude Code CLI at ~/tools/plain.");
    EXPECT_EQ(failure("~/tools/missing"), "No executable Claude Code CLI at ~/tools/missing.");
    writeScript(home / "tools/claude", "true");
    EXPECT_EQ(failure("~/tools/claude"), "found " + (home / "tools/claude").string());

    // The usual places, in their order: each one added before the last found wins.
    for (const char* place : {".npm-global/bin/claude", ".claude/local/claude", ".local/bin/claude"}) {
        fs::create_directories((home / place).parent_path());
        writeScript(home / place, "true");
        EXPECT_EQ(failure(""), "found " + (home / place).string()) << place;
    }
    EXPECT_EQ(ClaudeCode::usualLocations(),
              (std::vector<std::string>{"~/.local/bin/claude", "~/.claude/local/claude", "~/.npm-global/bin/claude",
                                        "/usr/local/bin/claude", "/usr/bin/claude"}));

    // A tool that cannot be started says why.
    writeScript(home / "tools/broken", "true");
    std::ofstream(home / "tools/broken") << "#!/nonexistent/interpreter\n";
    try {
        code.complete("s", {textBlock("x")}, "m", (home / "tools/broken").string(), 5, {});
        FAIL() << "a broken tool ran";
    } catch (const AIError& error) {
        EXPECT_EQ(std::string(error.what()), "Could not start Claude Code CLI: No such file or directory");
    }
}

}  // namespace
}  // namespace brevalto
