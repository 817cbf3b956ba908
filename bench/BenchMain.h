#pragma once

#include "Platform/ProcessStart.h"

#include <benchmark/benchmark.h>

// Runs the program's benchmarks inside a Qt application object of the given kind
// (QCoreApplication, or QApplication where windows or the clipboard are needed).
template <class Application>
int runBenchmarks(int argc, char** argv) {
    brevalto::startProcess();
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
