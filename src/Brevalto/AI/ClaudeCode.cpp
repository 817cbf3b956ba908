#include "AI/ClaudeCode.h"

#include "ClipCore/UnicodeText.h"
#include "Errors/AIError.h"
#include "Platform/Task.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <system_error>

#include <unistd.h>

extern char** environ;

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const char* const textOnlyMessage =
    "Claude Code CLI accepts text only. Choose Anthropic or Cloudflare in Settings > AI for image requests.";

// Replaces every invalid UTF-8 sequence by U+FFFD.
std::string validUTF8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        auto decoded = unicode::decodeAt(bytes, i);
        if (decoded.codePoint < 0)
            text += "\xEF\xBF\xBD";
        else
            text.append(bytes.substr(i, decoded.next - i));
        i = decoded.next;
    }
    return text;
}

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

ClaudeCode::Places ClaudeCode::Places::current() {
    Places places;
    if (const char* home = std::getenv("HOME")) places.home = home;
    const char* temporary = std::getenv("TMPDIR");
    places.temporaryDirectory = temporary && *temporary ? temporary : "/tmp";
    for (char** entry = environ; entry && *entry; ++entry) places.environment.emplace_back(*entry);
    return places;
}

ClaudeCode::ClaudeCode(ChildProcessRunner& runner, Places places) : runner_(runner), places_(std::move(places)) {}

const std::vector<std::string>& ClaudeCode::usualLocations() {
    static const std::vector<std::string> locations{"~/.local/bin/claude", "~/.claude/local/claude",
                                                    "~/.npm-global/bin/claude", "/usr/local/bin/claude",
                                                    "/usr/bin/claude"};
    return locations;
}

std::vector<std::string> ClaudeCode::arguments(const std::string& system, const std::string& model) {
    return {"-p",      "--output-format",     "text", "--system-prompt",          system,
            "--model", model,                 "--tools", "",                      "--strict-mcp-config",
            "--disable-slash-commands", "--no-session-persistence"};
}

std::string ClaudeCode::expandHome(const std::string& path) const {
    if (path == "~") return places_.home.string();
    if (path.starts_with("~/")) return (places_.home / path.substr(2)).string();
    return path;
}

fs::path ClaudeCode::locate(const std::string& path) const {
    const std::string configured(unicode::trimmed(path));
    const std::vector<std::string> candidates = configured.empty() ? usualLocations() : std::vector{configured};
    for (const std::string& candidate : candidates) {
        fs::path expanded = expandHome(candidate);
        if (isExecutableFile(expanded)) return expanded;
    }
    if (!configured.empty()) throw AIError("No executable Claude Code CLI at " + configured + ".");
    throw AIError("Claude Code CLI not found. Install it or set its path in Settings > AI.");
}

std::vector<std::string> ClaudeCode::environment(const fs::path& tool) const {
    std::vector<std::string> entries;
    std::optional<std::string> previous;
    for (const std::string& entry : places_.environment) {
        if (entry.starts_with("PATH=")) {
            previous = entry.substr(5);
            continue;
        }
        entries.push_back(entry);
    }
    std::string path = tool.parent_path().string() + ":" + expandHome("~/.local/bin") + ":" +
                       expandHome("~/.npm-global/bin") + ":/usr/local/bin:" + previous.value_or("/usr/bin:/bin");
    entries.push_back("PATH=" + path);
    return entries;
}

std::string ClaudeCode::complete(const std::string& system, const std::vector<ContentBlock>& content,
                                 const std::string& model, const std::string& path, double timeoutSeconds,
                                 std::stop_token cancel) const {
    std::string input;
    bool first = true;
    for (const ContentBlock& block : content) {
        auto type = block.is_object() ? block.find("type") : block.end();
        if (!block.is_object() || type == block.end() || !type->is_string() || *type != "text")
            throw AIError(textOnlyMessage);
        // A block without a string text adds nothing, not even a separator.
        auto text = block.find("text");
        if (text == block.end() || !text->is_string()) continue;
        if (!first) input += "\n\n";
        first = false;
        input += text->get_ref<const std::string&>();
    }

    const fs::path tool = locate(path);
    if (cancel.stop_requested()) throw TaskCancelled();

    ChildProcessRequest request;
    request.executable = tool;
    request.arguments = arguments(system, model);
    request.environment = environment(tool);
    request.workingDirectory = places_.temporaryDirectory;
    request.input = std::move(input);
    const double boundedSeconds = std::isfinite(timeoutSeconds) ? std::clamp(timeoutSeconds, 0.0, 86400.0) : 86400.0;
    request.deadline = std::chrono::milliseconds(static_cast<std::int64_t>(boundedSeconds * 1000));
    request.outputLimit = maxOutputBytes;

    ChildProcessResult result;
    try {
        result = runner_.run(request, cancel);
    } catch (const ChildProcessLaunchError& error) {
        throw AIError(std::string("Could not start Claude Code CLI: ") + error.what());
    }

    if (result.outputTruncated) throw AIError("Claude response exceeds 4 MiB.");
    const std::string output(unicode::trimmed(validUTF8(result.output)));
    const bool exited = result.ending == ChildProcessResult::Ending::exited;
    if (exited && result.status == 0 && !output.empty() && !result.cancelled) return output;

    if (result.timedOut)
        throw AIError("Claude Code CLI did not answer within " +
                      std::to_string(static_cast<std::int64_t>(boundedSeconds)) + " seconds.");
    if (result.cancelled || cancel.stop_requested()) throw TaskCancelled();

    const std::string& detailBytes = result.errorOutput.empty() ? result.output : result.errorOutput;
    const std::string detail(unicode::graphemePrefix(unicode::trimmed(validUTF8(detailBytes)), 300));
    const std::string status = exited ? std::to_string(result.status) : "signal " + std::to_string(result.status);
    throw AIError("Claude Code CLI failed (" + status + "): " + detail);
}

}  // namespace brevalto
