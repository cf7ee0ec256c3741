// main.cpp - the benchmark runner.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
