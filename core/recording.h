// The recording port: the break line as a Value Change Dump (1 ns timescale),
// times taken from the counter, the wake-up byte as a marked span.
#pragma once

#include "../platform/platform.h"

PlatHandle recording_open(const char* name, int* error);
bool recording_is_open(PlatHandle file);
void recording_line(PlatHandle file, bool break_on);
void recording_wakeup(PlatHandle file);
void recording_idle(PlatHandle file);
bool recording_close(PlatHandle file);
