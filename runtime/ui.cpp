// The user-interface calls of the system, on the panel model. Each call is
// traced (when tracing) before it takes effect.
#include "runtime/ui.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/context.h"
#include "runtime/model.h"
#include "session/outcome.h"
#include "runtime/panel_file.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/trace.h"
#include "runtime/transport.h"
#include "runtime/user_limits.h"

namespace rt {

namespace {

constexpr int PANEL_HANDLE = 1;

struct UiState {
  std::unique_ptr<PanelModel> model;
  std::string panel_name;  // the file name the system asked for
  std::string error;
  WindowHooks hooks;
  bool window = false;
  int quit_id = 0;           // PANEL_QUIT of the loaded panel, 0 if none
  int status_id = 0;         // PANEL_STATUS of the loaded panel, 0 if none
  bool quit_handed = false;  // the system has been given its quit event
  std::vector<ScriptEvent> script;
  std::string script_path;
  size_t script_next = 0;
  long long passes_done = 0;  // polls that found no event, so a frame pass followed
  bool quit_at_end = false;
  bool strip_times = true;  // set_strip_times_read
  bool input_ended = false;
  long long ended_at_pass = -1;  // passes_done when the input was first seen ended
};

// At namespace scope rather than in ui(): asked at every call on the panel,
// it then costs no guard of a first use.
UiState ui_state;

UiState& ui() { return ui_state; }

std::atomic<bool> quit_requested{false};
std::atomic<bool> quit_signal_seen{false};
// The thread the system runs on (the one that loaded the panel).
std::atomic<std::thread::id> system_thread{};

PanelModel* model_for(int panel) {
  return panel == PANEL_HANDLE ? ui().model.get() : nullptr;
}

// The trace line of a call on a control: op, ctrl (its name) and id.
JsonLine control_line(const char* op, int ctrl) {
  JsonLine line(op);
  const ControlInfo* c = ui().model ? ui().model->find(ctrl) : nullptr;
  line.add("ctrl", c ? c->name.c_str() : "?");
  line.add("id", ctrl);
  return line;
}

int quit_control() { return ui().model ? ui().quit_id : 0; }

// Headless playback: frame passes that scripted events may still take once
// the input has ended (each pass shows the end-of-input status again). A
// script that wants more has events the input never reached.
constexpr long END_GRACE_PASSES = 10;

// One line on standard error for the scripted events that were never raised.
void report_unraised_events(const UiState& s) {
  const ScriptEvent& next = s.script[s.script_next];
  say_error("vst_gse: event script " + s.script_path + ": " + std::to_string(s.script.size() - s.script_next) +
            " of " + std::to_string(s.script.size()) + " events not raised: the input ended after " +
            std::to_string(s.ended_at_pass) + " frame passes; the first left is line " + std::to_string(next.line) +
            " (after " + std::to_string(static_cast<long long>(next.after_passes)) + " passes: " + next.name + ")");
}

// The Count's finished look (attribute 10 = 2) says that accumulation has
// stopped; the system sets it and never clears it. Operator input that
// switches Accumulate on ends it: if the count is spent, the system's next
// frame marks it again.
void end_finished_look(PanelModel& m, int id) {
  const ControlInfo* accum = m.find(std::string_view("PANEL_ACCUM"));
  const ControlInfo* count = m.find(std::string_view("PANEL_COUNT"));
  int on = 0;
  if (accum && count && id == accum->id && m.get_int(id, &on) && on != 0 &&
      m.attr(count->id, ATTR_DONE_LOOK) == DONE_LOOK_ON)
    m.set_attr(count->id, ATTR_DONE_LOOK, 0);
}

}  // namespace

bool quit_pending() {
  if (quit_requested.load() || ui().quit_handed) return true;
  const int quit = quit_control();
  return quit != 0 && ui().model->has_event(quit);
}

void set_window_hooks(WindowHooks hooks) {
  ui().hooks = std::move(hooks);
  ui().window = static_cast<bool>(ui().hooks.create);
}

void set_event_script(std::vector<ScriptEvent> events, const std::string& path) {
  ui().script = std::move(events);
  ui().script_path = path;
  ui().script_next = 0;
}

void set_quit_at_end_of_input(bool on) { ui().quit_at_end = on; }
void set_strip_times_read(bool on) { ui().strip_times = on; }

void request_quit() {
  quit_signal_seen.store(true);
  quit_requested.store(true);
}

bool quit_signalled() { return quit_signal_seen.load(); }

bool quit_asked() {
  if (quit_requested.load()) return true;
  return std::this_thread::get_id() == system_thread.load() && quit_pending();
}

PanelModel* current_model() { return ui().model.get(); }

void set_speed(double speed) { transport_set_speed(speed); }

void reset_ui_for_tests() {
  if (ui().model && ui().hooks.destroy) ui().hooks.destroy();
  UiState& s = ui();
  s.model.reset();
  s.hooks = WindowHooks{};
  s.window = false;
  s.quit_id = 0;
  s.status_id = 0;
  s.quit_handed = false;
  s.script.clear();
  s.script_path.clear();
  s.script_next = 0;
  s.passes_done = 0;
  s.quit_at_end = false;
  s.strip_times = true;
  s.input_ended = false;
  s.ended_at_pass = -1;
  transport_reset();
  if (PlaybackControl* control = playback_control()) control->reset();
  set_no_recording("");
  s.error.clear();
  quit_requested.store(false);
  quit_signal_seen.store(false);
  trace_close();
  reset_session_for_tests();
  reset_user_limits_for_tests();
}

}  // namespace rt

using namespace rt;

int LoadPanel(int parent, const char* file, int resource) {
  UiState& s = ui();
  system_thread.store(std::this_thread::get_id());
  if (tracing()) trace_emit(JsonLine("LoadPanel").add("file", file).add("resource", resource));
  if (parent != 0) {
    s.error = std::string(file) + ": only top-level panels (parent 0) are supported";
    return -1;
  }
  if (s.model) {
    s.error = std::string(file) + ": a panel is already loaded";
    return -1;
  }
  std::string tried;
  std::string path = find_panel_file(file, &tried);
  if (path.empty()) {
    s.error = std::string(file) + ": no such file (looked in " + tried + ")";
    return -1;
  }
  PanelLayout layout;
  if (!read_panel_file(path, resource, &layout, &s.error)) return -1;
  auto model = std::make_unique<PanelModel>(std::move(layout));
  // Without a window the system's thread alone reads and writes it.
  model->set_shared(s.window);
  load_user_limits(*model);  // the operator's limits over the panel file's
  if (s.hooks.create && !s.hooks.create(*model, path, &s.error)) return -1;
  s.model = std::move(model);
  s.panel_name = file;
  const ControlInfo* quit = s.model->find(std::string_view("PANEL_QUIT"));
  s.quit_id = quit ? quit->id : 0;
  const ControlInfo* status = s.model->find(std::string_view("PANEL_STATUS"));
  s.status_id = status ? status->id : 0;
  for (FrameObserver* o : frame_observers()) o->panel_loaded(*s.model);
  watch_panel(*s.model);
  return PANEL_HANDLE;
}

const char* PanelErrorText() { return ui().error.c_str(); }

int DisplayPanel(int panel) {
  PanelModel* m = model_for(panel);
  if (tracing()) trace_emit(JsonLine("DisplayPanel").add("file", ui().panel_name));
  if (!m) return -1;
  m->set_visible(true);
  if (ui().hooks.show) ui().hooks.show();
  return 0;
}

int DiscardPanel(int panel) {
  PanelModel* m = model_for(panel);
  if (tracing()) trace_emit(JsonLine("DiscardPanel").add("file", ui().panel_name));
  if (!m) return -1;
  if (ui().hooks.destroy) ui().hooks.destroy();
  ui().model.reset();
  return 0;
}

int GetUserEvent(int wait, int* panel, int* ctrl) {
  (void)wait;  // the system only ever polls
  UiState& s = ui();
  PanelModel* m = s.model.get();
  if (!m) return 0;
  transport_run_spectra_request();  // between frames: the spectra are whole
  int id = 0;
  bool got = false;
  EventSource source = EventSource::Operator;
  int script_line = 0;
  if (quit_requested.exchange(false)) {
    id = quit_control();
    got = id != 0;
    source = EventSource::Signal;
  }
  // Notes due now go on the session; they are no event for the system.
  while (!got && s.script_next < s.script.size() && s.script[s.script_next].is_note() &&
         s.script[s.script_next].after_passes <= s.passes_done) {
    const ScriptEvent& note = s.script[s.script_next++];
    watch_note(note.value, EventSource::Script, note.line);
  }
  if (!got && s.script_next < s.script.size() &&
      s.script[s.script_next].after_passes <= s.passes_done) {
    const ScriptEvent& ev = s.script[s.script_next++];
    apply_event_value(ev, *m);
    id = ev.id;
    got = true;
    source = EventSource::Script;
    script_line = ev.line;
  }
  // Takes the operator's committed value into the control now, so the
  // system's handler reads it even if the system wrote the control since.
  if (!got) got = m->take_event(&id);
  if (!got && s.quit_at_end && s.input_ended) {
    // Headless playback quits by itself at the end of the input: at once
    // when the script is done, else once its grace has run out.
    if (s.ended_at_pass < 0) s.ended_at_pass = s.passes_done;
    const bool script_done = s.script_next >= s.script.size();
    if (script_done || s.passes_done - s.ended_at_pass >= END_GRACE_PASSES) {
      if (!script_done) {
        report_unraised_events(s);
        note_exit_status(EXIT_SCRIPT_UNFINISHED);
        s.script_next = s.script.size();
      }
      id = quit_control();
      got = id != 0;
      source = EventSource::EndOfInput;
    }
  }
  if (!got) {
    ++s.passes_done;
    if (PlaybackControl* control = playback_control()) control->frame_pass_begins();
    return 0;
  }
  if (id == s.quit_id) s.quit_handed = true;
  // The operator's Clear empties the spectra: no frame is counted in them now.
  if (const ControlInfo* c = m->find(id); c && c->name == "PANEL_CLEAR") transport_spectra_cleared();
  end_finished_look(*m, id);
  watch_event(*m, id, source, script_line);
  if (tracing()) trace_emit(control_line("Event", id));
  *panel = PANEL_HANDLE;
  *ctrl = id;
  return 1;
}

int GetCtrlVal(int panel, int ctrl, int* value) {
  PanelModel* m = model_for(panel);
  bool ok = m && m->get_int(ctrl, value);
  if (tracing()) {
    JsonLine line = control_line("GetCtrlVal", ctrl);
    line.add("type", "int");
    if (ok) line.add("value", *value);
    trace_emit(line);
  }
  return ok ? 0 : -1;
}

int GetCtrlVal(int panel, int ctrl, float* value) {
  PanelModel* m = model_for(panel);
  bool ok = m && m->get_float(ctrl, value);
  if (tracing()) {
    JsonLine line = control_line("GetCtrlVal", ctrl);
    line.add("type", "float");
    if (ok) line.add_float("value", *value);
    trace_emit(line);
  }
  return ok ? 0 : -1;
}

int SetCtrlVal(int panel, int ctrl, int value) {
  if (tracing()) trace_emit(control_line("SetCtrlVal", ctrl).add("type", "int").add("value", value));
  PanelModel* m = model_for(panel);
  if (!m || !m->set_int(ctrl, value)) return -1;
  watch_value(ctrl, value);
  return 0;
}

int SetCtrlVal(int panel, int ctrl, double value) {
  if (tracing()) trace_emit(control_line("SetCtrlVal", ctrl).add("type", "double").add("value", value));
  PanelModel* m = model_for(panel);
  if (!m || !m->set_double(ctrl, value)) return -1;
  watch_value(ctrl, value);
  return 0;
}

int SetCtrlVal(int panel, int ctrl, const char* value) {
  if (tracing()) trace_emit(control_line("SetCtrlVal", ctrl).add("type", "text").add("value", value));
  PanelModel* m = model_for(panel);
  if (!m || !m->set_text(ctrl, value)) return -1;
  // The status line tells the operator how the last frame pass went: a
  // single blank after a good frame, END_OF_INPUT_TEXT once playback has run
  // out. The run-time acts on it as an operator would: it exports the frame's
  // values (--csv) and, headless, quits at the end of the input.
  if (ctrl != 0 && ctrl == ui().status_id) {
    std::string_view text(value);
    // Link replay: once its file has run out, every failure says the link
    // is silent for good.
    ui().input_ended = text == END_OF_INPUT_TEXT || (text != GOOD_FRAME_TEXT && transport_input_exhausted());
    if (text == END_OF_INPUT_TEXT) {
      transport_end_of_input();
      if (PlaybackControl* control = playback_control()) control->end_of_input();
    }
    if (!ui().input_ended) ui().ended_at_pass = -1;
    if (text == GOOD_FRAME_TEXT) {
      for (FrameObserver* o : frame_observers()) o->good_frame(*m);
      transport_good_frame();
    } else {
      for (FrameObserver* o : frame_observers()) o->failed_frame(text);
    }
    watch_status(text);
  }
  return 0;
}

int SetCtrlAttribute(int panel, int ctrl, int attribute, int value) {
  if (tracing()) trace_emit(control_line("SetCtrlAttribute", ctrl).add("attr", attribute).add("value", value));
  PanelModel* m = model_for(panel);
  if (!m || !m->set_attr(ctrl, attribute, value)) return -1;
  if (attribute == ATTR_XMAP_LOG) return m->set_x_log(ctrl, value != 0) ? 0 : -1;
  if (attribute == ATTR_YMAP_LOG) return m->set_y_log(ctrl, value != 0) ? 0 : -1;
  return 0;
}

int SetPanelAttribute(int panel, int attribute, const char* value) {
  if (tracing()) trace_emit(JsonLine("SetPanelAttribute").add("attr", attribute).add("value", value));
  PanelModel* m = model_for(panel);
  if (!m || !value) return -1;
  // A link replay records nothing, whatever the system (live, to its mind)
  // names; its title says what is played.
  const bool link_replay = transport_is_link_replay();
  if (attribute == ATTR_PANEL_TITLE) {
    m->set_title(link_replay ? "vst_gse - link replay of " + transport_source() : std::string(value));
    return 0;
  }
  if (attribute == ATTR_PANEL_RECORDING_FILE) {
    if (!link_replay) {
      transport_set_recording(value);
      watch_recording_started(value);
    }
    return 0;
  }
  return -1;
}

int RegisterSpectraExport(void (*write)(void* context, FILE* out), void* context) {
  if (tracing()) trace_emit(JsonLine("RegisterSpectraExport"));
  if (!write) return -1;
  transport_set_spectra_writer(write, context);
  return 0;
}

int RegisterSpectraClear(void (*clear)(void* context), void* context) {
  if (tracing()) trace_emit(JsonLine("RegisterSpectraClear"));
  if (!clear) return -1;
  transport_set_spectra_clear(clear, context);
  return 0;
}

int SetAxisRange(int panel, int ctrl, int x_scaling, double x_min, double x_max,
                 int y_scaling, double y_min, double y_max) {
  if (tracing()) {
    trace_emit(control_line("SetAxisRange", ctrl)
                   .add("xmode", x_scaling).add("xmin", x_min).add("xmax", x_max)
                   .add("ymode", y_scaling).add("ymin", y_min).add("ymax", y_max));
  }
  PanelModel* m = model_for(panel);
  const ControlInfo* c = m ? m->find(ctrl) : nullptr;
  if (!c || c->kind != Kind::XYGraph) return -1;
  bool known = (x_scaling == AXIS_MANUAL || x_scaling == AXIS_KEEP) &&
               (y_scaling == AXIS_MANUAL || y_scaling == AXIS_KEEP);
  if (!known) return -1;
  if (x_scaling == AXIS_MANUAL) m->set_x_range(ctrl, x_min, x_max);
  if (y_scaling == AXIS_MANUAL) m->set_y_range(ctrl, y_min, y_max);
  return 0;
}

int DeleteGraphPlot(int panel, int ctrl, int plot, int refresh) {
  if (tracing()) trace_emit(control_line("DeleteGraphPlot", ctrl).add("plot", plot).add("refresh", refresh));
  PanelModel* m = model_for(panel);
  if (!m || plot != ALL_PLOTS) return -1;
  return m->delete_plots(ctrl) ? 0 : -1;
}

int PlotXY(int panel, int ctrl, const void* x, const void* y, int n, int x_type,
           int y_type, int plot_style, int point_style, int line_style,
           int point_frequency, int color) {
  bool floats = x_type == TYPE_FLOAT && y_type == TYPE_FLOAT && n >= 0;
  const float* xs = static_cast<const float*>(x);
  const float* ys = static_cast<const float*>(y);
  if (tracing()) {
    JsonLine line = control_line("PlotXY", ctrl);
    line.add("n", n);
    if (floats) line.add_floats("x", xs, n).add_floats("y", ys, n);
    line.add("style", plot_style).add("point", point_style).add("line", line_style)
        .add("freq", point_frequency).add("color", color);
    trace_emit(line);
  }
  PanelModel* m = model_for(panel);
  if (!m || !floats) return -1;
  Plot look;
  look.style = plot_style;
  look.point = point_style;
  look.line = line_style;
  look.freq = point_frequency;
  look.color = color;
  return m->add_plot(ctrl, xs, ys, static_cast<size_t>(n), look);
}

int PlotStripChart(int panel, int ctrl, const void* values, int n, int start,
                   int skip, int data_type) {
  // Takes n values from `start`, stepping over `skip` values after each:
  // the system's own array when they lie side by side (as every frame's do).
  static thread_local std::vector<uint16_t> gathered;
  const bool ok = data_type == TYPE_U16 && n >= 0 && start >= 0 && skip >= 0;
  const uint16_t* taken = nullptr;
  if (ok) {
    const uint16_t* v = static_cast<const uint16_t*>(values);
    if (start == 0 && skip == 0) {
      taken = v;
    } else {
      gathered.clear();
      for (int k = 0; k < n; ++k) gathered.push_back(v[start + k * (skip + 1)]);
      taken = gathered.data();
    }
  }
  if (tracing()) {
    JsonLine line = control_line("PlotStripChart", ctrl);
    line.add("n", n).add_u16s("values", taken, ok ? n : 0).add("type", data_type);
    trace_emit(line);
  }
  PanelModel* m = model_for(panel);
  if (!m || !ok) return -1;
  // Points nothing will place in time are stamped 0, without a clock read.
  const bool appended = ui().strip_times ? m->strip_append(ctrl, taken, n) : m->strip_append(ctrl, taken, n, 0.0);
  return appended ? 0 : -1;
}

int Delay(double seconds) {
  if (tracing()) trace_emit(JsonLine("Delay").add("seconds", seconds));
  // A quit ends the wait (and a pause's hold) at once: the reader then goes
  // on without waiting, and the service loop takes the quit at its next
  // poll. At the first wait of a frame pass, before the reader reads, the
  // operator's seek, step, loop or new recording is carried out, and a
  // pause holds (replay.h).
  // A window whose playback has run out keeps the nominal pace even at
  // speed 0, so its passes over nothing do not spin a core.
  const bool idle = ui().input_ended && !ui().quit_at_end;
  if (PlaybackControl* control = playback_control()) control->wait(seconds, idle);
  else transport_sleep(seconds, [] { return quit_pending(); }, idle);
  return 0;
}
