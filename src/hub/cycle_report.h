// The run report: one JSON document per cycle, written from the cycle's record of outcomes.
// Its format is described in docs/report.md and docs/report.schema.json.
#pragma once

#include "cycle_outcome.h"
#include "support/text_buffer.h"

enum : int { REPORT_FORMAT_VERSION = 1 };

// Appends the report of the cycle to text, as UTF-8 without a byte order mark. Returns 0, or 12
// without memory.
int compose_cycle_report(TextBuffer *text, const CycleOutcome *outcome, bool strict);

// Writes the report to the file name, replacing an older one in one step: it is written to a
// new file beside it, name followed by ".<process id>.tmp", which is then renamed over it. A
// report that cannot be written is logged at level 0, "Report: [%s] ... FAIL(%d)" with its
// error number, and the old one stays; a written one at level 6 with "OK(0)". Returns 0 or the
// error number.
int write_cycle_report(const char *name, const CycleOutcome *outcome, bool strict);
