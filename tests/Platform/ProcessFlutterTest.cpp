#include "Platform/Linux/X11Apps.h"

#include "TestFolder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

TEST(ProcessUsesFlutter, FindsTheRuntimeBesideTheExecutableOrMapped) {
    TestFolder proc;
    auto process = [&](int pid, const fs::path& executable, const std::string& maps) {
        const fs::path folder = proc / std::to_string(pid);
        fs::create_directories(folder);
        fs::create_directories(executable.parent_path());
        std::ofstream(executable) << "";
        fs::create_symlink(executable, folder / "exe");
        std::ofstream(folder / "maps") << maps;
    };
    const std::string plainMaps = "7f00-7f10 r-xp 00000000 08:01 12 /usr/lib/x86_64-linux-gnu/libgtk-3.so.0\n";

    // A Flutter bundle: the runtime in "lib" beside the executable.
    process(10, proc / "bundle" / "app", plainMaps);
    fs::create_directories(proc / "bundle" / "lib");
    std::ofstream(proc / "bundle" / "lib" / "libflutter_linux_gtk.so") << "";
    // The runtime right beside the executable.
    process(11, proc / "flat" / "app", plainMaps);
    std::ofstream(proc / "flat" / "libflutter_linux_gtk.so") << "";
    // Only mapped (installed elsewhere).
    process(12, proc / "system" / "app",
            plainMaps + "7f20-7f30 r-xp 00000000 08:01 13 /opt/runtime/libflutter_linux_gtk.so\n");
    // An ordinary GTK program.
    process(13, proc / "gtk" / "app", plainMaps);

    EXPECT_TRUE(processUsesFlutter(10, proc.path()));
    EXPECT_TRUE(processUsesFlutter(11, proc.path()));
    EXPECT_TRUE(processUsesFlutter(12, proc.path()));
    EXPECT_FALSE(processUsesFlutter(13, proc.path()));
    EXPECT_FALSE(processUsesFlutter(14, proc.path()));  // no such process
    EXPECT_FALSE(processUsesFlutter(0, proc.path()));
    EXPECT_FALSE(processUsesFlutter(::getpid()));
}

}  // namespace
}  // namespace brevalto
