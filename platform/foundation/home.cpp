#include "platform/foundation/home.h"

#include <mutex>

namespace {
std::mutex homeMutex;
std::string home = "/var/mobile";  // the device's answer when no host set one
}  // namespace

namespace platform {
void setHomeDirectory(const std::string& path) {
    std::lock_guard lock(homeMutex);
    home = path;
}
}  // namespace platform

std::string NSHomeDirectory() {
    std::lock_guard lock(homeMutex);
    return home;
}
