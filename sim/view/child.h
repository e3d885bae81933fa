// The view's children (the Settings app's session, rsvg-convert): a program started with its
// standard input and output on pipes to us, and no other descriptor of ours (the listening
// socket, browsers' connections) reaching it. The caller owns the pid and both ends.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "sim/common/result.h"

namespace vantrel::sim::view {

struct PipedChild {
    pid_t pid = -1;
    int input = -1;   // what we write to its standard input
    int output = -1;  // what we read of its standard output
};

// Starts program (an absolute path) with args after argv[0]; an error names the program.
Result<PipedChild> spawnPiped(const std::string& program, const std::vector<std::string>& args);

}  // namespace vantrel::sim::view
