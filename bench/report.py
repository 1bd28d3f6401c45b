#!/usr/bin/env python3
"""Prints the benchmark tables from Google Benchmark JSON files (see bench/run).

JSON library: for each document and operation, MB/s (corpus bytes per second) of every library
and its ratio to update-hub's library (above 1: faster than update-hub). Memory (json-memory's
lines, memory.jsonl): the peak resident growth of one parse in a fresh process per input byte,
for the corpus and for an array of copies of it of at least 20 MB, with its ratio (above 1: uses
more than update-hub), and the bytes the allocator handed out at the highest point.
Hub cost: one update cycle over the sources against the shell loops starting the same programs.
Best of the repetitions: the highest MB/s, the lowest time (the machine's noise only ever slows a
run down)."""
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
        if path.endswith(".jsonl"):
            continue
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
        print("| library | parse MB/s | × | validate MB/s | × | serialize MB/s | × |")
        print("|---|---:|---:|---:|---:|---:|---:|")
        base = {op: mbps(runs.get(f"{op}/{HUB}/{document}")) for op in OPERATIONS}
        for library in LIBRARIES:
            if not any(runs.get(f"{op}/{library}/{document}") for op in OPERATIONS):
                continue
            row = [library]
            for op in OPERATIONS:
                value = mbps(runs.get(f"{op}/{library}/{document}"))
                row += [cell(value), ratio(value, base[op])]
            print("| " + " | ".join(row) + " |")


def memory_tables(paths):
    lines = []
    for path in paths:
        if path.endswith(".jsonl"):
            with open(path) as file:
                lines += [json.loads(line) for line in file if line.strip()]
    if not lines:
        return
    print("\nMemory: peak resident growth of one parse in a fresh process (VmHWM), and the bytes"
          " the allocator handed out, per input byte")
    for document in DOCUMENTS:
        entries = [e for e in lines if e["file"].endswith("/" + document)]
        if not entries:
            continue
        large = max(e["copies"] for e in entries)
        size = next(e["input_bytes"] for e in entries if e["copies"] == large)
        print(f"\n{document}: the corpus, and {large} copies in one array ({size / 1e6:.1f} MB)\n")
        print("| library | resident B/B | × | handed out B/B | resident B/B, copies | × |"
              " handed out B/B, copies |")
        print("|---|---:|---:|---:|---:|---:|---:|")
        def figures(library, copies):
            entry = next((e for e in entries
                          if e["library"] == library and e["copies"] == copies), None)
            if not entry:
                return None, None
            return (entry["resident_growth"] / entry["input_bytes"],
                    entry["handed_out"] / entry["input_bytes"])
        base = {copies: figures(HUB, copies)[0] for copies in (1, large)}
        for library in LIBRARIES:
            row = [library]
            for copies in (1, large):
                resident, handed = figures(library, copies)
                row += [cell(resident, 2), ratio(resident, base[copies]), cell(handed, 2)]
            if row[1] != "—":
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
          " (speed above 1 is faster, memory above 1 uses more); —: no such mode")
    json_tables(runs)
    memory_tables(sys.argv[1:])
    cycle_table(runs)


main()
