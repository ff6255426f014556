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
// meanwhile. The first wait of a frame pass (the reader's pacing, before it
// reads) is where the operator's seek, step, loop and new recording are
// carried out (replay/replay.h); while the operator has paused playback,
// it does not return until resumed, stepped or a quit is requested.
int Delay(double seconds);

// Lets the operator save the spectra ("Save spectra" in the window). The
// system registers its exporter once, after LoadPanel; `write(context, out)`
// then writes the spectra's CSV rows to `out` (the run-time has already
// written `#` lines naming the source and the time, and closes the file).
// The run-time calls it only on the system's own thread, inside
// GetUserEvent or a paused Delay, so it may read the system's state freely.
// Returns 0, or -1 when `write` is null.
int RegisterSpectraExport(void (*write)(void* context, FILE* out), void* context);

// Lets the run-time keep the spectra from counting a frame twice when the
// operator moves the playback back (seek, step back, playing again from the
// start) or opens another recording: it then calls `clear(context)` (the
// system's "clear both spectra") on the system's own thread, at the start of
// a frame pass, before the reader reads. Registered once, after LoadPanel.
// Returns 0, or -1 when `clear` is null.
int RegisterSpectraClear(void (*clear)(void* context), void* context);

// ----- Streams: the playback input and the recording ------------------------
//
// The system's two files. The engine the system was first written against
// supplied the standard stream calls (fopen, fread, fseek, getc, fwrite,
// fclose); these take their place with the same shape. Always binary; not
// traced; called from the system's own thread.
//
// An input (mode "rb") is read through a look-back buffer, so that any input
// can step back up to FILE_LOOK_BACK bytes: a regular file, a pipe, a FIFO, a
// character device and "-" (standard input) give the same bytes at the same
// positions. A read error is reported by the run-time itself (a line on
// standard output, the exit status) and then looks like the end of the input.
//
// A recording (mode "ab" or "wb") is buffered in memory and written by the
// run-time in the background: received bytes reach the file within a
// fraction of a second and are synchronised to the disk at least once a
// second, however long the caller stays in one call. When the file cannot be
// written (disk full, file too large, ...), the run-time says so at once,
// shows "NOT RECORDING" in the window, keeps up to FILE_BACKLOG bytes in
// memory and retries; when writing resumes it says how many bytes are missing
// from the file, and the program then ends with a status that says so.

struct FileStream;  // opaque; from FileOpen until FileClose

// How far back any input can step from its current position.
constexpr long FILE_LOOK_BACK = 4096;
// Bytes a recording holds in memory while its file cannot be written (about
// 9 minutes of the link at 1920 bytes/s); bytes beyond are lost and counted.
constexpr long FILE_BACKLOG = 1L << 20;

// Opens `path`. Mode "rb": an input, which must be a regular file, a pipe, a
// FIFO or a character device ("-" is standard input). Mode "ab" (append,
// created if missing) or "wb" (replaced): a recording. Returns the stream,
// or nullptr when the file cannot be opened (a directory as input, no such
// file, no permission, another mode); FileErrorText(nullptr) then says why.
FileStream* FileOpen(const char* path, const char* mode);

// Reads up to `count` items of `size` bytes into `buffer`. Returns the
// number of whole items read: fewer than `count` at the end of the input or
// after a read error. The position moves by every byte read, those of a
// partial item included. 0 on a recording.
size_t FileRead(void* buffer, size_t size, size_t count, FileStream* stream);

// The next byte of an input (0..255), or EOF at its end, after a read error,
// or once a quit is pending (looked for every few KiB read this way, so that
// a hunt across a long stretch without a frame never holds a quit up).
int FileGetc(FileStream* stream);

// Moves an input's position by `offset` from `origin` (SEEK_SET, SEEK_CUR or
// SEEK_END). Returns 0, or -1 with the position unchanged when it cannot be
// reached: more than FILE_LOOK_BACK bytes back in an input that is not a
// regular file, SEEK_END in one, a position before the start, a recording.
int FileSeek(FileStream* stream, long offset, int origin);

// Appends `count` items of `size` bytes to a recording. Returns `count`, or
// fewer when bytes had to be dropped (the file cannot be written and the
// backlog is full; the run-time has reported it). 0 on an input.
size_t FileWrite(const void* data, size_t size, size_t count, FileStream* stream);

// Asks for a recording's buffered bytes to be handed to the operating system
// now, without waiting for it. Returns 0, or EOF while the file cannot be
// written (on an input: EOF).
int FileFlush(FileStream* stream);

// Closes the stream (a null stream is ignored). A recording's remaining bytes
// are written and synchronised to the disk first. Returns 0, or EOF when a
// recording ends with bytes missing from its file or an input could not be
// read to its end (both already reported).
int FileClose(FileStream* stream);

// Why the last failing call on `stream` failed ("" when none); with nullptr,
// why the last FileOpen failed.
const char* FileErrorText(FileStream* stream);

