// The exports that follow the frames as the panel shows them: --csv-panel
// (a row of every display after each good frame) and the analysis export of
// input that cannot be read again (live, a link replay, a pipe).
#pragma once

namespace rt {

// Registers both with the run-time (runtime/hooks.h), once; program start
// calls it. Each does nothing until its export is opened.
void export_install();

}  // namespace rt
