// update-hub's library with every block on the C library's heap instead of the block pool: the
// allocator anchor. bench/run runs it once as it is (glibc's malloc) and once with mimalloc
// preloaded; HUB_BENCH_LABEL names the row.
#include "adapters.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

int main(int argc, char **argv) {
    const char *label = getenv("HUB_BENCH_LABEL");
    json_bench_register(hub_adapter(label ? label : "update-hub on malloc"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
