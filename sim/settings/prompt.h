// Reading the Settings app's commands from standard input while the run loop serves the device
// bus: lines from a pipe (runLines), or a prompt in a terminal with GNU readline's line editing
// and an in-memory history (runPrompt, readline's callback interface fed by the loop's watch
// on stdin). Both return when the input ends or the loop is told to exit. Main thread.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/sdevent_runloop.h"

namespace vantrel::sim {

// Handles one line; false ends the reading (quit).
using LineHandler = std::function<bool(const std::string& line)>;

// One call per line. A line longer than 64 KiB is read on in chunks and thrown away up to its
// newline, answered "the line is longer than ..." and "error" and said to `refused`, so a peer
// without newlines cannot grow the host.
void runLines(platform::SdEventRunLoop& loop, const LineHandler& handle, const std::function<void()>& refused);
// The candidates for the last of the words typed so far (the one being typed, maybe empty);
// "@dir" or "@file" first: folders or files.
using Completer = std::function<std::vector<std::string>(const std::vector<std::string>& words)>;
// The prompt: one call per line entered; non-empty lines go to the history; Tab completes with
// `complete`.
void runPrompt(platform::SdEventRunLoop& loop, const std::string& prompt, const LineHandler& handle,
               const Completer& complete = {});

}  // namespace vantrel::sim
