#include "sim/device/device.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "platform/device/device_state.h"
#include "sim/device/safety.h"
#include "sim/device/sha256.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::string selfExecutable() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

}  // namespace

bool DeviceFolder::isInstalled() const {
    return platform::fileExists(dynamicLibraries() + "/Vantrel.dylib") && platform::fileExists(bundle() + "/Vantrel") &&
           platform::fileExists(devicePlist()) && platform::fileExists(installRecord());
}

std::string buildDirectory() {
    std::string exe = selfExecutable();
    if (!exe.empty()) {
        fs::path bin = fs::path(exe).parent_path();
        if (bin.filename() == "bin") return bin.parent_path().string();
    }
    return VANTREL_BINARY_DIR;
}

std::string sourceDirectory() { return VANTREL_SOURCE_DIR; }

std::string programPath(const std::string& name) { return buildDirectory() + "/bin/" + name; }

DeviceFolder deviceFolder(const std::optional<std::string>& requested) {
    std::string root = requested ? *requested : buildDirectory() + "/device";
    std::error_code ec;
    fs::path abs = fs::weakly_canonical(fs::absolute(root, ec), ec);
    if (!ec) root = abs.lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return DeviceFolder{root};
}

platform::Dictionary readDeviceState(const DeviceFolder& device) {
    return platform::readDictionaryFile(device.devicePlist()).value_or(platform::Dictionary{});
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
    return platform::writeFileAtomically(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
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

std::optional<pid_t> readPid(const std::string& path, const std::string& programName) {
    auto bytes = platform::readWholeFile(path, 64);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    pid_t pid = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (ec != std::errc() || pid <= 0) return std::nullopt;
    if (!processRunsProgram(pid, programName)) return std::nullopt;
    return pid;
}

bool restartSpringBoard(const DeviceFolder& device) {
    auto pid = readPid(device.springBoardPidFile(), "vantrel-springboard");
    return pid && ::kill(*pid, SIGTERM) == 0;
}

int claimLaunchd(const DeviceFolder& device, pid_t* holder, std::string* error) {
    int fd = ::open(device.launchdLockFile().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail(error, "cannot open " + device.launchdLockFile() + ": " + std::strerror(errno));
        return -1;
    }
    // A record lock: unlike flock, whoever asks learns the pid that holds it, and children
    // never inherit it, so it goes with launchd itself.
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) == 0) return fd;
    int err = errno;
    ::close(fd);
    if (err == EACCES || err == EAGAIN) {
        std::string ignored;
        if (auto pid = runningLaunchd(device, &ignored); pid && holder) *holder = *pid;
        fail(error, "the device at " + device.root + " is already running");
    } else {
        fail(error, "cannot lock " + device.launchdLockFile() + ": " + std::strerror(err));
    }
    return -1;
}

std::optional<pid_t> runningLaunchd(const DeviceFolder& device, std::string* error) {
    int fd = ::open(device.launchdLockFile().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) fail(error, "cannot read " + device.launchdLockFile() + ": " + std::strerror(errno));
        return std::nullopt;
    }
    Descriptor owned(fd);
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &lock) != 0) {
        fail(error, "cannot query " + device.launchdLockFile() + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (lock.l_type == F_UNLCK) return std::nullopt;
    return lock.l_pid;
}

ControlLock::ControlLock(const DeviceFolder& device, bool create) {
    if (!create && !platform::fileExists(device.run())) return;
    if (create && !platform::createDirectories(device.run())) {
        error_ = "cannot create " + device.run();
        return;
    }
    fd_ = ::open(device.controlLockFile().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "cannot open " + device.controlLockFile() + ": " + std::strerror(errno);
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        error_ = "cannot lock " + device.controlLockFile() + ": " + std::strerror(errno);
        release();
        return;
    }
}

void ControlLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::optional<std::string> busAddress(const DeviceFolder& device) {
    auto bytes = platform::readWholeFile(device.busAddressFile(), 4096);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

platform::Value parseValue(const std::string& text) {
    // [a,b,c]: a list (for example the installed apps).
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        platform::Array items;
        std::string inner = text.substr(1, text.size() - 2);
        size_t start = 0;
        while (start <= inner.size() && !inner.empty()) {
            size_t comma = inner.find(',', start);
            std::string item = inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            while (!item.empty() && item.front() == ' ') item.erase(item.begin());
            while (!item.empty() && item.back() == ' ') item.pop_back();
            if (!item.empty()) items.push_back(parseValue(item));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        return items;
    }
    if (text == "true" || text == "yes" || text == "on") return true;
    if (text == "false" || text == "no" || text == "off" || text == "none" || text == "null") return false;
    long long i = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), i);
    if (ec == std::errc() && p == text.data() + text.size() && !text.empty()) return i;
    double d = 0;
    auto [p2, ec2] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec2 == std::errc() && p2 == text.data() + text.size() && !text.empty()) return d;
    return text;
}

ControlReply control(const DeviceFolder& device, const char* method, const ControlArguments& arguments,
                     double timeoutSeconds, const char* interface) {
    ControlReply out;
    auto address = busAddress(device);
    if (!address) {
        out.message = "the device at " + device.root + " is not running (./vantrel device start)";
        return out;
    }
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> owned(bus, sd_bus_flush_close_unref);
    if (r >= 0) r = sd_bus_set_address(bus, address->c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_set_method_call_timeout(bus, static_cast<uint64_t>(timeoutSeconds * 1e6));
    if (r >= 0) r = sd_bus_start(bus);
    if (r < 0) {
        out.message = std::string("the device bus cannot be joined: ") + std::strerror(-r);
        return out;
    }
    sd_bus_message* call = nullptr;
    r = sd_bus_message_new_method_call(bus, &call, kSpringBoardBusName, kControlObjectPath, interface, method);
    std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)> callOwned(call, sd_bus_message_unref);
    if (r >= 0 && arguments) r = arguments(call);
    if (r < 0) {
        out.message = std::string("the call cannot be made: ") + std::strerror(-r);
        return out;
    }
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus, call, 0, &err, &reply);
    std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)> replyOwned(reply, sd_bus_message_unref);
    std::unique_ptr<sd_bus_error, decltype(&sd_bus_error_free)> errOwned(&err, sd_bus_error_free);
    // Errors of our interface are answers; anything else (no owner, timeout) means no answer.
    if (r < 0 && err.name && std::string_view(err.name).starts_with("com.quennick.vantrel.Error.")) {
        out.reached = true;
        out.errorName = err.name;
        out.message = err.message ? err.message : "";
        return out;
    }
    if (r < 0) {
        out.message = std::string("SpringBoard does not answer: ") + (err.message ? err.message : std::strerror(-r));
        return out;
    }
    out.reached = true;
    if (const char* text = nullptr; sd_bus_message_has_signature(reply, "s") && sd_bus_message_read(reply, "s", &text) >= 0 && text)
        out.text = text;
    return out;
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
