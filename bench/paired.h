// Pairs an operation with its baseline inside each round: the two run one
// right after the other, in alternating order, so that both meet the same
// disk, caches and competition for the processor. The ratio is the sum of the
// operation's times over the sum of the baseline's, in wall-clock time and in
// this thread's processor time, and holds on a busy machine.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

struct Clocks {
    double wall = 0, cpu = 0; // seconds
};

inline double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <class Work> double timed(Clocks& clocks, Work&& work) {
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = threadSeconds();
    work();
    const double cpu = threadSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    clocks.wall += wall;
    clocks.cpu += cpu;
    return wall;
}

// Runs `measured` and `baseline` once per round, alternating which goes first,
// with `between` (untimed) after each. The benchmark's own time is the
// measured operation's wall-clock time (use it with UseManualTime). Counters:
// ms_wall, ms_cpu, baseline_ms_wall, baseline_ms_cpu per round, and
// ratio_wall, ratio_cpu.
template <class Measured, class Baseline, class Between>
void paired(benchmark::State& state, Measured&& measured, Baseline&& baseline, Between&& between) {
    Clocks m, b;
    bool measuredFirst = true;
    for (auto _ : state) {
        double wall = 0;
        if (measuredFirst) {
            wall = timed(m, measured);
            between();
            timed(b, baseline);
            between();
        } else {
            timed(b, baseline);
            between();
            wall = timed(m, measured);
            between();
        }
        measuredFirst = !measuredFirst;
        state.SetIterationTime(wall);
    }
    const double rounds = double(state.iterations());
    state.counters["ms_wall"] = m.wall * 1e3 / rounds;
    state.counters["ms_cpu"] = m.cpu * 1e3 / rounds;
    state.counters["baseline_ms_wall"] = b.wall * 1e3 / rounds;
    state.counters["baseline_ms_cpu"] = b.cpu * 1e3 / rounds;
    state.counters["ratio_wall"] = m.wall / b.wall;
    state.counters["ratio_cpu"] = m.cpu / b.cpu;
}
