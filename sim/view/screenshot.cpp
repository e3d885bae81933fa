#include "sim/view/screenshot.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/sd_ptr.h"
#include "sim/common/process.h"
#include "sim/common/usage.h"
#include "sim/view/svg.h"

namespace vantrel::sim::view {
namespace {

bool rootOnly(const struct stat& st) { return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0; }

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<std::string> trustedProgram(const std::string& name) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the view changes its environment
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty() || dir.front() != '/') continue;  // a relative folder depends on where we stand
        struct stat d {};
        if (::stat(dir.c_str(), &d) != 0 || !S_ISDIR(d.st_mode) || !rootOnly(d)) continue;
        std::string candidate = dir + "/" + name;
        struct stat f {};
        if (::stat(candidate.c_str(), &f) != 0 || !S_ISREG(f.st_mode) || !rootOnly(f) || !(f.st_mode & S_IXUSR)) continue;
        return candidate;
    }
    return std::nullopt;
}

Result<std::string> runFilter(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                              double timeoutSeconds) {
    constexpr size_t kMaxPicture = size_t{64} << 20;
    auto ran = runCapture(program, args, input, timeoutSeconds, kMaxPicture);
    if (!ran && ran.error().name == "TimedOut")
        return failure(program + " took longer than " + std::to_string(static_cast<int>(timeoutSeconds)) + " s");
    if (!ran) return ran.error();
    if (!ran->exitedZero()) return failure(program + " failed");
    return std::move(ran->output);
}

Result<void> writeReplacing(const std::string& path, const std::string& data) {
    std::string dir = ".", base = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
    if (base.empty()) return failure(path + " names a folder, not a file");
    // Everything relative to the folder opened once: a folder swapped for a link meanwhile
    // cannot send the picture, or the clean-up, anywhere else.
    platform::Fd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return failure("cannot write in " + dir + ": " + platform::errorText(errno));
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(std::random_device{}());
        fd = ::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failure("cannot write in " + dir + ": " + platform::errorText(errno));
    bool ok = ::fchmod(fd, 0644) == 0;
    for (size_t done = 0; ok && done < data.size();) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::renameat(folder.get(), temp.c_str(), folder.get(), base.c_str()) != 0) {
        std::string why = platform::errorText(errno);
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return failure("cannot write " + path + ": " + why);
    }
    return {};
}

Result<SvgOptions> shotFraming(const Json& status, const ShotOptions& options) {
    SvgOptions svg{options.width, Framing::StatusBar, static_cast<double>(options.scale)};
    auto shown = [&](const char* pointer) {
        Json::json_pointer p(pointer);
        return status.contains(p) && status[p].is_boolean() && status[p].get<bool>();
    };
    switch (options.shot) {
    case Shot::StatusBar: break;
    case Shot::Phone: svg.framing = Framing::Phone; break;
    case Shot::LockScreen:
        if (!shown("/locked")) return failure("the lock screen is not shown; lock the device first");
        svg.framing = Framing::Screen;
        break;
    case Shot::NotificationCentre:
        if (!shown("/notificationCenter/open")) return failure("Notification Centre is not open; pull it down first");
        svg.framing = Framing::Screen;
        break;
    }
    return svg;
}

Result<std::string> shotPicture(const Json& status, const ShotOptions& options) {
    auto framing = shotFraming(status, options);
    if (!framing) return framing.error();
    return renderPhone(status, "", *framing);
}

Result<void> screenshot(const DeviceFolder& device, const std::string& file, const ShotOptions& options) {
    bool png = endsWith(file, ".png");
    if (!png && !endsWith(file, ".svg")) return failure("the picture's name must end in .svg or .png: " + file);
    auto text = control(device, "Status", nullptr, 5.0);
    if (!text) return failure(text.error().message);
    Json status = Json::parse(*text, nullptr, false);
    if (!status.is_object()) return failure("SpringBoard's status is not JSON");
    auto picture = shotPicture(status, options);
    // Refused for a screen not shown: say how to show it on this very device.
    if (!picture && options.shot == Shot::LockScreen)
        return failure(picture.error().message + " (" + deviceCommand(device, "lock") + ")");
    if (!picture && options.shot == Shot::NotificationCentre)
        return failure(picture.error().message + " (" + deviceCommand(device, "nc open") + ")");
    if (!picture) return picture.error();
    const std::string& svg = *picture;
    if (!png) return writeReplacing(file, svg);
    auto converter = trustedProgram("rsvg-convert");
    if (!converter) return failure("rsvg-convert is not installed in a folder of root's (apt-get install librsvg2-bin)");
    // The picture's size is the drawing's own (points times the scale, or the width asked for).
    auto bytes = runFilter(*converter, {"--format=png"}, svg, 30.0);
    if (!bytes) return bytes.error();
    if (bytes->empty()) return failure(*converter + " gave no picture");
    return writeReplacing(file, *bytes);
}

}  // namespace vantrel::sim::view
