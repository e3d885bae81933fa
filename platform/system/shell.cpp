#include "platform/system/shell.h"

#include <mutex>

#include "platform/foundation/log.h"

namespace platform {
namespace {

struct Shell {
    std::mutex m;
    std::vector<std::string> commands;
    std::function<void()> restart;
};
Shell& shell() {
    static Shell s;
    return s;
}

}  // namespace

int system(const std::string& command) {
    std::function<void()> restart;
    {
        std::lock_guard lock(shell().m);
        shell().commands.push_back(command);
        restart = shell().restart;
    }
    NSLog("shell: %s", command.c_str());
    if (command != "killall SpringBoard" && command != "killall backboardd") return 0;
    if (!restart) return 1;
    try {
        restart();
    } catch (...) {
        NSLog("shell: the SpringBoard restart failed");
        return 1;
    }
    return 0;
}

void setSpringBoardRestartHandler(std::function<void()> handler) {
    std::lock_guard lock(shell().m);
    shell().restart = std::move(handler);
}

std::vector<std::string> shellCommands() {
    std::lock_guard lock(shell().m);
    return shell().commands;
}

void clearShellCommands() {
    std::lock_guard lock(shell().m);
    shell().commands.clear();
}

}  // namespace platform
