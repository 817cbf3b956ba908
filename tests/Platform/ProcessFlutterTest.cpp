#include "Platform/Linux/X11Apps.h"

#include "TestFolder.h"

#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

TEST(ProcessUsesFlutter, FindsTheRuntimeBesideTheExecutableOrMapped) {
    TestFolder proc;
    const std::string gtk = "7f00-7f10 r-xp 00000000 08:01 12 /usr/lib/x86_64-linux-gnu/libgtk-3.so.0\n";
    // pid, executable, runtime library placed beside it (or none), maps.
    const std::vector<std::tuple<int, std::string, std::string, std::string>> processes = {
        {10, "bundle/app", "bundle/lib/libflutter_linux_gtk.so", gtk},
        {11, "flat/app", "flat/libflutter_linux_gtk.so", gtk},
        {12, "system/app", "", gtk + "7f20-7f30 r-xp 00000000 08:01 13 /opt/rt/libflutter_linux_gtk.so\n"},
        {13, "gtk/app", "", gtk},
    };
    for (const auto& [pid, executable, runtime, maps] : processes) {
        const fs::path folder = proc / std::to_string(pid);
        fs::create_directories(folder);
        fs::create_directories((proc / executable).parent_path());
        std::ofstream(proc / executable) << "";
        if (!runtime.empty()) {
            fs::create_directories((proc / runtime).parent_path());
            std::ofstream(proc / runtime) << "";
        }
        fs::create_symlink(proc / executable, folder / "exe");
        std::ofstream(folder / "maps") << maps;
    }
    EXPECT_TRUE(processUsesFlutter(10, proc.path()));
    EXPECT_TRUE(processUsesFlutter(11, proc.path()));
    EXPECT_TRUE(processUsesFlutter(12, proc.path()));
    EXPECT_FALSE(processUsesFlutter(13, proc.path()));
    EXPECT_FALSE(processUsesFlutter(14, proc.path()));  // no such process
    EXPECT_FALSE(processUsesFlutter(::getpid()));
}

}  // namespace
}  // namespace brevalto
