#pragma once
// What the benchmark programs share: an operation timed beside its baseline
// in every iteration, and a main with the GUI application that QPainter needs.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <chrono>

namespace benchsupport {

using Clock = std::chrono::steady_clock;

// Seconds over all iterations.
struct PairTotals {
    double op = 0;
    double base = 0;
};

// Runs base() and then op() in every iteration; the iteration's time is op's.
template <class Op, class Base>
PairTotals TimeBesideBaseline(benchmark::State& state, Op op, Base base) {
    PairTotals totals;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        base();
        const auto t1 = Clock::now();
        op();
        const auto t2 = Clock::now();
        const double o = std::chrono::duration<double>(t2 - t1).count();
        totals.base += std::chrono::duration<double>(t1 - t0).count();
        totals.op += o;
        state.SetIterationTime(o);
    }
    return totals;
}

inline int RunWithGuiApplication(int argc, char** argv) {
    // QPainter needs a GUI application; no display is used.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchsupport
