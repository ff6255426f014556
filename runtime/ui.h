// User-interface run-time: the panel, its controls and graphs, operator
// events and the pacing wait. The system's code reaches the panel only
// through these calls. All of them are called from the system's own thread.
//
// Results: every call returns 0 (or a handle / count) on success and a
// negative value on failure (unknown panel or control, wrong value type).
// The system does not test most of them; the run-time never throws.
#pragma once

#include <cstdio>

// Scaling codes of SetAxisRange.
constexpr int AXIS_MANUAL = 0;   // set the axis to the given limits
constexpr int AXIS_KEEP = -1;    // leave the axis as it is

// Attribute codes of SetCtrlAttribute.
constexpr int ATTR_DONE_LOOK = 10;    // value 2: the control shows "finished"
constexpr int ATTR_YMAP_LOG = 1096;   // y axis logarithmic (1) or linear (0)
constexpr int ATTR_XMAP_LOG = 1141;   // x axis logarithmic (1) or linear (0)
constexpr int DONE_LOOK_ON = 2;

// Attribute codes of SetPanelAttribute (text values).
constexpr int ATTR_PANEL_TITLE = 1;
// Live mode: the file every received byte is recorded to. The window shows
// its name and growing size; in live mode without it, a "NOT RECORDING"
// warning.
constexpr int ATTR_PANEL_RECORDING_FILE = 2;

// Data type codes of PlotXY and PlotStripChart.
constexpr int TYPE_FLOAT = 3;   // 32-bit float
constexpr int TYPE_U16 = 6;     // unsigned 16-bit integer

// DeleteGraphPlot arguments.
constexpr int ALL_PLOTS = -1;
constexpr int REFRESH_NOW = 1;

// Loads panel `resource` from `file` (looked up in the working directory,
// beside the executable, then in the installed data directory). `parent`
// must be 0 (top level). Returns the panel handle (> 0), or a negative
// value; PanelErrorText() then says which file and why.
int LoadPanel(int parent, const char* file, int resource);
const char* PanelErrorText();

int DisplayPanel(int panel);
int DiscardPanel(int panel);

// Never waits (wait must be 0). Returns 0 when no event is pending, else 1
// with the panel and control of the committed operator input.
int GetUserEvent(int wait, int* panel, int* ctrl);

// Reads a control's current value. The value type must match the control's.
int GetCtrlVal(int panel, int ctrl, int* value);
int GetCtrlVal(int panel, int ctrl, float* value);

int SetCtrlVal(int panel, int ctrl, int value);
int SetCtrlVal(int panel, int ctrl, double value);
int SetCtrlVal(int panel, int ctrl, const char* value);

int SetCtrlAttribute(int panel, int ctrl, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const char* value);

// Limits of an XY graph; a scaling code of AXIS_KEEP leaves that axis alone.
int SetAxisRange(int panel, int ctrl, int x_scaling, double x_min, double x_max,
                 int y_scaling, double y_min, double y_max);

int DeleteGraphPlot(int panel, int ctrl, int plot, int refresh);

// Adds one plot of n points. x and y point to n values of x_type / y_type
// (only TYPE_FLOAT is supported). Returns the plot handle (> 0).
int PlotXY(int panel, int ctrl, const void* x, const void* y, int n, int x_type,
           int y_type, int plot_style, int point_style, int line_style,
           int point_frequency, int color);

// Appends n values (data type TYPE_U16) to the strip chart's traces, the
// values taken in turn by trace 1, 2, 3, 4, 1, ...
int PlotStripChart(int panel, int ctrl, const void* values, int n, int start,
                   int skip, int data_type);

// Waits `seconds` (divided by the playback speed: --speed, then the
// window's speed choice) on the system's thread; the window stays alive
// meanwhile. While the operator has paused playback, it does not return
// until resumed or a quit is requested.
int Delay(double seconds);

// Lets the operator save the spectra ("Save spectra" in the window). The
// system registers its exporter once, after LoadPanel; `write(context, out)`
// then writes the spectra's CSV rows to `out` (the run-time has already
// written `#` lines naming the source and the time, and closes the file).
// The run-time calls it only on the system's own thread, inside
// GetUserEvent or a paused Delay, so it may read the system's state freely.
// Returns 0, or -1 when `write` is null.
int RegisterSpectraExport(void (*write)(void* context, FILE* out), void* context);

// Program start-up: parses the run-time's command-line options, starts the
// window (unless --headless) and calls `entry` with the program name and the
// remaining positional arguments. Returns the process exit status: entry's
// result, or 2 after a usage error.
int RunProgram(int argc, char* argv[], int (*entry)(int argc, char* argv[]));
