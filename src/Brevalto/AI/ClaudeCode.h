#pragma once

#include "AI/ContentBlock.h"
#include "Platform/ChildProcess.h"

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

namespace brevalto {

// Answers a request with the locally installed Claude Code command-line tool: one run per request,
// the user's text on standard input, the reply on standard output. Failures are AIError; a
// cancelled run throws TaskCancelled.
class ClaudeCode {
public:
    // Where the runner looks and what it hands on: the home folder ("~"), the folder the tool runs
    // in, and the environment the tool's own is built from.
    struct Places {
        std::filesystem::path home;
        std::filesystem::path temporaryDirectory;
        std::vector<std::string> environment;
        // This process's home ($HOME), temporary folder ($TMPDIR, else /tmp) and environment.
        static Places current();
    };

    // Most bytes of standard output accepted, as for a reply from the Messages API.
    static constexpr std::size_t maxOutputBytes = 4 * 1024 * 1024;

    explicit ClaudeCode(ChildProcessRunner& runner, Places places = Places::current());

    // Runs the tool with `system` as its system prompt and the text of `content` as its input, and
    // returns its trimmed standard output. `model` is already trimmed and not empty; `path` is the
    // configured tool path (may be empty or blank); `timeoutSeconds` bounds the run.
    std::string complete(const std::string& system, const std::vector<ContentBlock>& content, const std::string& model,
                         const std::string& path, double timeoutSeconds, std::stop_token cancel) const;

    // The tool: the configured path (with "~" expanded) when it is not blank, else the first of
    // the usual places that is an executable file. Throws AIError when there is none.
    std::filesystem::path locate(const std::string& path) const;

    // The usual places, in the order they are tried, "~" unexpanded.
    static const std::vector<std::string>& usualLocations();
    // The tool's arguments for a request.
    static std::vector<std::string> arguments(const std::string& system, const std::string& model);
    // The tool's environment: ours with PATH led by the tool's folder and the usual folders.
    std::vector<std::string> environment(const std::filesystem::path& tool) const;

private:
    std::string expandHome(const std::string& path) const;

    ChildProcessRunner& runner_;
    Places places_;
};

}  // namespace brevalto
