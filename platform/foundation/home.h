// NSHomeDirectory: the simulated device's home (var/mobile of the device folder), set by the
// host or a test before anything reads it. Never the real $HOME. Thread-safe.
#pragma once

#include <string>

namespace platform {
void setHomeDirectory(const std::string& path);
}

std::string NSHomeDirectory();
