#pragma once

#include "AdminCommand.h"

struct JobHistoryFilter;

// The commands of `pendrill-admin history` that look at each job's newest run: latest, check
// and metrics. Each prints on `io.out` and returns its exit status.

// Takes --job PATTERN (repeatable) and --host NAME into `filter`.
void TakeJobSelection(const AdminArgs& args, JobHistoryFilter* filter);

// One line per job identifier: its newest run (a header line; --json: an array).
// 0, or 1 when the repository cannot be read.
int PrintLatestRuns(const AdminInvocation& c, const AdminIo& io);
// The monitoring check: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
int CheckLatestRuns(const AdminInvocation& c, const AdminIo& io);
// The Prometheus text format. 0, or 1 when the repository cannot be read.
int PrintRunMetrics(const AdminInvocation& c, const AdminIo& io);
