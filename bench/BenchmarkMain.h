// BenchmarkMain.h: the main() every benchmark program shares: a Qt application (the SQL drivers
// need one), the benchmark library's arguments, an optional database set-up that may throw
// DBIF_Exception (reported, exit status 1), then the benchmarks.
#ifndef DBIF_BENCH_BENCHMARKMAIN_H
#define DBIF_BENCH_BENCHMARKMAIN_H

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <iostream>

#include "dbif/DBIF_Exception.h"

inline int runBenchmarks(int argc, char** argv, void (*setUp)() = nullptr) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        if (setUp != nullptr)
            setUp();
    } catch (const DBIF_Exception& exception) {
        std::cerr << exception.what() << std::endl;
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#endif
