#!/usr/bin/env python3
"""Draws the benchmark charts of one run as SVG (see bench/run):

  charts.py RESULTS CHARTS

RESULTS holds loop.jsonl (json-loop --json-lines: the plain loop's speeds, the published ones)
and memory.jsonl (json-memory). CHARTS receives parse.svg, serialize.svg and memory.svg, each
with one panel per corpus and a bar per library, update-hub's in a colour of its own. Memory is
the peak resident growth per input byte on the array of copies of at least 20 MB. Each bar is
labelled with its figure rounded as the printed results round it, so that charts and tables
agree. Needs matplotlib (Debian's python3-matplotlib)."""
import json
import os
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as pyplot  # noqa: E402 (the backend is chosen first)

HUB = "update-hub"
LIBRARIES = [HUB, "cJSON", "json-c", "Jansson", "nlohmann", "RapidJSON", "simdjson"]
DOCUMENTS = ["canada.json", "citm_catalog.json", "twitter.json"]
HUB_COLOUR = "#d9480f"
PEER_COLOUR = "#9aa0a6"

# Small files that do not change unless the figures do: text stays text (no embedded glyphs),
# element ids come from a fixed salt, and the metadata names neither date nor tool version.
matplotlib.rcParams.update({
    "svg.fonttype": "none",
    "svg.hashsalt": "update-hub-bench",
    "font.family": "sans-serif",
    "font.sans-serif": ["DejaVu Sans", "Arial", "Helvetica"],
    "font.size": 9,
})
METADATA = {"Date": None, "Creator": None}


def read_json_lines(path):
    with open(path) as file:
        return [json.loads(line) for line in file if line.strip()]


def speed_panels(loop_lines, operation):
    """Per corpus: its title and (library, MB/s) in table order."""
    panels = []
    for document in DOCUMENTS:
        entries = [e for e in loop_lines
                   if e["corpus"] == document and e["operation"] == operation]
        if not entries:
            continue
        speeds = {e["library"]: e["mb_per_s"] for e in entries}
        title = f"{document} ({entries[0]['corpus_bytes'] / 1e6:.2f} MB)"
        panels.append((title, [(library, speeds[library])
                               for library in LIBRARIES if library in speeds]))
    return panels


def memory_panels(memory_lines):
    """Per corpus: resident growth per input byte of one parse of its largest array of copies."""
    panels = []
    for document in DOCUMENTS:
        entries = [e for e in memory_lines if e["file"].endswith("/" + document)]
        if not entries:
            continue
        copies = max(e["copies"] for e in entries)
        largest = {e["library"]: e for e in entries if e["copies"] == copies}
        size = next(iter(largest.values()))["input_bytes"]
        title = f"{document} ×{copies} ({size / 1e6:.1f} MB)"
        panels.append((title, [(library, largest[library]["resident_growth"]
                                / largest[library]["input_bytes"])
                               for library in LIBRARIES if library in largest]))
    return panels


def draw(panels, title, axis_title, digits, path, note=None):
    libraries = [library for library in LIBRARIES
                 if any(library == name for _, bars in panels for name, _ in bars)]
    height = 0.9 + 0.3 * len(libraries) + (0.2 if note else 0)
    figure, axes = pyplot.subplots(1, len(panels), figsize=(3.3 * len(panels), height),
                                   sharey=True, squeeze=False)
    for axis, (panel_title, bars) in zip(axes[0], panels):
        values = dict(bars)
        rows = range(len(libraries))
        heights = [values.get(library, 0) for library in libraries]
        colours = [HUB_COLOUR if library == HUB else PEER_COLOUR for library in libraries]
        axis.barh(rows, heights, color=colours, height=0.7)
        top = max(heights)
        for row, library in zip(rows, libraries):
            label = f"{values[library]:.{digits}f}" if library in values else "—"
            axis.text(values.get(library, 0) + top * 0.02, row, label, va="center", fontsize=8,
                      fontweight="bold" if library == HUB else "normal")
        axis.set_xlim(0, top * 1.3)
        axis.set_title(panel_title, fontsize=9)
        axis.set_xlabel(axis_title)
        axis.set_yticks(list(rows), libraries)
        axis.invert_yaxis()
        axis.tick_params(axis="y", length=0)
        for side in ("top", "right"):
            axis.spines[side].set_visible(False)
    for label in axes[0][0].get_yticklabels():
        if label.get_text() == HUB:
            label.set_fontweight("bold")
            label.set_color(HUB_COLOUR)
    figure.suptitle(title, fontsize=10)
    if note:
        figure.text(0.01, 0.01, note, fontsize=7, color="#5f6368")
    figure.tight_layout(rect=(0, 0.05 if note else 0, 1, 1))
    figure.savefig(path, format="svg", metadata=METADATA)
    pyplot.close(figure)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: charts.py RESULTS CHARTS")
    results, charts = sys.argv[1], sys.argv[2]
    os.makedirs(charts, exist_ok=True)
    loop_lines = read_json_lines(os.path.join(results, "loop.jsonl"))
    memory_lines = read_json_lines(os.path.join(results, "memory.jsonl"))
    for operation in ("parse", "serialize"):
        draw(speed_panels(loop_lines, operation),
             f"JSON {operation}: corpus MB per second, best of the plain loop's runs"
             " (higher is better)",
             "MB/s", 1, os.path.join(charts, f"{operation}.svg"),
             "Jansson is not in the plain loop: it exports names that json-c exports too.")
    draw(memory_panels(memory_lines),
         "Memory of one parse: peak resident growth per input byte, on at least 20 MB"
         " (lower is better)",
         "bytes per input byte", 2, os.path.join(charts, "memory.svg"))


main()
