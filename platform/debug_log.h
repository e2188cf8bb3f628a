// The debug log: "dbg_log.txt" in the log directory, one line per call, flushed at once.
// Lines start with the local time as "day hour:minute:second millisecond " (no zero padding);
// the caller's text follows exactly as formatted (callers end it with "\r\n" or "\n").
#pragma once
#include <cstddef>
#include <string>

// Opens (or reopens) the three log files in the log directory: "dbg_log.txt" for appending,
// "dbg_log1.txt" and "dbg_log2.txt" emptied. Returns 0, or -1 when the log cannot be opened
// (log_line then does nothing).
int open_debug_log();
// Opens the log in dir (with trailing '/'), for tests and tools. Returns 0 or -1.
int open_debug_log_in(const std::string& dir);
void close_debug_log();

// printf-style; the formatted text is cut to 4095 characters. Each line is written with a single
// write, so lines of different threads never tear. Returns 0.
int log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The log prefix for the given time fields, as written in front of every line.
std::string log_prefix(int day, int hour, int minute, int second, int millisecond);

// When "dbg_log.txt" would grow past this many bytes it is renamed to "dbg_log.old.txt" (replacing
// an older copy) and a new one is started. Default 10 MB.
void set_debug_log_limit(size_t bytes);

// Called after every line written (any thread, no lock held); null for none. Tests wait on it.
void set_debug_log_observer(void (*observer)());

// Full path of the open log file, empty when closed.
std::string debug_log_path();
