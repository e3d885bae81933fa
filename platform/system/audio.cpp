#include "platform/system/audio.h"

#include <cmath>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/runloop.h"

namespace platform {
namespace {

// No short tune is near this size; bigger files are not ours to load whole.
constexpr size_t kMaxAudioFileSize = 32u << 20;

uint32_t be32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint64_t be64(std::span<const uint8_t> b, size_t at) { return uint64_t(be32(b, at)) << 32 | be32(b, at + 4); }
uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

struct Box {
    std::string type;
    std::span<const uint8_t> body;
};

// The boxes of one level of an MPEG-4 file; nullopt when a size runs past the end.
std::optional<std::vector<Box>> boxes(std::span<const uint8_t> b) {
    std::vector<Box> out;
    size_t at = 0;
    while (at < b.size()) {
        if (b.size() - at < 8) return std::nullopt;
        uint64_t size = be32(b, at);
        size_t header = 8;
        if (size == 1) {
            if (b.size() - at < 16) return std::nullopt;
            size = be64(b, at + 8);
            header = 16;
        } else if (size == 0) {
            size = b.size() - at;
        }
        if (size < header || size > b.size() - at) return std::nullopt;
        out.push_back({std::string(reinterpret_cast<const char*>(&b[at + 4]), 4),
                       b.subspan(at + header, static_cast<size_t>(size) - header)});
        at += static_cast<size_t>(size);
    }
    return out;
}

std::optional<double> mpeg4Duration(std::span<const uint8_t> b) {
    auto top = boxes(b);
    if (!top || top->empty() || top->front().type != "ftyp") return std::nullopt;
    for (const auto& box : *top) {
        if (box.type != "moov") continue;
        auto inner = boxes(box.body);
        if (!inner) return std::nullopt;
        for (const auto& m : *inner) {
            if (m.type != "mvhd" || m.body.size() < 4) continue;
            auto h = m.body;
            uint32_t timescale;
            uint64_t duration;
            if (h[0] == 1) {
                if (h.size() < 32) return std::nullopt;
                timescale = be32(h, 20);
                duration = be64(h, 24);
            } else {
                if (h.size() < 20) return std::nullopt;
                timescale = be32(h, 12);
                duration = be32(h, 16);
            }
            if (timescale == 0 || duration == 0) return std::nullopt;
            return static_cast<double>(duration) / timescale;
        }
    }
    return std::nullopt;
}

std::optional<double> waveDuration(std::span<const uint8_t> b) {
    if (b.size() < 12 || std::string(reinterpret_cast<const char*>(b.data()), 4) != "RIFF" ||
        std::string(reinterpret_cast<const char*>(b.data() + 8), 4) != "WAVE")
        return std::nullopt;
    uint32_t byteRate = 0;
    size_t at = 12;
    while (b.size() - at >= 8) {
        std::string id(reinterpret_cast<const char*>(&b[at]), 4);
        uint32_t size = le32(b, at + 4);
        if (size > b.size() - at - 8) return std::nullopt;
        if (id == "fmt " && size >= 16) byteRate = le32(b, at + 8 + 8);
        if (id == "data") return byteRate && size ? std::optional<double>(double(size) / byteRate) : std::nullopt;
        at += 8 + size + (size & 1);
        if (at > b.size()) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string deviceFilePath(const std::string& pathOrFileURL) {
    std::string path = pathOrFileURL;
    if (path.rfind("file://", 0) == 0) path.erase(0, 7);
    static const std::string kHomeInDevice = "/var/mobile";
    std::string home = NSHomeDirectory();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (path.empty() || path[0] != '/' || home == kHomeInDevice) return path;
    if (home.size() > kHomeInDevice.size() &&
        home.compare(home.size() - kHomeInDevice.size(), std::string::npos, kHomeInDevice) == 0)
        return home.substr(0, home.size() - kHomeInDevice.size()) + path;
    return path;
}

std::optional<double> audioDuration(std::span<const uint8_t> bytes) {
    if (auto d = mpeg4Duration(bytes)) return d;
    return waveDuration(bytes);
}

std::unique_ptr<AVAudioPlayer> AVAudioPlayer::initWithContentsOfURL(const std::string& url, std::string* error) {
    std::string path = deviceFilePath(url);
    auto bytes = readWholeFile(path, kMaxAudioFileSize);
    if (!bytes) {
        if (error) *error = "The file could not be opened: " + path;
        return nullptr;
    }
    auto duration = audioDuration(*bytes);
    if (!duration || !std::isfinite(*duration)) {
        if (error) *error = "The file is not usable audio: " + path;
        return nullptr;
    }
    return std::unique_ptr<AVAudioPlayer>(new AVAudioPlayer(path, *duration));
}

bool AVAudioPlayer::prepareToPlay() { return prepared_ = true; }

std::optional<double> AVAudioPlayer::elapsed() const {
    if (!playing_) return std::nullopt;
    double played = startPosition_ + (RunLoop::main().now() - startedAt_);
    if (numberOfLoops_ >= 0 && played >= duration_ * double(numberOfLoops_ + 1)) return std::nullopt;  // finished
    return played;
}

bool AVAudioPlayer::play() {
    if (!isPlaying()) {
        startPosition_ = currentTime();
        startedAt_ = RunLoop::main().now();
        playing_ = true;
    }
    prepared_ = true;
    return true;
}

void AVAudioPlayer::stop() {
    startPosition_ = currentTime();
    playing_ = false;
    prepared_ = false;
}

void AVAudioPlayer::setCurrentTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    startPosition_ = std::fmin(seconds, duration_);
    startedAt_ = RunLoop::main().now();
}

double AVAudioPlayer::currentTime() const {
    if (!playing_) return startPosition_;
    auto played = elapsed();
    if (!played) return 0;  // a finished track rests at its start
    return std::fmod(*played, duration_);
}

bool AVAudioPlayer::isPlaying() const { return elapsed().has_value(); }

}  // namespace platform
