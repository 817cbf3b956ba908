#pragma once

// Programs that the X11 benchmarks start and watch: the app (`brevalto`) and a baseline, a bare
// Qt program that shows one window of the collapsed panel's size and title (the benchmark program
// itself, started again with --baseline-window).
#include "TestFolder.h"

#include <QApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace brevalto::bench {

using SteadyClock = std::chrono::steady_clock;

inline std::string program() { return std::string(BREVALTO_BINARY_DIR) + "/brevalto"; }

// This process's environment with HOME and the XDG folders moved into a private home.
inline std::vector<std::string> homeEnvironment(const TestFolder& folder) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.starts_with("HOME=") || entry.starts_with("XDG_")) continue;
        env.push_back(entry);
    }
    env.push_back("HOME=" + folder.path().string());
    env.push_back("XDG_DATA_HOME=" + (folder / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (folder / "config").string());
    env.push_back("XDG_RUNTIME_DIR=" + (folder / "run").string());
    return env;
}

inline pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

inline void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// Watches the X server for a viewable client window of the given title.
class MapWatcher {
public:
    MapWatcher() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        clientList_ = atom("_NET_CLIENT_LIST");
        netWmName_ = atom("_NET_WM_NAME");
        utf8_ = atom("UTF8_STRING");
    }
    ~MapWatcher() { xcb_disconnect(c_); }

    bool mapped(const std::string& title) {
        auto* reply = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1024), nullptr);
        if (!reply) return false;
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        bool found = false;
        for (int i = 0; i < count && !found; ++i) {
            auto* name = xcb_get_property_reply(c_, xcb_get_property(c_, 0, windows[i], netWmName_, utf8_, 0, 64), nullptr);
            if (name) {
                const std::string text(static_cast<const char*>(xcb_get_property_value(name)),
                                       static_cast<std::size_t>(xcb_get_property_value_length(name)));
                if (text == title) {
                    auto* attributes = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, windows[i]), nullptr);
                    found = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                    std::free(attributes);
                }
                std::free(name);
            }
        }
        std::free(reply);
        return found;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_atom_t clientList_, netWmName_, utf8_;
};

// Starts a program and returns the seconds until its window is mapped (the program keeps running).
inline std::optional<double> launchUntilMapped(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                        pid_t& pid) {
    MapWatcher watcher;
    const auto start = SteadyClock::now();
    pid = spawn(args, env);
    if (pid < 0) return std::nullopt;
    while (!watcher.mapped("Brevalto")) {
        if (SteadyClock::now() - start > std::chrono::seconds(20)) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The baseline program: a bare Qt window of the collapsed panel's size and title.
inline int baselineWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Brevalto"));
    window.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setGeometry(841, 8, 238, 32);
    window.show();
    return QApplication::exec();
}

}  // namespace brevalto::bench
