// The one thread that owns the port: frames and scripts go out one at a
// time, never overlapping. A frame asked for while a script plays is
// refused, not queued: the robot would do it at a moment nobody chose.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

#include <functional>
#include <string>

// The bits of a frame of the model.
int frame_bits(RobotModel model);

// Starts the thread once it has its realtime route (chosen on the thread).
void sender_start(Port* port);
// That route, "RTKit, priority 20" and the like ("" when none was asked).
std::string sender_realtime();

enum SendOutcome { SEND_DONE, SEND_BUSY, SEND_PORT_FAILED, SEND_STOPPING };
// Told the outcome of a frame, on the sender's thread or the caller's.
typedef std::function<void(SendOutcome)> SendDone;
// Queues one frame; done hears once it has gone out, or why it did not.
void sender_send(const std::string& name, command_code code, RobotModel model,
                 const SendDone& done);
// Starts playing a script; SEND_BUSY when one is playing already.
SendOutcome sender_play(const std::string& text, RobotModel model);
// Stops the script after its current frame; false when none plays.
bool sender_stop_script();

// The first step of stopping: nothing more is taken, frames still queued are
// answered SEND_STOPPING and never sent; the frame on the line finishes.
void sender_quit();
// Waits for the thread's end (after sender_quit).
void sender_finish();
