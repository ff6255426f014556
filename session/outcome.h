// How a run ends: the exit status that tells a calling script what went
// wrong after start-up, and the message lines that must reach a reader at
// once. Qt-free; any thread may call these.
#pragma once

#include <functional>
#include <string>

#include "session/output_queue.h"

namespace rt {

// Exit statuses. 0, 1 and 2 are decided at start-up; the others are noted
// while the program runs and returned after a normal quit.
constexpr int EXIT_OK = 0;
constexpr int EXIT_STARTUP = 1;           // the port, the input or the panel file failed
constexpr int EXIT_USAGE = 2;             // bad command line or event script
constexpr int EXIT_RECORDING_LOST = 3;    // bytes received on the link are missing from the recording
constexpr int EXIT_OUTPUT_FAILED = 4;     // a trace, CSV, log or summary file could not be written whole
constexpr int EXIT_SCRIPT_UNFINISHED = 5; // the input ended before every scripted event was raised
constexpr int EXIT_INPUT_FAILED = 6;      // a read error cut the playback input short
constexpr int EXIT_SHARING_INCOMPLETE = 7;  // publishing or the remote view lost messages (publish/)
constexpr int EXIT_LIMITS_REFUSED = 8;      // the user limits file was refused: the panel file's limits were used

// Notes a failure that must show in the exit status. When several were
// noted, the lowest status of 3 and above wins: a lost recording matters
// most.
void note_exit_status(int status);
// The status noted so far (EXIT_OK when none).
int noted_exit_status();
// What the program returns: the entry's own result when it is not 0 (a
// start-up failure), else the status noted during the run.
int final_exit_status(int entry_result);

// Writes `line` and a newline on standard output, so that a caller reading
// the output (or a file it is redirected to) sees it now. Once the message
// streams have started, the line is queued and written by a thread of its
// own: a reader that stalls holds up no caller. When standard output fails
// (its reader left, a full disk), the lines go to standard error.
void say(const std::string& line);
// The same on standard error ("vst_gse: " is not added).
void say_error(const std::string& line);

// Standard output and standard error are written off the callers' threads
// from here on (output_queue.h). A stream that fails is said once on the
// other one and in the session log, and the exit status is
// EXIT_OUTPUT_FAILED; the run goes on.
void start_message_streams();
// Whether a caller that meets a full queue (these and the trace) may wait
// for its reader: playback may, live reception may not (nullptr).
void set_output_wait(OutputQueue::MayWait may_wait);
const OutputQueue::MayWait& output_wait();
// The trace goes to standard output (--trace -): its lines share the queue,
// and a failure of standard output ends the trace too.
OutputQueue* standard_output_queue();
void set_trace_on_standard_output(bool on);
// Writes what the streams still hold until done or `give_up()`; afterwards
// say() and say_error() write directly again.
void end_message_streams(const std::function<bool()>& give_up);

// For tests.
void reset_outcome_for_tests();

}  // namespace rt
