// The four host operations for programs that run the fitting core from a
// console (the example, the benchmark, the peer comparison): scratch memory
// from calloc, the progress lines on stdout, flushed at each "drawnow".
#ifndef DOVEX_TESTS_CONSOLE_HOST_H
#define DOVEX_TESTS_CONSOLE_HOST_H

#include <cstddef>
#include <string>
#include <vector>

// Whether the progress lines go to stdout; they do until turned off.
void console_echo(bool on);

// Also appends every progress line to *text, until called with null.
void console_capture(std::string *text);

// Also appends the calling thread's processor time in seconds at every
// "drawnow", which the fit runs once per sweep, to *times, until called
// with null.
void console_time_sweeps(std::vector<double> *times);

// The most scratch memory, in bytes, the core held at once since the last
// console_reset_peak (or the start).
std::size_t console_peak_bytes();
void console_reset_peak();

#endif
