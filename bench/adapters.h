// One adapter per JSON library; each lives in its own file so that libraries whose headers or
// symbols clash never meet in one translation unit (json-c and Jansson not even in one binary).
#pragma once

#include "json_bench.h"

JsonAdapter hub_adapter(const char *label = "update-hub");
JsonAdapter cjson_adapter();
JsonAdapter json_c_adapter();
JsonAdapter jansson_adapter();
JsonAdapter nlohmann_adapter();
JsonAdapter rapidjson_adapter();
JsonAdapter simdjson_adapter();
