#pragma once
// The main() of the benchmarks that need widgets: an application on the offscreen platform
// (unless QT_QPA_PLATFORM names another), the benchmarks, then `cleanup`, which lets go of the
// windows while the application still exists.
#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace quorvel::bench {

template <class Cleanup> int RunWidgetBenchmarks(int argc, char** argv, Cleanup cleanup) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cleanup();
    return 0;
}

} // namespace quorvel::bench
