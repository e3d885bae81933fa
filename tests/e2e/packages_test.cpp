// The tweak as a Debian package: what the build packs, an install, upgrade and removal on a
// running device, and packages the device must refuse without changing anything. Packages of
// the tests are built here with dpkg-deb, tar and ar; every program has the reaper timeout.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

const std::string kPackage = VANTREL_PACKAGE_FILE;
const std::string kName = "com.quennick.vantrel";

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Standard output and error together: refusals are on standard error.
Result runShown(const std::vector<std::string>& argv) {
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return run(shell);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A temporary folder of the test's own, removed with everything in it.
class TempFolder {
public:
    TempFolder() { path_ = scratchFolder("vantrel-pkg"); }
    ~TempFolder() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(Package, HasTheControlOfATweakAndOnlyTheDevicePathsItShips) {
    auto field = [](const char* name) {
        Result r = run({"/usr/bin/dpkg-deb", "--field", kPackage, name});
        EXPECT_EQ(r.code, 0) << name;
        return lines(r.out).empty() ? std::string() : lines(r.out)[0];
    };
    std::string arch = run({"/usr/bin/dpkg", "--print-architecture"}).out;
    EXPECT_EQ(field("Package"), kName);
    EXPECT_EQ(field("Version"), VANTREL_VERSION);
    EXPECT_EQ(field("Architecture") + "\n", arch);
    EXPECT_EQ(field("Section"), "Tweaks");
    const std::string depends = field("Depends");
    EXPECT_NE(depends.find("mobilesubstrate"), std::string::npos) << depends;
    EXPECT_NE(depends.find("preferenceloader"), std::string::npos) << depends;

    const std::set<std::string> files{"Library/MobileSubstrate/DynamicLibraries/Vantrel.dylib",
                                      "Library/MobileSubstrate/DynamicLibraries/Vantrel.plist",
                                      "Library/PreferenceLoader/Preferences/Vantrel.plist"};
    const std::string bundle = "Library/PreferenceBundles/Vantrel.bundle/";
    std::set<std::string> folders{""};
    for (std::string f : files)
        for (auto slash = f.find('/'); slash != std::string::npos; slash = f.find('/', slash + 1))
            folders.insert(f.substr(0, slash));
    folders.insert({"Library/PreferenceBundles", "Library/PreferenceBundles/Vantrel.bundle"});

    Result contents = run({"/usr/bin/dpkg-deb", "--contents", kPackage});
    ASSERT_EQ(contents.code, 0);
    std::set<std::string> seen;
    for (const auto& line : lines(contents.out)) {
        // "drwxr-xr-x root/root 0 2026-01-01 00:00 ./Library/": the path is the last word.
        std::string path = line.substr(line.rfind(' ') + 1);
        ASSERT_EQ(path.rfind("./", 0), 0u) << line;
        path = path.substr(2);
        EXPECT_EQ(path.find(".."), std::string::npos) << line;
        EXPECT_EQ(line.find(" -> "), std::string::npos) << "no links: " << line;
        if (line[0] == 'd') {
            if (!path.empty()) path.pop_back();
            EXPECT_TRUE(folders.count(path)) << "a folder outside the tweak's: " << line;
        } else {
            EXPECT_TRUE(files.count(path) || (path.rfind(bundle, 0) == 0 && path.find('/', bundle.size()) == std::string::npos))
                << "a file outside the tweak's: " << line;
        }
        seen.insert(path);
    }
    for (const auto& f : files) EXPECT_TRUE(seen.count(f)) << f << " is missing";
    EXPECT_TRUE(seen.count(bundle + "Vantrel")) << "the bundle's executable is missing";
}

class Installed : public ::testing::Test {
public:
    void TearDown() override { device({"stop"}); }
    Result device(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder()});
        return runShown(words);
    }
    std::string folder() const { return temp_.path() + "/device"; }
    nlohmann::json status() { return parseJson(device({"status", "--json"}).out); }
    std::string springBoardPid() { return jsonAt(status(), "/springboardPid").dump(); }
    nlohmann::json installedVersion() {
        for (const auto& p : jsonAt(parseJson(device({"packages", "--json"}).out), "/packages"))
            if (p.value("name", "") == kName) return p["version"];
        return nullptr;
    }
    // A package made here: CONTROL's text, and a data tree (or a data tar made by `tar`).
    std::string makeDeb(const std::string& name, const std::string& control, const std::string& tree) {
        const std::string work = temp_.path() + "/" + name;
        writeText(work + "/control/control", control);
        EXPECT_EQ(run({"/bin/tar", "-czf", work + "/control.tar.gz", "-C", work + "/control", "./control"}).code, 0);
        writeText(work + "/debian-binary", "2.0\n");
        if (fs::is_directory(tree))
            EXPECT_EQ(run({"/bin/tar", "-cf", work + "/data.tar", "-C", tree, "."}).code, 0);
        else
            fs::copy_file(tree, work + "/data.tar");
        const std::string deb = temp_.path() + "/" + name + ".deb";
        // ar keeps the members' file names: debian-binary first, as dpkg-deb wants it.
        Result r = run({"/usr/bin/ar", "rc", deb, work + "/debian-binary", work + "/control.tar.gz", work + "/data.tar"});
        EXPECT_EQ(r.code, 0);
        return deb;
    }

    TempFolder temp_;
};

TEST_F(Installed, InstallUpgradeAndRemoveOnARunningDevice) {
    ASSERT_EQ(device({"start"}).code, 0);
    Result v1 = device({"install", kPackage});
    ASSERT_EQ(v1.code, 0) << v1.out;
    const std::string first = springBoardPid();
    EXPECT_NE(first, "null");
    EXPECT_GT(jsonAt(status(), "/items").size(), 5u);
    EXPECT_EQ(device({"tap"}).code, 0) << "the tweak takes the status bar tap";

    // v2: one file of v1 dropped, one new file in a new folder, a newer version.
    const std::string tree = temp_.path() + "/v2";
    ASSERT_EQ(run({"/usr/bin/dpkg-deb", "--raw-extract", kPackage, tree}).code, 0);
    const std::string dropped = "Library/PreferenceBundles/Vantrel.bundle/chiptune.m4a";
    const std::string added = "Library/Vantrel/notes.txt";
    fs::remove(tree + "/" + dropped);
    writeText(tree + "/" + added, "v2\n");
    std::string control = readText(tree + "/DEBIAN/control");
    control.replace(control.find("Version: "), control.find('\n', control.find("Version: ")) - control.find("Version: "),
                    "Version: 9.9.9");
    writeText(tree + "/DEBIAN/control", control);
    const std::string v2 = temp_.path() + "/v2.deb";
    ASSERT_EQ(run({"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "-z1", "--build", tree, v2}).code, 0);

    Result upgraded = device({"install", v2});
    ASSERT_EQ(upgraded.code, 0) << upgraded.out;
    EXPECT_FALSE(fs::exists(folder() + "/" + dropped));
    EXPECT_EQ(readText(folder() + "/" + added), "v2\n");
    EXPECT_EQ(installedVersion(), "9.9.9");
    const std::string second = springBoardPid();
    EXPECT_NE(second, first) << "the postinst resprings";
    EXPECT_NE(second, "null");
    EXPECT_EQ(device({"tap"}).code, 0) << "the upgraded tweak is loaded";

    const auto recorded = lines(readText(folder() + "/var/lib/dpkg/info/" + kName + ".list"));
    ASSERT_FALSE(recorded.empty());
    Result removed = device({"remove", kName});
    ASSERT_EQ(removed.code, 0) << removed.out;
    for (const auto& path : recorded)
        if (path.find("Vantrel") != std::string::npos) {
            EXPECT_FALSE(fs::exists(folder() + path)) << path << " was left";
        }
    EXPECT_TRUE(fs::is_directory(folder() + "/Library/MobileSubstrate/DynamicLibraries")) << "the substrate's folder went too";
    EXPECT_EQ(installedVersion(), nullptr);
    EXPECT_FALSE(fs::exists(folder() + "/var/lib/dpkg/info/" + kName + ".list"));
    EXPECT_NE(springBoardPid(), second);
    EXPECT_GT(jsonAt(status(), "/items").size(), 5u) << "SpringBoard answers without the tweak";
    EXPECT_NE(device({"tap"}).code, 0) << "nothing takes the tap any more";
    Result substrate = device({"remove", "mobilesubstrate"});
    EXPECT_EQ(substrate.code, 0) << "nothing depends on it now: " << substrate.out;
}

// Everything of the device folder: each path with its kind, mode and bytes (or link target).
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st;
        ::lstat(e.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + ":";
        if (S_ISLNK(st.st_mode))
            what += fs::read_symlink(e.path()).string();
        else if (S_ISREG(st.st_mode))
            what += readText(e.path());
        tree[e.path().string()] = what;
    }
    return tree;
}

struct BadPackage {
    const char* name;
    // Makes the package in the test's folder; gives its path.
    std::function<std::string(Installed& test, const std::string& temp)> make;
    const char* said;
};

void PrintTo(const BadPackage& row, std::ostream* os) { *os << row.name; }

std::string controlOf(const std::string& package, const std::string& depends = "mobilesubstrate") {
    std::string arch = run({"/usr/bin/dpkg", "--print-architecture"}).out;
    std::string text = package.empty() ? "" : "Package: " + package + "\n";
    return text + "Version: 1.0\nArchitecture: " + arch + "Maintainer: Tests\nDepends: " + depends +
           "\nDescription: a package of the tests\n";
}

// A data tree with one file, and whatever `plant` adds.
std::string treeWith(const std::string& temp, const std::string& name, const std::function<void(const std::string&)>& plant) {
    const std::string tree = temp + "/" + name + "-tree";
    writeText(tree + "/Library/Other/readme", "hello\n");
    plant(tree);
    return tree;
}

class Refused : public Installed, public ::testing::WithParamInterface<BadPackage> {};

const BadPackage kBad[] = {
    {"NotADeb",
     [](Installed&, const std::string& t) {
         writeText(t + "/text.deb", "just text\n");
         return t + "/text.deb";
     },
     "not a Debian format archive"},
    {"Truncated",
     [](Installed&, const std::string& t) {
         std::string bytes = readText(kPackage);
         writeText(t + "/cut.deb", bytes.substr(0, bytes.size() / 2));
         return t + "/cut.deb";
     },
     "damaged or truncated"},
    {"NoPackageField",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("nameless", controlOf(""), treeWith(t, "nameless", [](auto&) {}));
     },
     "no Package field"},
    {"DotDotPath",
     [](Installed& i, const std::string& t) {
         writeText(t + "/up/evil", "x\n");
         fs::create_directories(t + "/up/sub");
         EXPECT_EQ(run({"/bin/tar", "-P", "-cf", t + "/up.tar", "-C", t + "/up/sub", "../evil"}).code, 0);
         return i.makeDeb("up", controlOf("com.example.up"), t + "/up.tar");
     },
     "climbs out of the device root"},
    {"AbsolutePath",
     [](Installed& i, const std::string& t) {
         writeText(t + "/abs/evil", "x\n");
         EXPECT_EQ(run({"/bin/tar", "-P", "-cf", t + "/abs.tar", t + "/abs/evil"}).code, 0);
         return i.makeDeb("abs", controlOf("com.example.abs"), t + "/abs.tar");
     },
     "has an absolute path"},
    {"SymlinkOutOfTheRoot",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("out", controlOf("com.example.out"), treeWith(t, "out", [](auto& tree) {
                              fs::create_symlink("../../../etc", tree + "/Library/Other/etc");
                          }));
     },
     "leaves the device root"},
    {"AbsoluteSymlink",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("abslink", controlOf("com.example.abslink"), treeWith(t, "abslink", [](auto& tree) {
                              fs::create_symlink("/etc/passwd", tree + "/Library/Other/passwd");
                          }));
     },
     "leaves the device root"},
    {"FileOfAnotherPackage",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("thief", controlOf("com.example.thief"), treeWith(t, "thief", [](auto& tree) {
                              writeText(tree + "/Library/MobileSubstrate/DynamicLibraries/Vantrel.dylib", "not the tweak\n");
                          }));
     },
     "which belongs to com.quennick.vantrel"},
    {"MissingDependency",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("needy", controlOf("com.example.needy", "mobilesubstrate, libnothing (>= 2)"),
                          treeWith(t, "needy", [](auto&) {}));
     },
     "depends on libnothing, which is not installed"},
    {"ControlFileOverTheLimit",
     [](Installed& i, const std::string& t) {
         std::string control = controlOf("com.example.wordy");
         for (int line = 0; line < 1000; ++line) control += " " + std::string(99, 'x') + "\n";
         return i.makeDeb("wordy", control, treeWith(t, "wordy", [](auto&) {}));
     },
     "its control file is larger than 64 KB"},
    {"IntoTheUserHome",
     [](Installed& i, const std::string& t) {
         return i.makeDeb("home", controlOf("com.example.home"), treeWith(t, "home", [](auto& tree) {
                              writeText(tree + "/var/mobile/Library/Preferences/com.quennick.vantrel.plist", "not the user's\n");
                          }));
     },
     "which is the device's own"},
};

TEST_P(Refused, WithAClearErrorAndTheDeviceUntouched) {
    ASSERT_EQ(device({"install"}).code, 0);
    const std::string deb = GetParam().make(*this, temp_.path());
    const auto before = snapshot(folder());
    Result r = device({"install", deb});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find(GetParam().said), std::string::npos) << r.out;
    EXPECT_TRUE(snapshot(folder()) == before) << "the refused package changed the device";
}

INSTANTIATE_TEST_SUITE_P(, Refused, ::testing::ValuesIn(kBad), [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installed, APackagesControlCharactersReachTheTerminalEscaped) {
    ASSERT_EQ(device({"install"}).code, 0);
    std::string control = controlOf("com.example.loud");
    control.replace(control.find("Version: 1.0"), 12, "Version: 1.0\x1b]0;owned\x07");
    Result installed = device({"install", makeDeb("loud", control, treeWith(temp_.path(), "loud", [](auto&) {}))});
    EXPECT_EQ(installed.code, 0) << installed.out;
    Result listed = device({"packages"});
    for (const Result& r : {installed, listed}) {
        EXPECT_EQ(r.out.find_first_of("\x1b\x07"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("1.0\\x1b]0;owned\\x07"), std::string::npos) << r.out;
    }
}

}  // namespace
