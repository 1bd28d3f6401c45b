#!/usr/bin/env python3
"""Prints the benchmark tables from Google Benchmark JSON files (see bench/run).

JSON library: for each document and operation, MB/s (corpus bytes per second) of every library
and its ratio to update-hub's library (above 1: faster than update-hub), and the peak heap of a
parsed document per input byte with its ratio (above 1: uses more than update-hub).
Hub cost: one update cycle over the sources against the shell loops starting the same programs.
Best of the repetitions: the highest MB/s, the lowest time (the machine's noise only ever slows a
run down), and the peak heap of the first repetition (it does not vary)."""
import json
import sys

HUB = "update-hub"
LIBRARIES = [HUB, "update-hub on glibc malloc", "update-hub on mimalloc", "cJSON", "json-c",
             "Jansson", "nlohmann", "RapidJSON", "simdjson"]
DOCUMENTS = ["canada.json", "citm_catalog.json", "twitter.json"]
OPERATIONS = ["parse", "validate", "serialize"]


def better(entry, best):
    if best is None:
        return True
    if "bytes_per_second" in entry:
        return entry["bytes_per_second"] > best["bytes_per_second"]
    return entry["real_time"] < best["real_time"]


def load(paths):
    runs, context = {}, None
    for path in paths:
        with open(path) as file:
            data = json.load(file)
        context = context or data["context"]
        for entry in data["benchmarks"]:
            if entry.get("run_type") == "aggregate" or entry.get("error_occurred"):
                continue
            name = entry["run_name"].removesuffix("/real_time")
            if better(entry, runs.get(name)):
                runs[name] = entry
    return runs, context


def mbps(entry):
    return entry["bytes_per_second"] / 1e6 if entry and "bytes_per_second" in entry else None


def cell(value, digits=1):
    return "—" if value is None else f"{value:.{digits}f}"


def ratio(value, base):
    return "—" if value is None or not base else f"{value / base:.2f}"


def json_tables(runs):
    for document in DOCUMENTS:
        print(f"\n{document}\n")
        print("| library | parse MB/s | × | validate MB/s | × | serialize MB/s | × |"
              " peak heap B/B | × |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        base = {op: mbps(runs.get(f"{op}/{HUB}/{document}")) for op in OPERATIONS}
        parse_hub = runs.get(f"parse/{HUB}/{document}")
        heap_base = parse_hub.get("peak_heap_per_byte") if parse_hub else None
        for library in LIBRARIES:
            if not any(runs.get(f"{op}/{library}/{document}") for op in OPERATIONS):
                continue
            row = [library]
            for op in OPERATIONS:
                value = mbps(runs.get(f"{op}/{library}/{document}"))
                row += [cell(value), ratio(value, base[op])]
            parse = runs.get(f"parse/{library}/{document}")
            heap = parse.get("peak_heap_per_byte") if parse else None
            heap = heap or None  # 0: not measured
            row += [cell(heap, 2), ratio(heap, heap_base)]
            print("| " + " | ".join(row) + " |")


def cycle_table(runs):
    hub = runs.get("cycle/update-hub")
    if not hub:
        return
    sources = hub.get("sources", 50)
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    def ms(entry):
        return entry["real_time"] * scale[entry["time_unit"]]
    hub_ms = ms(hub)
    print(f"\nHub cost: one update cycle over {sources:.0f} sources (wall time)\n")
    print("| run | ms per cycle | hub ÷ run | hub overhead per source, ms |")
    print("|---|---:|---:|---:|")
    print(f"| update-hub --start | {hub_ms:.1f} | 1.00 | — |")
    for name, label in (("cycle/shell-loop", "shell loop, programs started directly"),
                        ("cycle/shell-loop-sh-c", "shell loop, each program through sh -c")):
        entry = runs.get(name)
        if entry:
            loop_ms = ms(entry)
            print(f"| {label} | {loop_ms:.1f} | {hub_ms / loop_ms:.2f} |"
                  f" {(hub_ms - loop_ms) / sources:.2f} |")


def main():
    runs, context = load(sys.argv[1:])
    if context:
        print(f"{context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz,"
              f" {context.get('library_build_type')} Google Benchmark,"
              f" run {context.get('date')}")
    print("\nMB/s: corpus bytes per second (best of the repetitions); ×: ratio to update-hub"
          " (speed above 1 is faster, heap above 1 uses more); —: no such mode")
    json_tables(runs)
    cycle_table(runs)


main()
