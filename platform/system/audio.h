// AVAudioPlayer of the simulated device: it makes no sound, but opens and checks its file (an
// MPEG-4 audio file with a movie header, or a RIFF WAVE file), knows the track's duration, and
// tracks playing, position and loops on the main run loop's clock. A file that is missing or
// not usable audio gives no player and an error text. Device paths ("/Library/...") resolve
// inside the device folder, whose var/mobile is the home. The caller owns the player. Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Where a path of the device lies on this machine: below the device folder when the home is
// its var/mobile, else unchanged. A "file://" prefix is dropped.
std::string deviceFilePath(const std::string& pathOrFileURL);

// The playing time in seconds of MPEG-4 or WAVE audio bytes, or nullopt when they are neither.
std::optional<double> audioDuration(std::span<const uint8_t> bytes);

class AVAudioPlayer {
public:
    // initWithContentsOfURL:error: nullptr (and *error set when given) when the file cannot be used.
    static std::unique_ptr<AVAudioPlayer> initWithContentsOfURL(const std::string& url, std::string* error = nullptr);

    bool prepareToPlay();
    void setNumberOfLoops(long loops) { numberOfLoops_ = loops; }  // -1: until stopped
    long numberOfLoops() const { return numberOfLoops_; }
    bool play();
    void stop();  // pauses where it is, as the real player does
    void setCurrentTime(double seconds);
    double currentTime() const;
    bool isPlaying() const;
    double duration() const { return duration_; }
    const std::string& path() const { return path_; }
    bool isPrepared() const { return prepared_; }

private:
    AVAudioPlayer(std::string path, double duration) : path_(std::move(path)), duration_(duration) {}
    // Seconds played since play() without wrapping, or nullopt when stopped.
    std::optional<double> elapsed() const;
    std::string path_;
    double duration_;
    long numberOfLoops_ = 0;
    bool prepared_ = false;
    bool playing_ = false;
    double startedAt_ = 0;  // the run loop's time of play()
    double startPosition_ = 0;
};

}  // namespace platform
