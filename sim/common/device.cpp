#include "sim/common/device.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <charconv>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "platform/device/device_state.h"
#include "sim/common/usage.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

std::string selfExecutable() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

}  // namespace

bool DeviceFolder::isInstalled() const {
    // Laid out once: a device whose packages were removed since stays as it is.
    return platform::fileExists(dpkgStatus()) && platform::fileExists(devicePlist());
}

ProgramLayout programLayout() {
    fs::path dir = fs::path(selfExecutable()).parent_path();
    // An installed host lives in PREFIX/libexec/vantrel, the user's programs in PREFIX/bin.
    if (dir.filename() == "vantrel" && dir.parent_path().filename() == "libexec")
        return {dir.parent_path().parent_path().string(), true};
    std::error_code ec;
    fs::path prefix = dir.parent_path();
    return {prefix.string(), fs::is_directory(prefix / "libexec/vantrel", ec)};
}

std::string ProgramLayout::program(const std::string& name) const {
    if (installed && platform::fileExists(prefix + "/libexec/vantrel/" + name)) return prefix + "/libexec/vantrel/" + name;
    return prefix + "/bin/" + name;
}

std::string programPath(const std::string& name) { return programLayout().program(name); }

std::string defaultDeviceFolder() {
    ProgramLayout layout = programLayout();
    if (!layout.installed) return layout.prefix + "/device";
    // XDG: a relative XDG_STATE_HOME is invalid and ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/vantrel/device";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] == '/' ? home : "") + "/.local/state/vantrel/device";
}

std::string deviceCommand(const DeviceFolder& device, const std::string& words) {
    std::string text = typedCommand("vantrel-device", "");
    if (device.chosen) {
        const std::string& folder = device.given.empty() ? device.root : device.given;
        // Quoted only when a shell would split it.
        bool plain = folder.find_first_of(" \t\n'\"$`\\;&|<>()*?[]{}~#!") == std::string::npos;
        std::string quoted = "'";
        for (char c : folder) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += " --device " + (plain ? folder : quoted + "'");
    }
    return text + " " + words;
}

DeviceFolder deviceFolder(const std::optional<std::string>& requested) {
    const char* fromEnvironment = std::getenv("VANTREL_DEVICE");
    const bool chosen = requested || (fromEnvironment && *fromEnvironment);
    std::string root = requested ? *requested : chosen ? std::string(fromEnvironment) : defaultDeviceFolder();
    auto trimmed = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    };
    std::error_code ec;
    fs::path absolute = fs::absolute(root, ec);
    std::string given = trimmed(ec ? root : absolute.string());
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (!ec) root = resolved.lexically_normal().string();
    return DeviceFolder{trimmed(root), given, chosen};
}

platform::Dictionary readDeviceState(const DeviceFolder& device) {
    return platform::readDictionaryFile(device.devicePlist()).value_or(platform::Dictionary{});
}

Result<platform::Dictionary> readDeviceStateForUpdate(const DeviceFolder& device) {
    struct stat st;
    if (::lstat(device.devicePlist().c_str(), &st) != 0 && errno == ENOENT) return platform::Dictionary{};
    auto state = platform::readDictionaryFile(device.devicePlist());
    // Written back over, a file we could not read would lose every key we did not change.
    if (!state)
        return failure("cannot read " + device.devicePlist() +
                       " (damaged, or over the 1 MiB a device file may take): left as it is, nothing applied");
    return *state;
}

bool writeDeviceState(const DeviceFolder& device, const platform::Dictionary& state) {
    return platform::writeDictionaryFile(device.devicePlist(), state);
}

std::vector<std::string> librariesFor(const DeviceFolder& device, const std::string& bundleIdentifier) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& file : fs::directory_iterator(device.dynamicLibraries(), ec)) {
        if (file.path().extension() != ".dylib") continue;
        fs::path filterPath = file.path();
        filterPath.replace_extension(".plist");
        auto filter = platform::readDictionaryFile(filterPath.string());
        if (!filter) continue;  // no filter: the loader injects nothing
        const platform::Value* f = platform::lookup(*filter, "Filter");
        const platform::Value* bundles = f && f->dictionary() ? platform::lookup(*f->dictionary(), "Bundles") : nullptr;
        if (!bundles || !bundles->array()) continue;
        for (const auto& b : *bundles->array())
            if (b.string() && *b.string() == bundleIdentifier) found.push_back(file.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool writePid(const std::string& path, pid_t pid) {
    std::string text = std::to_string(pid) + "\n";
    return platform::writeFileAtomically(path,
                                         std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool processRunsProgram(pid_t pid, const std::string& programName) {
    if (pid <= 0) return false;
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec) return false;
    std::string name = exe.filename().string();
    // A rebuilt program shows as "name (deleted)" while the old process runs.
    return name == programName || name == programName + " (deleted)";
}

// Whether the process's command line names the folder: an argument that is the folder, or an
// option's value inside it (dbus-daemon's --config-file=DIR/run/...).
bool commandLineNames(pid_t pid, const std::string& root) {
    auto bytes = platform::readWholeFile("/proc/" + std::to_string(pid) + "/cmdline", size_t{64} * 1024);
    if (!bytes) return false;
    std::string_view all(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::string inside = root + "/";
    while (!all.empty()) {
        std::string_view arg = all.substr(0, all.find('\0'));
        all.remove_prefix(std::min(all.size(), arg.size() + 1));
        if (arg == root) return true;
        if (size_t eq = arg.find('='); eq != std::string_view::npos && arg.substr(eq + 1).starts_with(inside)) return true;
    }
    return false;
}

std::optional<pid_t> readPid(const DeviceFolder& device, const std::string& path, const std::string& programName) {
    auto bytes = platform::readWholeFile(path, 64);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    pid_t pid = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (ec != std::errc() || pid <= 0) return std::nullopt;
    if (!processRunsProgram(pid, programName) || !commandLineNames(pid, device.root)) return std::nullopt;
    return pid;
}

bool restartSpringBoard(const DeviceFolder& device) {
    auto pid = readPid(device, device.springBoardPidFile(), "vantrel-springboard");
    return pid && ::kill(*pid, SIGTERM) == 0;
}

Result<platform::Fd> claimLaunchd(const DeviceFolder& device) {
    platform::Fd fd(::open(device.launchdLockFile().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return failure("cannot open " + device.launchdLockFile() + ": " + platform::errorText(errno));
    // A record lock: unlike flock, whoever asks learns the pid that holds it, and children
    // never inherit it, so it goes with launchd itself.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_SETLK, &lock) == 0) return fd;
    int err = errno;
    fd.reset();
    if (err == EACCES || err == EAGAIN) {
        auto pid = runningLaunchd(device).valueOr(std::nullopt);
        return failure("the device at " + device.root + " is already running" +
                       (pid ? " (pid " + std::to_string(*pid) + ")" : ""));
    }
    return failure("cannot lock " + device.launchdLockFile() + ": " + platform::errorText(err));
}

Result<std::optional<pid_t>> runningLaunchd(const DeviceFolder& device) {
    platform::Fd fd(::open(device.launchdLockFile().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno != ENOENT && errno != ENOTDIR)
            return failure("cannot read " + device.launchdLockFile() + ": " + platform::errorText(errno));
        return std::optional<pid_t>();
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_GETLK, &lock) != 0)
        return failure("cannot query " + device.launchdLockFile() + ": " + platform::errorText(errno));
    if (lock.l_type == F_UNLCK) return std::optional<pid_t>();
    return std::optional<pid_t>(lock.l_pid);
}

ControlLock::ControlLock(const DeviceFolder& device, bool create) {
    if (!create && !platform::fileExists(device.run())) return;
    if (create && !platform::createDirectories(device.run())) {
        error_ = "cannot create " + device.run();
        return;
    }
    fd_.reset(::open(device.controlLockFile().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_) {
        error_ = "cannot open " + device.controlLockFile() + ": " + platform::errorText(errno);
        return;
    }
    while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        error_ = "cannot lock " + device.controlLockFile() + ": " + platform::errorText(errno);
        release();
        return;
    }
}

void ControlLock::release() { fd_.reset(); }

std::optional<std::string> busAddress(const DeviceFolder& device) {
    auto bytes = platform::readWholeFile(device.busAddressFile(), 4096);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

Result<platform::BusPtr> openDeviceBus(const std::string& address, double timeoutSeconds) {
    platform::BusPtr bus;
    int r = sd_bus_new(platform::out(bus));
    if (r >= 0) r = sd_bus_set_address(bus.get(), address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus.get(), 1);
    if (r >= 0) r = sd_bus_set_method_call_timeout(bus.get(), static_cast<uint64_t>(timeoutSeconds * 1e6));
    if (r >= 0) r = sd_bus_start(bus.get());
    if (r < 0) return failure(std::string("the device bus cannot be joined: ") + platform::errorText(-r));
    return bus;
}

bool springBoardRuns(const DeviceFolder& device, double timeoutSeconds) {
    return static_cast<bool>(control(device, "Ping", nullptr, timeoutSeconds, "org.freedesktop.DBus.Peer"));
}

Result<std::string> control(const DeviceFolder& device, const char* method, const ControlArguments& arguments,
                            double timeoutSeconds, const char* interface) {
    auto address = busAddress(device);
    if (!address) return failure("the device at " + device.root + " is not running (" + deviceCommand(device, "start") + ")");
    platform::BusPtr bus = TRY(openDeviceBus(*address, timeoutSeconds));
    platform::MessagePtr call;
    int r = sd_bus_message_new_method_call(bus.get(), platform::out(call), kSpringBoardBusName, kControlObjectPath, interface,
                                           method);
    if (r >= 0 && arguments) r = arguments(call.get());
    if (r < 0) return failure(std::string("the call cannot be made: ") + platform::errorText(-r));
    sd_bus_error err = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, decltype(&sd_bus_error_free)> errOwned(&err, sd_bus_error_free);
    platform::MessagePtr reply;
    r = sd_bus_call(bus.get(), call.get(), 0, &err, platform::out(reply));
    // Errors of our interface are answers; anything else (no owner, timeout) means no answer.
    if (r < 0 && err.name && std::string_view(err.name).starts_with("com.quennick.vantrel.Error."))
        return failure(err.message ? err.message : "", err.name);
    if (r < 0)
        return failure(std::string("SpringBoard does not answer: ") + (err.message ? err.message : platform::errorText(-r)));
    std::string text;
    if (const char* s = nullptr;
        sd_bus_message_has_signature(reply.get(), "s") && sd_bus_message_read(reply.get(), "s", &s) >= 0 && s)
        text = s;
    return text;
}

namespace {

int appendValue(sd_bus_message* m, const platform::Value& v) {
    if (auto b = v.boolean()) return sd_bus_message_append(m, "v", "b", static_cast<int>(*b));
    if (auto i = v.integer()) return sd_bus_message_append(m, "v", "x", *i);
    if (auto d = v.real()) return sd_bus_message_append(m, "v", "d", *d);
    if (auto s = v.string()) return sd_bus_message_append(m, "v", "s", s->c_str());
    if (auto a = v.array()) {
        int r = sd_bus_message_open_container(m, 'v', "av");
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
        for (const auto& item : *a)
            if (r >= 0) r = appendValue(m, item);
        if (r >= 0) r = sd_bus_message_close_container(m);
        return r < 0 ? r : sd_bus_message_close_container(m);
    }
    return -EINVAL;  // the command line makes no data, dates or dictionaries
}

}  // namespace

int appendHardwareChanges(sd_bus_message* message, const platform::Dictionary& changes) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    for (const auto& [key, value] : changes) {
        if (r >= 0) r = sd_bus_message_open_container(message, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(message, "s", key.c_str());
        if (r >= 0) r = appendValue(message, value);
        if (r >= 0) r = sd_bus_message_close_container(message);
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

}  // namespace vantrel::sim
