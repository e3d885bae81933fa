// Packages on a device folder, without a running device: archive members that could pass for
// more than one database line, database text the reader would not give back, and a remove
// that takes back only what install placed and still holds it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "sim/packages/deb_archive.h"
#include "sim/packages/dpkg_database.h"
#include "sim/packages/packages.h"
#include "sim/common/safety.h"
#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::sim;

std::string readText(const std::string& path) {
    auto bytes = platform::readWholeFile(path, platform::kMaxPropertyListFileSize);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

void writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());  // 0755: dpkg-deb wants no less
    ASSERT_TRUE(platform::writeFileAtomically(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
}

// One ustar member ('0' file, '5' folder, '2' link) with its data padded to the block.
std::string tarMember(const std::string& name, char type, const std::string& data = "", const std::string& target = "") {
    std::string h(512, '\0');
    name.copy(h.data(), 100);
    std::snprintf(&h[100], 8, "%07o", 0644u);
    std::snprintf(&h[108], 8, "%07o", 0u);
    std::snprintf(&h[116], 8, "%07o", 0u);
    std::snprintf(&h[124], 12, "%011zo", data.size());
    std::snprintf(&h[136], 12, "%011o", 0u);
    h.replace(148, 8, 8, ' ');
    h[156] = type;
    target.copy(&h[157], 100);
    h.replace(257, 8,
              std::string("ustar\0"
                          "00",
                          8));
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    std::snprintf(&h[148], 8, "%06o", sum);
    return h + data + std::string((512 - data.size() % 512) % 512, '\0');
}

std::string tarEnd() { return std::string(1024, '\0'); }

struct ArchiveCase {
    const char* name;
    std::function<std::string()> tar;
    const char* said;  // "" when the archive is taken
};

void PrintTo(const ArchiveCase& row, std::ostream* os) { *os << row.name; }

class ArchiveMembers : public ::testing::TestWithParam<ArchiveCase> {};

const ArchiveCase kArchives[] = {
    {"PlainTree", [] { return tarMember("./Library/", '5') + tarMember("./Library/a", '0', "a\n") + tarEnd(); }, ""},
    // A name whose second line reads as another path of the package's list.
    {"NewlineInName", [] { return tarMember("./zzz\n/Library/Installed.plist", '0', "x") + tarEnd(); }, "control character"},
    {"EscapeInName", [] { return tarMember("./Library/\x1b]0;owned\x07", '0', "x") + tarEnd(); }, "control character"},
    {"NewlineInLinkTarget", [] { return tarMember("./Library/l", '2', "", "a\n/b") + tarEnd(); }, "control character"},
    {"OverTheMemberLimit",
     [] {
         std::string tar;
         for (size_t i = 0; i < kMaxPackageMembers; ++i) tar += tarMember("./f" + std::to_string(i), '0', "x");
         return tar + tarEnd();
     },
     "more than 4096"},
};

TEST_P(ArchiveMembers, AreTakenOnlyWhenEveryNameIsOneLine) {
    auto members = readTarMembers(GetParam().tar());
    if (*GetParam().said == '\0') {
        ASSERT_TRUE(members) << members.error().message;
        EXPECT_EQ(members->size(), 3u);  // the root, Library, Library/a
        return;
    }
    ASSERT_FALSE(members);
    EXPECT_NE(members.error().message.find(GetParam().said), std::string::npos) << members.error().message;
}

INSTANTIATE_TEST_SUITE_P(, ArchiveMembers, ::testing::ValuesIn(kArchives),
                         [](const auto& info) { return std::string(info.param.name); });

// A temporary device folder, laid out as a new device's database.
class DeviceOnDisk : public ::testing::Test {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-device-XXXXXX";
        temp_ = ::mkdtemp(tmpl);
        device_.root = temp_ + "/device";
        ASSERT_EQ(::mkdir(device_.root.c_str(), 0700), 0);
        fs::create_directories(at("var/log"));  // remove's device shell logs there
        ASSERT_TRUE(layOutDatabase(device_));
    }
    void TearDown() override { fs::remove_all(temp_); }
    std::string at(const std::string& path) const { return device_.root + "/" + path; }

    // A package of files (path → bytes) and links (path → "-> target"), built with dpkg-deb.
    std::string makeDeb(const std::string& name, const std::map<std::string, std::string>& entries,
                        const std::string& extra = "") {
        const std::string tree = temp_ + "/" + name + "-tree";
        writeText(tree + "/DEBIAN/control", "Package: " + name + "\nVersion: 1.0\nArchitecture: all\nMaintainer: Tests\n" +
                                                extra + "Description: a package of the tests\n");
        for (const auto& [path, what] : entries) {
            fs::create_directories(fs::path(tree + "/" + path).parent_path());
            if (what.rfind("-> ", 0) == 0)
                fs::create_symlink(what.substr(3), tree + "/" + path);
            else
                writeText(tree + "/" + path, what);
        }
        const std::string deb = temp_ + "/" + name + ".deb";
        auto built = vantrel::test::run({"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "--build", tree, deb});
        EXPECT_EQ(built.code, 0);
        return deb;
    }

    std::string temp_;
    DeviceFolder device_;
};

struct TextCase {
    const char* name;
    std::function<std::string(DeviceOnDisk&)> refusal;  // the error, "" when none
    const char* said;
};

void PrintTo(const TextCase& row, std::ostream* os) { *os << row.name; }

class DatabaseText : public DeviceOnDisk, public ::testing::WithParamInterface<TextCase> {};

template <class T>
std::string errorOf(const Result<T>& r) {
    return r ? std::string() : r.error().message;
}

const TextCase kTexts[] = {
    {"ListWithANewlineInAPath",
     [](DeviceOnDisk&) {
         return errorOf(formatFileList({"Library", "zzz\n/Library/Installed.plist"}));
     },
     "no path the package list can keep"},
    {"ListLineThatClimbsOut",
     [](DeviceOnDisk& d) {
         writeText(d.at("var/lib/dpkg/info/mobilesubstrate.list"), "/.\n/Library\n/Library/../../outside\n");
         return errorOf(readFileList(d.device_, "mobilesubstrate"));
     },
     "line 3 is no path inside the device"},
    {"ListLineWithoutItsSlash",
     [](DeviceOnDisk& d) {
         writeText(d.at("var/lib/dpkg/info/mobilesubstrate.list"), "/.\nLibrary\n");
         return errorOf(readFileList(d.device_, "mobilesubstrate"));
     },
     "line 2 is no path"},
    {"StatusValueThatForgesAField",
     [](DeviceOnDisk&) {
         return errorOf(formatStatus({{{"Package", "a.b"}, {"Version", "1\nStatus: purge"}}}));
     },
     "would not read back"},
    {"StatusOverWhatItsReaderTakes",
     [](DeviceOnDisk&) {
         return errorOf(formatStatus({{{"Package", "a.b"}, {"Description", std::string(kMaxDatabaseFile, 'x')}}}));
     },
     "more than it reads back"},
};

TEST_P(DatabaseText, IsNeverWrittenOrReadWhenItCouldForgeALine) {
    std::string error = GetParam().refusal(*this);
    EXPECT_NE(error.find(GetParam().said), std::string::npos) << "\"" << error << "\"";
}

INSTANTIATE_TEST_SUITE_P(, DatabaseText, ::testing::ValuesIn(kTexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceOnDisk, RemoveTakesBackOnlyWhatInstallPlacedAndStillHolds) {
    ASSERT_TRUE(installPackage(device_, makeDeb("com.example.other", {{"Library/Other/x", "x\n"}}), Postinst::Skip));
    const auto others = installedFiles(device_);
    ASSERT_EQ(others.size(), 1u);
    ASSERT_TRUE(installPackage(device_,
                               makeDeb("com.example.tidy", {{"Library/Tidy/a", "a\n"},
                                                            {"Library/Tidy/changed", "b\n"},
                                                            {"Library/Tidy/sub/c", "c\n"},
                                                            {"Library/Tidy/l", "-> a"}}),
                               Postinst::Skip));
    // The user's files, named in the package's list as if it had placed them.
    const std::string prefs = "var/mobile/Library/Preferences/com.quennick.vantrel.plist";
    writeText(at(prefs), "the user's\n");
    std::ofstream(at("var/lib/dpkg/info/com.example.tidy.list"), std::ios::app) << "/" << prefs << "\n/Library/Installed.plist\n";
    writeText(at("Library/Tidy/changed"), "edited since\n");
    // A folder of the package swapped for a link to one outside holding the same file.
    writeText(temp_ + "/outside/c", "c\n");
    fs::remove_all(at("Library/Tidy/sub"));
    fs::create_directory_symlink(temp_ + "/outside", at("Library/Tidy/sub"));

    auto removed = removePackage(device_, "com.example.tidy");
    ASSERT_TRUE(removed) << removed.error().message;
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("Library/Tidy/a"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("Library/Tidy/l"))));
    EXPECT_EQ(readText(at(prefs)), "the user's\n");
    EXPECT_EQ(readText(at("Library/Tidy/changed")), "edited since\n");
    EXPECT_EQ(readText(temp_ + "/outside/c"), "c\n") << "removed through a link";
    auto record = readInstallRecord(device_);
    ASSERT_TRUE(record) << record.error().message;
    EXPECT_EQ(*record, others) << "the record lost the other package's files, or kept the removed ones";
    std::sort(removed->kept.begin(), removed->kept.end());
    EXPECT_EQ(removed->kept,
              (std::vector<std::string>{"Library/Installed.plist", "Library/Tidy/changed", "Library/Tidy/sub", prefs}));
}

TEST_F(DeviceOnDisk, AnUnreadableInstallRecordRefusesInstallAndRemove) {
    ASSERT_TRUE(installPackage(device_, makeDeb("com.example.one", {{"Library/One/a", "a\n"}}), Postinst::Skip));
    const std::string next = makeDeb("com.example.two", {{"Library/Two/a", "a\n"}});
    writeText(device_.installRecord(), "not a property list");
    auto installed = installPackage(device_, next, Postinst::Skip);
    auto removed = removePackage(device_, "com.example.one");
    EXPECT_FALSE(installed);
    EXPECT_FALSE(removed);
    EXPECT_EQ(readText(device_.installRecord()), "not a property list");
    EXPECT_TRUE(fs::exists(at("Library/One/a")));
    EXPECT_FALSE(fs::exists(at("Library/Two")));
    EXPECT_TRUE(findPackage(readStatus(device_).valueOr({}), "com.example.one").has_value());
}

TEST_F(DeviceOnDisk, APackageThatWouldOutgrowTheInstallRecordIsRefused) {
    // As many recorded files as the record holds: one more would be more than its readers take.
    auto filled = [](size_t count) {
        std::map<std::string, std::string> files;
        for (size_t i = 0; i < count; ++i) {
            std::string n = std::to_string(100000 + i);
            files["Library/Filler/" + n] = std::string(58, 'a') + n;  // a digest of its own each
        }
        return files;
    };
    size_t fits = 0, over = 16384;
    ASSERT_FALSE(encodeInstallRecord(filled(over)));
    while (over - fits > 1) {
        size_t middle = (fits + over) / 2;
        (encodeInstallRecord(filled(middle)) ? fits : over) = middle;
    }
    ASSERT_TRUE(writeInstallRecord(device_, filled(fits)));
    const std::string record = readText(device_.installRecord());
    auto installed =
        installPackage(device_, makeDeb("com.example.big", {{"Library/Big/a", "a\n"}, {"Library/Big/b", "b\n"}}), Postinst::Skip);
    ASSERT_FALSE(installed);
    EXPECT_NE(installed.error().message.find("install record would grow"), std::string::npos) << installed.error().message;
    EXPECT_EQ(readText(device_.installRecord()), record);
    EXPECT_FALSE(fs::exists(at("Library/Big")));
}

}  // namespace
