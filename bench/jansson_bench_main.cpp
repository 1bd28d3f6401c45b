// Jansson exports names that json-c also exports, so it runs in a binary of its own.
#include "adapters.h"

#include <benchmark/benchmark.h>

int main(int argc, char **argv) {
    json_bench_register(jansson_adapter());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
