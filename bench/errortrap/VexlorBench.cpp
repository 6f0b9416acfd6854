// vxPUSH + vxPOP with every output off: the price every instrumented procedure
// pays on every call. Goal: well under 100 ns a pair. And the same pair with
// the circular log on, where each line is written and the file closed and
// opened again, so that a crash loses at most the line being written.

#include "Vexlor.h"
#include "VexlorTesting.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// An empty application folder (no configuration file) and no monitor folder:
// every output is off.
void StartQuiet() {
    static std::string folder = [] {
        char tmpl[] = "/tmp/vexlor-bench-XXXXXX";
        std::string dir = ::mkdtemp(tmpl);
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        return dir;
    }();
    // Registered after the folder's name exists, so it runs before that name goes.
    static const bool cleanup = std::atexit([] {
                                    std::error_code ec;
                                    std::filesystem::remove_all(folder, ec);
                                }) == 0;
    (void)cleanup;
    modVexlor::testhooks::Reset();
    modVexlor::testhooks::SetApplicationFolder(folder);
    modVexlor::vxSTART();
    if (modVexlor::TraceActive()) std::abort();
}

void BM_PushPop(benchmark::State& state) {
    StartQuiet();
    modVexlor::vxPUSH("main", "Sub Form_Load");  // a caller, as in the program
    for (auto _ : state) {
        modVexlor::vxPUSH("main", "Sub RefreshForm");
        modVexlor::vxPOP("main", "Sub RefreshForm");
    }
    modVexlor::vxPOP("main", "Sub Form_Load");
}
BENCHMARK(BM_PushPop);

void BM_PushPopDeep(benchmark::State& state) {
    StartQuiet();
    for (int i = 0; i < 20; ++i) modVexlor::vxPUSH("EnumFolders", "Sub Recurse");
    for (auto _ : state) {
        modVexlor::vxPUSH("velorize", "Function GetConfirmReadOnly");
        modVexlor::vxPOP("velorize", "Function GetConfirmReadOnly");
    }
}
BENCHMARK(BM_PushPopDeep);

void BM_ProcWrapper(benchmark::State& state) {
    StartQuiet();
    int calls = 0;
    for (auto _ : state) {
        vx::Proc("main", "Sub RefreshForm", [&] { ++calls; });
    }
    benchmark::DoNotOptimize(calls);
}
BENCHMARK(BM_ProcWrapper);

// Argument 0: lines without the optional fields; 1: with every field, as a
// configuration without an "include" section has them (the memory fields read
// the kernel's memory status for every line).
void BM_PushPopCircularLog(benchmark::State& state) {
    StartQuiet();
    const std::string folder = modVexlor::ApplicationFolder();
    std::ofstream(folder + "/VXCLIENT.INI")
        << "[preferences]\r\nCircularLog=1\r\n"
        << (state.range(0) ? "" : "[include]\r\nResources=0\r\nMemory=0\r\nArguments=0\r\nUser=0\r\n");
    modVexlor::testhooks::Reset();
    modVexlor::testhooks::SetApplicationFolder(folder);
    modVexlor::vxSTART();
    if (!modVexlor::Settings().CircularLogEnabled) std::abort();
    for (auto _ : state) {
        modVexlor::vxPUSH("main", "Sub RefreshForm");
        modVexlor::vxPOP("main", "Sub RefreshForm");
    }
    std::filesystem::remove(folder + "/VXCLIENT.INI");
    modVexlor::testhooks::Reset();
}
BENCHMARK(BM_PushPopCircularLog)->Arg(0)->Arg(1);

}  // namespace
