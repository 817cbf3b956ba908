#pragma once

// Starting the keychain service program the way the app does, for the tests: with one end of a
// socket pair as its standard input.
#include "KeychainItems/KeychainChannel.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace brevalto {

inline std::filesystem::path builtServiceProgram() {
    return std::filesystem::path(BREVALTO_BINARY_DIR) / "brevalto-keychain";
}

inline std::filesystem::path thisProgram() { return std::filesystem::read_symlink("/proc/self/exe"); }

// A copy of the service program in a folder with no app beside it, where --app is honoured.
inline std::filesystem::path copyServiceProgram(const TestFolder& folder) {
    const auto copy = folder / "brevalto-keychain";
    std::filesystem::copy_file(builtServiceProgram(), copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    return copy;
}

class ServiceProcess {
public:
    // `environment`: NAME=value entries that replace or add to this process's environment.
    ServiceProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}) {
        int fds[2];
        EXPECT_TRUE(KeychainChannel::makePair(fds));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
        std::vector<std::string> words{program.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables = environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string variable = *entry;
            const std::string name = variable.substr(0, variable.find('=') + 1);
            if (std::none_of(environment.begin(), environment.end(), [&](auto& e) { return e.starts_with(name); }))
                variables.push_back(variable);
        }
        std::vector<char*> envp;
        for (auto& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        fd_ = fds[0];
    }
    ~ServiceProcess() {
        closeSocket();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    KeychainChannel channel() const { return KeychainChannel(fd_); }
    int fd() const { return fd_; }
    void closeSocket() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // The exit status, waiting at most `limit`; -1 when it has not exited or was signalled.
    int exitStatus(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

}  // namespace brevalto
