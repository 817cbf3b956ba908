#include "AI/ClaudeCode.h"
#include "Errors/AIError.h"
#include "Platform/Linux/PosixChildProcessRunner.h"
#include "Platform/Task.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A home folder holding the tool script at ~/.local/bin/claude.
struct Tool {
    explicit Tool(const std::string& script) {
        fs::create_directories(home / ".local/bin");
        writeScript(home / ".local/bin/claude", script);
    }
    std::string run(const std::vector<ContentBlock>& content, double timeout = 30, std::stop_token cancel = {},
                    const std::string& path = "") {
        ClaudeCode code(runner, {home.path(), home.path(), {"HOME=" + home.path().string(), "PATH=/usr/bin:/bin"}});
        try {
            return code.complete("Be brief.", content, "sonnet", path, timeout, cancel);
        } catch (const AIError& error) {
            return std::string("error: ") + error.what();
        }
    }
    std::string file(const std::string& name) { return (std::stringstream() << std::ifstream(home / name).rdbuf()).str(); }
    TestFolder home;
    PosixChildProcessRunner runner;
};

TEST(ClaudeCode, TheToolGetsTheTextArgumentsPathAndFolder) {
    Tool tool(R"(cat > "$HOME/input"; for a in "$@"; do printf '[%s]' "$a"; done > "$HOME/args"
printf '%s %s' "$PATH" "$PWD" > "$HOME/places"; printf '  \n  the answer  \n\n')");
    EXPECT_EQ(tool.run({textBlock("a"), {{"type", "text"}}, {{"type", "text"}, {"text", 5}}, textBlock("b")}), "the answer");
    EXPECT_EQ(tool.file("input"), "a\n\nb");
    EXPECT_EQ(tool.file("args"), "[-p][--output-format][text][--system-prompt][Be brief.][--model][sonnet][--tools][]"
                                 "[--strict-mcp-config][--disable-slash-commands][--no-session-persistence]");
    const std::string h = tool.home.path().string();
    EXPECT_EQ(tool.file("places"), h + "/.local/bin:" + h + "/.local/bin:" + h + "/.npm-global/bin:/usr/local/bin:/usr/bin:/bin " + h);

    const std::string textOnly = "error: Claude Code CLI accepts text only. Choose Anthropic or Cloudflare in Settings > AI for image requests.";
    EXPECT_EQ(tool.run({textBlock("a"), pngImageBlock("AAAA")}), textOnly);
    EXPECT_EQ(tool.run({{{"text", "no type"}}}), textOnly);
}

TEST(ClaudeCode, EndingsBecomeTheirMessages) {
    const std::string longError(400, 'e');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"echo 'bad model' >&2; echo partial; exit 3", "Claude Code CLI failed (3): bad model"},
        {"echo '  only stdout  '; exit 1", "Claude Code CLI failed (1): only stdout"},
        {"printf '\\n  \\n'", "Claude Code CLI failed (0): "},
        {"echo 'empty' >&2; printf '   '", "Claude Code CLI failed (0): empty"},
        {"printf '  " + longError + "x' >&2; exit 2", "Claude Code CLI failed (2): " + longError.substr(0, 300)},
        {"printf 'caf\\303\\251 \\377' >&2; exit 4", "Claude Code CLI failed (4): caf\xC3\xA9 \xEF\xBF\xBD"},
        // A crash or a kill is a failure with its signal, never a cancellation.
        {"echo 'out of memory' >&2; kill -KILL $$", "Claude Code CLI failed (signal 9): out of memory"},
        {"sleep 30", "Claude Code CLI did not answer within 0 seconds."},
        {"trap '' TERM; sleep 30", "Claude Code CLI did not answer within 1 seconds."},
    };
    for (const auto& [script, message] : cases) {
        Tool tool(script);
        EXPECT_EQ(tool.run({textBlock("x")}, script.starts_with("trap") ? 1.9 : 0.3), "error: " + message) << script;
    }

    Tool waiting("sleep 30");
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    ClaudeCode code(waiting.runner, {waiting.home.path(), waiting.home.path(), {}});
    EXPECT_THROW(code.complete("s", {textBlock("x")}, "m", "", 30, stop.get_token()), TaskCancelled);
}

TEST(ClaudeCode, TheToolIsFoundAtItsPathOrTheUsualPlaces) {
    TestFolder home;
    PosixChildProcessRunner runner;
    ClaudeCode code(runner, {home.path(), home.path(), {}});
    auto locate = [&](const std::string& path) {
        try {
            return code.locate(path).string();
        } catch (const AIError& error) {
            return std::string(error.what());
        }
    };
    fs::create_directories(home / "tools/folder");
    std::ofstream(home / "tools/plain") << "#!/bin/sh\n";
    writeScript(home / "tools/claude", "true");
    for (const char* blank : {"", " \n"})
        EXPECT_EQ(locate(blank), "Claude Code CLI not found. Install it or set its path in Settings > AI.");
    for (const char* bad : {"~/tools/folder", "~/tools/plain", "~/tools/missing"})
        EXPECT_EQ(locate(" "s + bad + " "), "No executable Claude Code CLI at "s + bad + ".");
    EXPECT_EQ(locate("~/tools/claude"), (home / "tools/claude").string());

    // Each usual place added before the one found last wins over it.
    for (const char* place : {".npm-global/bin/claude", ".claude/local/claude", ".local/bin/claude"}) {
        fs::create_directories((home / place).parent_path());
        writeScript(home / place, "true");
        EXPECT_EQ(locate(""), (home / place).string());
    }

    std::ofstream(home / "tools/claude") << "#!/nonexistent/interpreter\n";
    Tool broken("true");
    EXPECT_EQ(broken.run({textBlock("x")}, 5, {}, (home / "tools/claude").string()),
              "error: Could not start Claude Code CLI: No such file or directory");
}

}  // namespace
}  // namespace brevalto
