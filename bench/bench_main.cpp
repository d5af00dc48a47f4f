// Runs the suite inside a fresh directory beside the current one, on the
// same file system, since the registry file, the audit log and the plug-in's
// own load and save all work in the current directory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <stdlib.h>

#include "bench_support.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const std::filesystem::path previous = std::filesystem::current_path();
    std::string pattern = (previous / "hadrok-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path work = pattern;
    std::filesystem::current_path(work);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    closePlugin(); // its save at unload lands in the working directory
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return 0;
}
