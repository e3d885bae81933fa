// Rounds of chaos against a running device: one-shot `settings main set` changes and status bar
// taps while SpringBoard and the Settings app are stopped (SIGSTOP, up to 6 s) or killed
// (SIGKILL) at random. A change is acknowledged when its command exited 0; after every round each
// acknowledged value that no later attempt touched must still be in the main preference file.
// Used by test_e2e_reliability (a few rounds) and vantrel-chaos (many). Every program started
// here is ended by its pid; every wait has a reaper.
#pragma once

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/file.h"

namespace vantrel::chaos {

struct Tally {
    int rounds = 0, acknowledged = 0, refused = 0, lost = 0, stops = 0, kills = 0;
    std::vector<std::string> losses;  // "round N: KEY was V"
};

// A child process started with fork and exec, ended by its pid.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a stopped child must not outlive the chaos
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            _exit(127);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { wait(0); }
    pid_t pid() const { return pid_; }
    // Whether it has ended, without reaping it: its pid stays ours until wait().
    bool ended() const {
        siginfo_t info{};
        return pid_ <= 0 ||
               (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_);
    }
    // The exit code, or -1 when it was killed (by a signal, or by the reaper after `reaper` s).
    int wait(double reaper) {
        if (pid_ <= 0) return code_;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(reaper);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGCONT);
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return code_;
    }

private:
    pid_t pid_ = -1;
    int code_ = -1;
};

// The recorded SpringBoard pid, only while that process still runs the SpringBoard host.
inline std::optional<pid_t> springBoardPid(const std::string& folder) {
    std::ifstream in(folder + "/run/SpringBoard.pid");
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return std::nullopt;
    std::ifstream cmd("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argv0;
    std::getline(cmd, argv0, '\0');
    if (argv0.find("vantrel-springboard") == std::string::npos) return std::nullopt;
    return static_cast<pid_t>(pid);
}

// Whether the process holds the flock of the file with this inode (from /proc/locks).
inline bool holdsLock(pid_t pid, uint64_t inode) {
    std::ifstream in("/proc/locks");
    std::string line;
    const std::string who = " " + std::to_string(pid) + " ", what = ":" + std::to_string(inode) + " ";
    while (std::getline(in, line))
        if (line.find(" FLOCK ") != std::string::npos && line.find(who) != std::string::npos &&
            line.find(what) != std::string::npos)
            return true;
    return false;
}

// Runs `rounds` rounds on the running device in `folder`; `bin` is the folder of its programs.
// `progress` is told of each round's end.
inline Tally runRounds(const std::string& bin, const std::string& folder, int rounds, unsigned seed,
                       const std::function<void(const Tally&)>& progress = {}) {
    const std::string prefs = folder + "/var/mobile/Library/Preferences/com.quennick.vantrel.plist";
    const std::string lockFile = folder + "/var/mobile/Library/Preferences/.com.quennick.vantrel.plist.lock";
    const std::vector<std::string> keys = {"lockclock", "samelockstatusbar", "timeandram", "hideallls", "hideall",
                                           "ramtime",   "activatorenabled",  "wifi",       "battery",   "alarm"};
    constexpr double kReaper = 90.0;  // a set may wait out a stopped peer's lock several times
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // What the file must hold: the last acknowledged value of each key no later attempt touched.
    std::map<std::string, bool> expected;
    Tally tally;
    for (int round = 1; round <= rounds; ++round) {
        // Three different keys a round, one after the other.
        std::vector<std::string> chosen = keys;
        std::shuffle(chosen.begin(), chosen.end(), rng);
        std::vector<std::pair<std::string, bool>> attempts;
        for (int i = 0; i < 3; ++i) attempts.emplace_back(chosen[i], uniform(0, 1) == 1);
        std::vector<int> codes(attempts.size(), -1);
        std::mutex m;  // a Settings pid is signalled only while it is unreaped, so never recycled
        pid_t settingsPid = 0;
        std::atomic<bool> writing{true};
        std::thread writer([&] {
            for (size_t i = 0; i < attempts.size(); ++i) {
                const auto& [key, on] = attempts[i];
                Child set({bin + "/vantrel-settings", "--device", folder, "main", "set", key, on ? "true" : "false"});
                {
                    std::lock_guard lock(m);
                    settingsPid = set.pid();
                }
                const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kReaper);
                while (!set.ended() && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                {
                    std::lock_guard lock(m);
                    settingsPid = 0;
                }
                codes[i] = set.wait(0);
            }
            writing = false;
        });
        std::thread tapper([&] {
            while (writing) {
                Child tap({bin + "/vantrel-device", "--device", folder, "tap"});
                tap.wait(kReaper);
            }
        });
        // Stop or kill one host at a random moment, a few times a round.
        int strikes = 0;
        while (writing && strikes < 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(uniform(0, 400)));
            bool springBoard = uniform(0, 1) == 1;
            bool kill = uniform(0, 3) == 0;
            // Half the strikes wait for the moment the victim holds the file's lock (a write in
            // flight, its fsync under way): the stall that matters.
            bool midWrite = uniform(0, 1) == 1;
            int stopFor = uniform(500, 6000);
            std::unique_lock lock(m);
            pid_t victim = springBoard ? springBoardPid(folder).value_or(0) : settingsPid;
            if (victim <= 0) continue;
            struct stat st {};
            if (midWrite && ::stat(lockFile.c_str(), &st) == 0) {
                const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
                while (!holdsLock(victim, st.st_ino) && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));  // a write holds it for ms
            }
            ++strikes;
            if (kill) {
                ::kill(victim, SIGKILL);  // launchd starts SpringBoard again
                ++tally.kills;
                continue;
            }
            ::kill(victim, SIGSTOP);  // a stopped process cannot end: its pid stays ours
            ++tally.stops;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(stopFor));
            ::kill(victim, SIGCONT);
        }
        writer.join();
        tapper.join();
        for (size_t i = 0; i < attempts.size(); ++i) {
            const auto& [key, on] = attempts[i];
            // An acknowledged value counts from now on; any other attempt may or may not have landed.
            if (codes[i] == 0) {
                expected[key] = on;
                ++tally.acknowledged;
            } else {
                expected.erase(key);
                ++tally.refused;
            }
        }
        auto file = platform::readDictionaryFile(prefs);
        for (auto it = expected.begin(); it != expected.end();) {
            const platform::Value* v = file ? platform::lookup(*file, it->first) : nullptr;
            if (v && v->boolean() && *v->boolean() == it->second) {
                ++it;
                continue;
            }
            ++tally.lost;
            tally.losses.push_back("round " + std::to_string(round) + ": " + it->first + " was " +
                                   (it->second ? "true" : "false"));
            it = expected.erase(it);  // counted once
        }
        tally.rounds = round;
        if (progress) progress(tally);
    }
    return tally;
}

}  // namespace vantrel::chaos
