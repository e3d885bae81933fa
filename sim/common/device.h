// The simulated device as a folder laid out like a phone, and what every program of the device
// needs to find in it: the installed deliverables, the home, the hardware state, the log, the
// bus address and the recorded process ids (in run/, kept to this user alone). Plain functions
// over paths; failures come back as a Result with the reason (result.h), nothing throws.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/foundation/sd_ptr.h"
#include "platform/foundation/value.h"
#include "sim/common/result.h"

struct sd_bus_message;

namespace vantrel::sim {

struct DeviceFolder {
    // The folder with the links of its existing part resolved: what every later use names.
    std::string root;
    // The path as the user gave it (made absolute, nothing resolved): its links are checked as such.
    std::string given;
    // Named by --device or VANTREL_DEVICE rather than the default: hints then name it too.
    bool chosen = false;

    std::string dynamicLibraries() const { return root + "/Library/MobileSubstrate/DynamicLibraries"; }
    std::string preferenceBundles() const { return root + "/Library/PreferenceBundles"; }
    std::string bundle() const { return preferenceBundles() + "/Vantrel.bundle"; }
    std::string preferenceLoaderEntries() const { return root + "/Library/PreferenceLoader/Preferences"; }
    std::string home() const { return root + "/var/mobile"; }
    std::string devicePlist() const { return root + "/device.plist"; }
    std::string log() const { return root + "/var/log/syslog"; }
    std::string run() const { return root + "/run"; }
    std::string busAddressFile() const { return run() + "/bus.address"; }
    std::string springBoardPidFile() const { return run() + "/SpringBoard.pid"; }
    std::string launchdPidFile() const { return run() + "/launchd.pid"; }
    std::string busPidFile() const { return run() + "/dbus-daemon.pid"; }
    // launchd holds a lock on this for its whole life: one device per folder.
    std::string launchdLockFile() const { return run() + "/launchd.lock"; }
    // start, stop and install take turns on this one.
    std::string controlLockFile() const { return run() + "/control.lock"; }
    // The files of the installed packages, with the SHA-256 of each (what loadInstalled checks).
    std::string installRecord() const { return root + "/Library/Installed.plist"; }
    // The package database, as dpkg keeps it.
    std::string dpkgDirectory() const { return root + "/var/lib/dpkg"; }
    std::string dpkgStatus() const { return dpkgDirectory() + "/status"; }

    bool isInstalled() const;
};

// The device folder of --device DIR, else $VANTREL_DEVICE, else the default one
// (defaultDeviceFolder), with the links of its existing part resolved once so that every later
// use names the folder that was checked; the path as given is kept beside it for checkDeviceFolder.
DeviceFolder deviceFolder(const std::optional<std::string>& requested);

// Where the running program's companions are, found from its own executable (/proc/self/exe),
// never from a path compiled in: the same programs run from a build tree (build/bin, build/lib,
// build/packages) and installed (PREFIX/bin, libexec/vantrel, lib/vantrel, share/vantrel).
struct ProgramLayout {
    std::string prefix;  // the build tree, or the installation prefix
    bool installed = false;

    std::string program(const std::string& name) const;
    std::string libraries() const { return prefix + (installed ? "/lib/vantrel" : "/lib"); }
    std::string packages() const { return prefix + (installed ? "/share/vantrel" : "/packages"); }
};
ProgramLayout programLayout();
// A program of the device, beside the running one (libexec/vantrel for the hosts when installed).
std::string programPath(const std::string& name);
// build/device for a build tree; ${XDG_STATE_HOME:-~/.local/state}/vantrel/device installed.
std::string defaultDeviceFolder();

// What --device says in every program's help.
inline constexpr char kDeviceOptionHelp[] =
    "The device folder (default: $VANTREL_DEVICE, else build/device run from a build tree, "
    "${XDG_STATE_HOME:-~/.local/state}/vantrel/device installed)";

// How a message spells a command acting on this very device: the program as the user typed it
// (typedCommand), the folder when it is not the default one, then the words:
// "vantrel-device --device /tmp/d start".
std::string deviceCommand(const DeviceFolder& device, const std::string& words);

// device.plist as a dictionary (empty when missing or unreadable).
platform::Dictionary readDeviceState(const DeviceFolder& device);
// For a read-modify-write: missing is empty, but a file that exists and cannot be read is an
// error, so that it is never replaced by what little we know.
Result<platform::Dictionary> readDeviceStateForUpdate(const DeviceFolder& device);
bool writeDeviceState(const DeviceFolder& device, const platform::Dictionary& state);

// The dylibs of DynamicLibraries whose filter plist names the bundle identifier, sorted.
std::vector<std::string> librariesFor(const DeviceFolder& device, const std::string& bundleIdentifier);

// Pid files. readPid gives the pid only while that process still runs the named program for
// this device (its command line names the folder), so neither a recycled pid nor one copied
// from another device's run/ is ever taken for ours.
bool writePid(const std::string& path, pid_t pid);
std::optional<pid_t> readPid(const DeviceFolder& device, const std::string& path, const std::string& programName);
bool processRunsProgram(pid_t pid, const std::string& programName);

// The device shell's "killall SpringBoard": ends the recorded SpringBoard process, that pid
// alone, and launchd starts SpringBoard again. False when no SpringBoard of this device runs.
bool restartSpringBoard(const DeviceFolder& device);

// launchd's claim on the folder: the descriptor holding launchdLockFile's write lock (kept for
// launchd's life, closed on exec); when another launchd has it, the error names its pid.
Result<platform::Fd> claimLaunchd(const DeviceFolder& device);

// The pid of the launchd holding the folder, nullopt when none does; an error when that cannot
// be known (permission denied), never taken for "not running".
Result<std::optional<pid_t>> runningLaunchd(const DeviceFolder& device);

// An exclusive flock on controlLockFile for one start, stop or install: they take turns. With
// create false a folder without run/ is left alone (held() is then false, error empty).
class ControlLock {
public:
    ControlLock(const DeviceFolder& device, bool create);
    ControlLock(const ControlLock&) = delete;
    ControlLock& operator=(const ControlLock&) = delete;
    ~ControlLock() { release(); }
    bool held() const { return static_cast<bool>(fd_); }
    const std::string& error() const { return error_; }
    void release();

private:
    platform::Fd fd_;
    std::string error_;
};

// The device bus address recorded by launchd, or nullopt.
std::optional<std::string> busAddress(const DeviceFolder& device);

// A client connection of its own to the device bus at address, its method calls bounded by
// timeoutSeconds: the one way the device's programs open one.
Result<platform::BusPtr> openDeviceBus(const std::string& address, double timeoutSeconds);

// The typed interface the SpringBoard host offers on the device bus (docs/dbus.md).
inline constexpr char kSpringBoardBusName[] = "com.apple.springboard";
inline constexpr char kControlObjectPath[] = "/com/apple/springboard";
inline constexpr char kControlInterface[] = "com.quennick.vantrel.Device";
inline constexpr char kRedrawnSignal[] = "StatusBarRedrawn";  // t: redraw count
inline constexpr char kErrorNoSuchAlert[] = "com.quennick.vantrel.Error.NoSuchAlert";
inline constexpr char kErrorInvalidArgument[] = "com.quennick.vantrel.Error.InvalidArgument";
inline constexpr char kErrorNotAllowed[] = "com.quennick.vantrel.Error.NotAllowed";

// SpringBoard started by launchd after a crash loop: nothing of DynamicLibraries is loaded.
inline constexpr char kSafeModeArgument[] = "--safe-mode";
// SpringBoard's exit status when it asks launchd for a respring (the safe-mode alert's
// Restart): it comes back with its extensions.
inline constexpr int kRespringExitStatus = 75;
// SpringBoard's exit status when the device bus closed one of its connections: launchd starts
// it again, but a peer that gets it dropped (a reply too large for the bus) makes no crash loop.
inline constexpr int kLostBusExitStatus = 69;

using ControlArguments = std::function<int(sd_bus_message*)>;

// How long a command of the device's programs waits for SpringBoard's answer.
inline constexpr double kControlTimeout = 5.0;

// Calls one method of SpringBoard (kControlInterface unless another is named, for example
// org.freedesktop.DBus.Peer's Ping) on a connection of its own, within timeoutSeconds. The
// reply's string when the method returns one (else empty); a refusal of SpringBoard's comes
// back with its kError* name, a SpringBoard that could not be reached with none.
Result<std::string> control(const DeviceFolder& device, const char* method, const ControlArguments& arguments,
                            double timeoutSeconds, const char* interface = kControlInterface);

// Whether the device's SpringBoard answers a D-Bus Ping on the device bus within timeoutSeconds:
// the device runs. Nothing is started or written.
bool springBoardRuns(const DeviceFolder& device, double timeoutSeconds);

// Appends changes as the a{sv} of SetHardware: booleans b, integers x, reals d, strings s,
// lists av (`device set` sends its words as the strings typed; SpringBoard parses them by key).
int appendHardwareChanges(sd_bus_message* message, const platform::Dictionary& changes);

}  // namespace vantrel::sim
