// update-hub's JSON library and the peers that can share one process with it.
#include "adapters.h"

#include <benchmark/benchmark.h>

int main(int argc, char **argv) {
    for (JsonAdapter adapter : {hub_adapter(), cjson_adapter(), json_c_adapter(),
                                nlohmann_adapter(), rapidjson_adapter(), simdjson_adapter()})
        json_bench_register(adapter);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
