// Preference files under attack: damaged and hostile files read as the documented fallback,
// writes survive a writer killed at any point, temporary files neither pile up nor follow
// planted links, nothing is created writable by others, and hostile texts pass through unchanged.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/foundation/dateformatter.h"
#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plist.h"
#include "shared/settings.h"
#include "tests/scratch.h"

using namespace vantrel;
using platform::Array;
using platform::Data;
using platform::Date;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> binary(const Value& v) { return *platform::serializeBinaryPropertyList(v); }

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        alarm(120);  // reaper
        home_ = vantrel::test::scratchFolder("vantrel-reliability");
        platform::setHomeDirectory(home_);
        platform::setLogToStderr(false);
        platform::setLogFile(home_ + "/log.txt");
        ASSERT_TRUE(writePreferences(PreferenceFile::Main, defaultPreferences(PreferenceFile::Main)));
        path_ = preferencePath(PreferenceFile::Main);
        dir_ = path_.substr(0, path_.rfind('/'));
    }
    void TearDown() override {
        platform::setLogFile("");
        fs::remove_all(home_);
        alarm(0);
    }

    void place(const std::vector<uint8_t>& bytes) {
        fs::remove_all(path_);
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Temporary files of atomic writes left in the preferences folder.
    size_t temporaries() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir_)) {
            std::string name = e.path().filename().string();
            if (name.rfind(".com.quennick.vantrel", 0) == 0 && !name.ends_with(".lock")) ++n;  // the lock file stays
        }
        return n;
    }

    std::string home_, path_, dir_;
};

// ---- Malformed files: each reads as no dictionary, and every reader falls back.

struct Malformed {
    const char* name;
    std::function<void(FilesTest&, const std::string& path)> make;
};

// {"clock": [[[...true...]]]} written by hand: our writer refuses trees this deep.
std::vector<uint8_t> deepBinary(int depth) {
    std::vector<uint8_t> b = bytesOf("bplist00");
    std::vector<uint32_t> offsets;
    auto ref = [&](uint32_t r) { b.push_back(static_cast<uint8_t>(r >> 8)), b.push_back(static_cast<uint8_t>(r)); };
    uint32_t n = static_cast<uint32_t>(depth) + 3;  // dict, key, arrays, true
    offsets.push_back(static_cast<uint32_t>(b.size()));
    b.push_back(0xD1), ref(1), ref(2);
    offsets.push_back(static_cast<uint32_t>(b.size()));
    for (char c : std::string("\x55"
                              "clock"))
        b.push_back(static_cast<uint8_t>(c));
    for (int i = 0; i < depth; ++i) {
        offsets.push_back(static_cast<uint32_t>(b.size()));
        b.push_back(0xA1), ref(static_cast<uint32_t>(i) + 3);
    }
    offsets.push_back(static_cast<uint32_t>(b.size()));
    b.push_back(0x09);
    uint64_t table = b.size();
    for (uint32_t o : offsets)
        for (int k = 3; k >= 0; --k) b.push_back(static_cast<uint8_t>(o >> (8 * k)));
    std::vector<uint8_t> trailer(32, 0);
    trailer[6] = 4, trailer[7] = 2;
    for (int k = 0; k < 8; ++k) trailer[8 + k] = static_cast<uint8_t>(uint64_t{n} >> (8 * (7 - k)));
    for (int k = 0; k < 8; ++k) trailer[24 + k] = static_cast<uint8_t>(table >> (8 * (7 - k)));
    b.insert(b.end(), trailer.begin(), trailer.end());
    return b;
}

std::vector<uint8_t> deepXml(int depth) {
    std::string s = "<?xml version=\"1.0\"?><plist><dict><key>clock</key>";
    for (int i = 0; i < depth; ++i) s += "<array>";
    for (int i = 0; i < depth; ++i) s += "</array>";
    return bytesOf(s + "</dict></plist>");
}

class MalformedFile : public FilesTest, public ::testing::WithParamInterface<Malformed> {
protected:
    void write(const std::vector<uint8_t>& bytes) { place(bytes); }
};

const std::vector<uint8_t>& goodBinary() {
    static auto b = binary(Value(defaultPreferences(PreferenceFile::Main)));
    return b;
}

std::vector<Malformed> malformedFiles() {
    auto put = [](std::vector<uint8_t> b) {
        return [b](FilesTest&, const std::string& path) {
            fs::remove_all(path);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        };
    };
    std::vector<uint8_t> random(4096);
    std::mt19937 rng(7);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> randomAfterMagic = random;
    std::copy_n("bplist00", 8, randomAfterMagic.begin());
    const auto& good = goodBinary();
    return {
        {"Empty", put({})},
        {"MagicOnly", put(bytesOf("bplist00"))},
        {"TruncatedBinary", put({good.begin(), good.begin() + static_cast<long>(good.size() / 2)})},
        {"TrailerCut", put({good.begin(), good.end() - 1})},
        {"RandomBytes", put(random)},
        {"RandomAfterMagic", put(randomAfterMagic)},
        {"XmlUnclosed", put(bytesOf("<?xml version=\"1.0\"?><plist><dict><key>clock</key><true/></plist>"))},
        {"XmlMismatchedTags", put(bytesOf("<plist><dict><key>clock</key><true/></array></plist>"))},
        {"XmlBadEntity", put(bytesOf("<plist><dict><key>clock&bogus;</key><true/></dict></plist>"))},
        {"XmlNotAPlist", put(bytesOf("<html><body>clock</body></html>"))},
        {"RootArray", put(binary(Value(Array{Value(true), Value(1)})))},
        {"RootString", put(binary(Value("clock")))},
        {"DeepBinary", put(deepBinary(5000))},
        {"DeepXml", put(deepXml(100000))},
        {"OverOneMebibyte",
         [](FilesTest&, const std::string& path) {
             platform::Dictionary d = defaultPreferences(PreferenceFile::Main);
             d["padding"] = std::string(platform::kMaxPropertyListFileSize, 'x');
             ASSERT_TRUE(platform::writeDictionaryFile(path, d));
         }},
        {"Directory",
         [](FilesTest&, const std::string& path) {
             fs::remove_all(path);
             fs::create_directory(path);
         }},
        {"DanglingLink",
         [](FilesTest&, const std::string& path) {
             fs::remove_all(path);
             fs::create_symlink(path + ".nowhere", path);
         }},
        {"Fifo",
         [](FilesTest&, const std::string& path) {
             fs::remove_all(path);
             ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // a read would block SpringBoard for ever
         }},
        {"Missing", [](FilesTest&, const std::string& path) { fs::remove_all(path); }},
    };
}

TEST(DeepFiles, TheHandBuiltNestingReadsWhenShallow) {
    auto shallow = platform::parsePropertyList(deepBinary(3));
    ASSERT_TRUE(shallow && shallow->isDictionary());
    EXPECT_TRUE(platform::lookup(*shallow->dictionary(), "clock")->array());
}

TEST_P(MalformedFile, ReadsAsNoDictionaryWithDefaultsForEveryReader) {
    GetParam().make(*this, path_);
    auto prefs = readPreferences(PreferenceFile::Main);
    EXPECT_FALSE(prefs);
    EXPECT_FALSE(readBool(prefs, "hideall"));
    EXPECT_EQ(readInteger(prefs, "clockformat"), 0);
    EXPECT_FALSE(readString(prefs, "timeText"));
    EXPECT_FALSE(readPreferenceKeys(PreferenceFile::Main, {"hideall", "clockformat"}));
    // A writer that must update it starts from the defaults; the next good file is picked up.
    EXPECT_EQ(readPreferencesForUpdate(PreferenceFile::Main), defaultPreferences(PreferenceFile::Main));
    fs::remove_all(path_);
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"hideall", true}}));
    EXPECT_TRUE(readBool(readPreferences(PreferenceFile::Main), "hideall"));
}

INSTANTIATE_TEST_SUITE_P(Corpus, MalformedFile, ::testing::ValuesIn(malformedFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesTest, ValuesOfEveryWrongTypeReadAsAbsent) {
    platform::Dictionary d;
    std::vector<Value> wrong = {Value(Array{Value(1)}), Value(platform::Dictionary{{"a", Value(true)}}), Value(Data{{1, 2}}),
                                Value(Date{1000})};
    const char* keys[] = {"hideall", "clockformat", "timeText", "carrierText"};
    for (size_t i = 0; i < wrong.size(); ++i)
        for (const char* k : keys) {
            d = {{k, wrong[i]}};
            ASSERT_TRUE(writePreferences(PreferenceFile::Main, d));
            auto prefs = readPreferences(PreferenceFile::Main);
            ASSERT_TRUE(prefs);
            EXPECT_FALSE(readBool(prefs, k)) << k << " " << i;
            EXPECT_EQ(readInteger(prefs, k), 0) << k << " " << i;
            EXPECT_FALSE(readString(prefs, k)) << k << " " << i;
        }
}

TEST_F(FilesTest, UnreadableFileIsNoDictionary) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop reads";
    ASSERT_EQ(chmod(path_.c_str(), 0), 0);
    EXPECT_FALSE(readPreferences(PreferenceFile::Main));
}

TEST_F(FilesTest, OversizedFileIsLoggedOncePerChange) {
    auto logged = [&] {
        std::string log = readText(home_ + "/log.txt");
        size_t n = 0;
        for (size_t at = log.find("more than a preference file"); at != std::string::npos;
             at = log.find("more than a preference file", at + 1))
            ++n;
        return n;
    };
    platform::Dictionary d = {{"padding", std::string(platform::kMaxPropertyListFileSize, 'x')}};
    ASSERT_TRUE(platform::writeDictionaryFile(path_, d));
    size_t before = logged();
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(readPreferences(PreferenceFile::Main));
    EXPECT_EQ(logged(), before + 1);
    d["padding"] = std::string(platform::kMaxPropertyListFileSize + 1, 'y');  // a new file
    ASSERT_TRUE(platform::writeDictionaryFile(path_, d));
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(readPreferences(PreferenceFile::Main));
    EXPECT_EQ(logged(), before + 2);
}

// Inputs the fuzzer found; each once crashed a check (see fuzz/corpus/plist/regression-*).
TEST(FuzzRegressions, EveryCommittedInputParsesAsTheFileReaderReadsIt) {
    std::string dir = vantrel::test::scratchFolder("vantrel-regressions");
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(VANTREL_SOURCE_DIR "/fuzz/corpus/plist")) {
        std::string bytes = readText(e.path());
        auto parsed = platform::parsePropertyList(bytesOf(bytes));
        std::ofstream(dir + "/f.plist", std::ios::binary) << bytes;
        auto dict = platform::readDictionaryFile(dir + "/f.plist");
        EXPECT_EQ(dict.has_value(), parsed && parsed->isDictionary()) << e.path();
        if (parsed) {
            auto again = platform::parsePropertyList(*platform::serializeBinaryPropertyList(*parsed));
            EXPECT_TRUE(again) << e.path();
        }
        ++n;
    }
    fs::remove_all(dir);
    EXPECT_GT(n, 10u);
}

// The binary reader's refusals that the differential fuzz run established against libplist.
TEST(FuzzRegressions, DamagedBinaryStructuresAreRefused) {
    auto good = binary(Value(platform::Dictionary{{"t", Value("abc")}}));
    auto withTrailer = [&](size_t at, uint8_t v) {
        auto b = good;
        b[b.size() - 32 + at] = v;
        return b;
    };
    EXPECT_TRUE(platform::parsePropertyList(good));
    EXPECT_FALSE(platform::parsePropertyList(withTrailer(6, 18))) << "offset size above 8";
    EXPECT_FALSE(platform::parsePropertyList(withTrailer(7, 0))) << "reference size 0";
    // An ASCII string holding a byte above 0x7F.
    auto high = good;
    const std::string abc = "abc";
    auto at = std::search(high.begin() + 8, high.end(), abc.begin(), abc.end());
    ASSERT_NE(at, high.end());
    at[1] = 0xE9;
    EXPECT_FALSE(platform::parsePropertyList(high));
    // The top object pointed into the header.
    auto table = good;
    uint64_t offsetTable = 0;
    for (int i = 0; i < 8; ++i) offsetTable = (offsetTable << 8) | good[good.size() - 8 + i];
    uint64_t top = 0;
    for (int i = 0; i < 8; ++i) top = (top << 8) | good[good.size() - 16 + i];
    unsigned offsetSize = good[good.size() - 32 + 6];
    for (unsigned i = 0; i < offsetSize; ++i) table[offsetTable + top * offsetSize + i] = 0;
    EXPECT_FALSE(platform::parsePropertyList(table));
}

// ---- Crash safety of writes.

platform::Dictionary generation(int n) {
    auto d = defaultPreferences(PreferenceFile::Main);
    d["generation"] = n;
    d["padding"] = std::string(static_cast<size_t>(64 * 1024 + n * 97), static_cast<char>('a' + n % 26));
    return d;
}

TEST_F(FilesTest, WriterKilledAtRandomPointsLeavesOldOrNewFileWhole) {
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, generation(0)));
    std::mt19937 rng(42);
    int committed = 0, killedMidway = 0;
    for (int i = 1; i <= 200; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            writePreferences(PreferenceFile::Main, generation(i));
            _exit(0);
        }
        usleep(std::uniform_int_distribution<unsigned>(0, 3000)(rng));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) ++killedMidway;
        auto prefs = readPreferences(PreferenceFile::Main);
        ASSERT_TRUE(prefs) << "torn, empty or missing after write " << i;
        int n = static_cast<int>(readInteger(prefs, "generation"));
        ASSERT_TRUE(n == committed || n == i) << "write " << i << " left generation " << n;
        EXPECT_EQ(*prefs, generation(n));
        committed = n;
    }
    EXPECT_GT(killedMidway, 20) << "the kills should land during writes";
    // Leftovers of killed writers are bounded, and the next write clears them.
    EXPECT_LE(temporaries(), static_cast<size_t>(killedMidway));
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, generation(999)));
    EXPECT_EQ(temporaries(), 0u);
}

TEST_F(FilesTest, PlantedLinksAreNeverFollowed) {
    std::string outside = home_ + "/outside";
    std::ofstream(outside) << "precious";
    // A link planted as the temporary of a dead writer is removed, not written through.
    std::string planted = dir_ + "/.com.quennick.vantrel.plist.999999.AbCdEf";
    fs::create_symlink(outside, planted);
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"hideall", true}}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted)));
    EXPECT_EQ(readText(outside), "precious");
    // A link in the file's own place is replaced, never written through.
    fs::remove(path_);
    fs::create_symlink(outside, path_);
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"hideall", false}}));
    EXPECT_EQ(readText(outside), "precious");
    EXPECT_FALSE(fs::is_symlink(path_));
    EXPECT_FALSE(readBool(readPreferences(PreferenceFile::Main), "hideall"));
}

TEST_F(FilesTest, NothingIsCreatedWritableByOthers) {
    mode_t old = umask(0);  // the most permissive caller
    std::string deep = home_ + "/a/b/c";
    ASSERT_TRUE(platform::createDirectories(deep));
    ASSERT_TRUE(platform::writeDictionaryFile(deep + "/x.plist", {{"k", true}}));
    umask(old);
    for (const std::string& p : {home_ + "/a", home_ + "/a/b", deep, deep + "/x.plist"}) {
        struct stat st;
        ASSERT_EQ(stat(p.c_str(), &st), 0) << p;
        EXPECT_EQ(st.st_mode & (S_IWOTH | S_IWGRP), 0u) << p;
    }
    struct stat st;
    ASSERT_EQ(stat(dir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & (S_IWOTH | S_IWGRP), 0u);
}

TEST_F(FilesTest, FailedWriteKeepsTheOldFileAndSaysSo) {
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"clockformat", 3}}));
    // No folder to write into: refused, logged, nothing else touched.
    EXPECT_FALSE(platform::writeDictionaryFile(home_ + "/missing/x.plist", {{"k", true}}));
    EXPECT_NE(readText(home_ + "/log.txt").find("Could not write"), std::string::npos);
    EXPECT_EQ(readInteger(readPreferences(PreferenceFile::Main), "clockformat"), 3);
}

// ---- Hostile texts.

std::vector<std::string> hostileTexts() {
    return {"%@",
            "%n%n%n%n",
            "%s%s%s%s%s",
            "%x %p %d",
            std::string(64 * 1024, 'W'),
            "'unpaired",
            "it's ''",
            "\"'\"'",
            "\xF0\x9F\x98\x80\xF0\x9F\x8E\xB5 \xE2\x99\xAB",
            std::string(64 * 1024 / 4, '\0') + "tail"};
}

TEST_F(FilesTest, HostileTextsRoundTripAndLogVerbatim) {
    platform::DateFormatter formatter;
    for (const auto& text : hostileTexts()) {
        std::string stored = text.substr(0, text.find('\0'));  // the writer's strings end at U+0000
        ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"timeText", text}, {"carrierText", text}}));
        auto prefs = readPreferences(PreferenceFile::Main);
        ASSERT_TRUE(prefs);
        EXPECT_EQ(readString(prefs, "timeText"), stored);
        EXPECT_EQ(readString(prefs, "carrierText"), stored);
        NSLog("carrier %s", stored.c_str());
        formatter.setDateFormat(stored);
        std::string shown = formatter.stringFromDate(1796636460.0);
        EXPECT_EQ(shown.find("(null)"), std::string::npos);
    }
    std::string log = readText(home_ + "/log.txt");
    EXPECT_NE(log.find("carrier %@"), std::string::npos);
    EXPECT_NE(log.find("carrier %n%n%n%n"), std::string::npos);
    // A long text is cut, saying by how much.
    EXPECT_NE(log.find("carrier " + std::string(platform::kMaxLogMessage - 8, 'W') + "... (" +
                       std::to_string(64 * 1024 + 8 - platform::kMaxLogMessage) + " more bytes)"),
              std::string::npos);
    // Quoted hostile texts render literally.
    formatter.setDateFormat(std::string("'%@ %n %s'"));
    EXPECT_EQ(formatter.stringFromDate(0), "%@ %n %s");
}

}  // namespace
