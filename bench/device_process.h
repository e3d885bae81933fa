// What the device benchmarks share: running vantrel-device on a folder of their own and
// waiting for it. The programs are those of this build tree (VANTREL_BINARY_DIR).
#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace vantrel::bench {

// vantrel-device --device FOLDER COMMAND [FLAG], run to its end; its exit status, -1 if it
// could not run or was killed.
inline int runDevice(const std::string& folder, const char* command, const char* flag = nullptr) {
    std::string program = std::string(VANTREL_BINARY_DIR) + "/bin/vantrel-device";
    std::vector<char*> argv{program.data(), const_cast<char*>("--device"), const_cast<char*>(folder.c_str()),
                            const_cast<char*>(command)};
    if (flag) argv.push_back(const_cast<char*>(flag));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vantrel::bench
