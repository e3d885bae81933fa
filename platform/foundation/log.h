// NSLog: one line to stderr and, once a host sets one, to a log file of the device.
// Thread-safe. The format is printf's and must be a literal: texts from files or users go in
// as "%s" arguments, never as the format.
#pragma once

#include <string>

namespace platform {

void setLogFile(const std::string& path);  // empty: stderr only
void setLogToStderr(bool on);

}  // namespace platform

void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
