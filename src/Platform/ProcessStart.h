#pragma once

namespace brevalto {

// The first statement of every program's main that links the platform (the app, the test
// programs, the benchmarks), before anything else can start a system library. It settles how the
// crypto library ends: it keeps its state until the process is gone, rather than freeing it from
// an exit handler while threads that used it may still be ending.
void startProcess();

}  // namespace brevalto
