// The event stream of the remote: every frame sent and every step of a
// script, numbered from 1 and kept for a while, so that a client that
// reconnects gets what it missed.
#pragma once

#include <cstdint>
#include <string>

// Starts numbering from 1 again; published runs after each event is kept, on
// the thread that published it.
void events_open(void (*published)());
// From any thread.
void events_publish(const std::string& json);
// Where a stream starts: after the event a reconnecting client names in its
// Last-Event-ID, or at the present for a new client (no such header, not a
// number, or a number above the latest: a page that saw an earlier run).
std::uint64_t events_start(const std::string* last_event_id);
// Appends the events after *after to *out in the event-stream form and moves
// *after on to the latest.
void events_since(std::uint64_t* after, std::string* out);
