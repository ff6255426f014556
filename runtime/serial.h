// Serial-port run-time: the telemetry link. The system uses port number 1
// only; the device it stands for ("COM1") is chosen on the command line
// (--port). All calls come from the system's own thread.
#pragma once

// Opens and configures the port. Returns 0, or a negative status when the
// device cannot be opened; ComSystemError() and ComErrorText() then say why.
int OpenComConfig(int port, const char* device, long baud, int parity,
                  int data_bits, int stop_bits, int input_queue, int output_queue);

// Sets the read time-out, in seconds, for later ComRdByte calls.
int SetComTime(int port, double timeout_s);

// Returns the next received byte (0 to 255), or a negative value when no
// byte came within the time-out or the port failed. A failed or vanished
// port is reported only once the time-out has passed, and is reopened when
// the device comes back.
int ComRdByte(int port);

// Queue bytes for sending. Return the count queued, or a negative value.
int ComWrtByte(int port, int byte);
int ComWrt(int port, const char* buffer, int count);

int CloseCom(int port);

// The operating system's error number of the last failure (0 if none) and a
// readable reason.
int ComSystemError();
const char* ComErrorText();

// Negative results.
constexpr int COM_ERR_TIMEOUT = -99;
constexpr int COM_ERR_NOT_OPEN = -3;
constexpr int COM_ERR_OPEN_FAILED = -2;
constexpr int COM_ERR_IO = -1;
