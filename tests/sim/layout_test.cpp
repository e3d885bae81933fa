// The device chosen once (--device, else VANTREL_DEVICE, else the default), hints that name that
// very device in the words the user typed, and the check of a program before it is run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/common/usage.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::sim;

// Sets or clears a variable for one case, and puts the old value back.
class Environment {
public:
    Environment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~Environment() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct Choice {
    const char* name;
    const char* front;  // VANTREL_FRONT, as ./vantrel sets it
    std::optional<std::string> option;
    const char* environment;
    const char* root;  // nullptr: the default folder
    const char* hint;
};

class DeviceChoice : public ::testing::TestWithParam<Choice> {};

TEST_P(DeviceChoice, FolderAndHintAgree) {
    const Choice& c = GetParam();
    Environment front("VANTREL_FRONT", c.front), device("VANTREL_DEVICE", c.environment);
    DeviceFolder folder = deviceFolder(c.option);
    EXPECT_EQ(folder.root, c.root ? std::string(c.root) : defaultDeviceFolder());
    EXPECT_EQ(deviceCommand(folder, "start"), c.hint);
}

INSTANTIATE_TEST_SUITE_P(Layout, DeviceChoice,
                         ::testing::Values(Choice{"Default", nullptr, std::nullopt, nullptr, nullptr, "vantrel-device start"},
                                           Choice{"DefaultThroughWrapper", "./vantrel", std::nullopt, "", nullptr,
                                                  "./vantrel device start"},
                                           Choice{"Environment", nullptr, std::nullopt, "/tmp/env-dev", "/tmp/env-dev",
                                                  "vantrel-device --device /tmp/env-dev start"},
                                           Choice{"OptionBeatsEnvironment", "./vantrel", "/tmp/opt-dev", "/tmp/env-dev",
                                                  "/tmp/opt-dev", "./vantrel device --device /tmp/opt-dev start"},
                                           Choice{"QuotedForTheShell", nullptr, "/tmp/it's here", nullptr, "/tmp/it's here",
                                                  "vantrel-device --device '/tmp/it'\\''s here' start"}),
                         [](const auto& info) { return info.param.name; });

struct Typed {
    const char* name;
    const char* front;  // VANTREL_FRONT
    const char* argv0;  // how the running program was typed
    const char* program;
    const char* words;
    const char* spelled;
};

class TypedCommand : public ::testing::TestWithParam<Typed> {};

TEST_P(TypedCommand, HintsSpellTheProgramAsTyped) {
    const Typed& t = GetParam();
    Environment front("VANTREL_FRONT", t.front);
    noteTypedProgram(t.argv0);
    EXPECT_EQ(typedCommand(t.program, t.words), t.spelled);
    noteTypedProgram(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, TypedCommand,
    ::testing::Values(Typed{"FromPath", nullptr, "vantrel-settings", "vantrel-settings", "keys", "vantrel-settings keys"},
                      Typed{"SettingsThroughWrapper", "./vantrel", "/b/vantrel-settings", "vantrel-settings", "--help",
                            "./vantrel settings --help"},
                      Typed{"ViewThroughWrapper", "./vantrel", nullptr, "vantrel-view", "--help", "./vantrel device view --help"},
                      Typed{"ScreenshotThroughWrapper", "./vantrel", nullptr, "vantrel-view", "screenshot --help",
                            "./vantrel device screenshot --help"},
                      Typed{"ByItsPath", nullptr, "build/bin/vantrel-device", "vantrel-device", "--help",
                            "build/bin/vantrel-device --help"},
                      Typed{"CompanionBesideIt", nullptr, "build/bin/vantrel-view", "vantrel-device", "start",
                            "build/bin/vantrel-device start"},
                      Typed{"SomeOtherName", nullptr, "/usr/local/bin/vd", "vantrel-device", "", "vantrel-device"},
                      Typed{"ControlCharactersInThePath", nullptr, "/tmp/a\nb/vantrel-device", "vantrel-device", "keys",
                            "vantrel-device keys"}),
    [](const auto& info) { return info.param.name; });

struct Trust {
    const char* name;
    mode_t folderMode, fileMode;
    bool link, trusted;
};

class ProgramTrust : public ::testing::TestWithParam<Trust> {};

TEST_P(ProgramTrust, OnlyWhatNobodyElseCanWriteRuns) {
    const Trust& t = GetParam();
    char tmpl[] = "/tmp/vantrel-trust-XXXXXX";
    const fs::path base = ::mkdtemp(tmpl), folder = base / "bin", program = folder / "vantrel-springboard";
    fs::create_directory(folder);
    std::ofstream(base / "real").put('x');
    if (t.link)
        fs::create_symlink(base / "real", program);
    else
        std::ofstream(program).put('x');
    ::chmod(program.c_str(), t.fileMode);
    ::chmod(folder.c_str(), t.folderMode);
    EXPECT_EQ(static_cast<bool>(checkTrustedPath(program.string())), t.trusted);
    fs::remove_all(base);
}

INSTANTIATE_TEST_SUITE_P(Layout, ProgramTrust,
                         ::testing::Values(Trust{"Own", 0755, 0755, false, true},
                                           Trust{"StickySharedFolder", 01777, 0755, false, true},
                                           Trust{"GroupWritableFolder", 0775, 0755, false, false},
                                           Trust{"WritableProgram", 01777, 0757, false, false},
                                           Trust{"Link", 0755, 0755, true, false}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
