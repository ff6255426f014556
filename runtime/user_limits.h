// The operator's limits file (its format: present/limits_file.h): where it
// is, reading it over the panel file's limits when the panel is loaded, and
// writing it each time the operator changes a limit in the program (the
// limits dialog). Qt-free; any thread may call these (one lock).
#pragma once

#include <string>

#include "present/limits.h"

namespace rt {

class PanelModel;

// Program start: the file, named with --limits (`given`) or the one in the
// settings folder. "" = none: changes apply, but are not kept.
void set_user_limits_file(const std::string& path, bool given);
std::string user_limits_file();

// LoadPanel, right after the model is made: the file's limits replace the
// panel file's, slot by slot, each logged with the old and new limits. A
// file that does not exist is no fault (it is made at the first change). A
// file that cannot be read or holds any fault is refused whole: one line on
// standard output ("limits file FILE refused: line N: REASON; the panel
// file's limits are used"), an error entry in the log, and the exit status
// EXIT_LIMITS_REFUSED; the model keeps the panel file's limits.
void load_user_limits(PanelModel& model);
// Why the file was refused at start ("" when it was not).
std::string user_limits_refusal();

// The operator's change of one slot's limits. Limits that fail check_limits
// are not applied: false with the reason in *error. Otherwise they are in
// force at once, logged with the old and new limits, and the file is
// written (every slot whose limits differ from the panel file's; a file
// refused at start is first kept as FILE.refused) through a new file made
// exclusively beside it. A file that another program changed since this
// station read or wrote it (a second station on the same file, an editor)
// has its limits taken in first, for every other slot, each logged; one
// whose new contents are refused is not overwritten. A file that cannot be
// written: false with *error naming it and the reason, an error entry, the
// exit status EXIT_OUTPUT_FAILED; the change stays in force.
bool change_limits(PanelModel& model, int id, const Limits& limits, std::string* error);
// Every slot back to the panel file's limits, each change logged, and the
// file written without slots. False with *error as above.
bool restore_default_limits(PanelModel& model, std::string* error);

// For tests: no file, nothing refused.
void reset_user_limits_for_tests();

}  // namespace rt
