// The event stream of the remote: every frame sent and every step of a
// script, numbered from 1 and kept for a while, so that a client that
// reconnects gets what it missed.
#pragma once

#include <cstdint>
#include <string>

void events_open();
void events_publish(const std::string& json);
// Waits at most timeout_ms for events after the one numbered after; appends
// them to *out in the event-stream form and moves after on. False once the
// stream has been closed.
bool events_wait(std::uint64_t* after, std::string* out, unsigned timeout_ms);
// The latest event's number (0 when there is none yet).
std::uint64_t events_latest();
// Ends every wait: the server is stopping.
void events_close();
