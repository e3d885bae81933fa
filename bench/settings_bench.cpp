// The read path every item decision takes (two files, parsed afresh), next to a plain read of
// the same bytes, and one atomic write of the main file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/sd_ptr.h"
#include "shared/settings.h"

using namespace vantrel;

namespace {

struct Home {
    Home() {
        char tmpl[] = "/tmp/vantrel-bench-XXXXXX";
        path = mkdtemp(tmpl);
        platform::setHomeDirectory(path);
        writePreferences(PreferenceFile::Main, defaultPreferences(PreferenceFile::Main));
        Dictionary tester = defaultPreferences(PreferenceFile::IconTester);
        for (int i = 0; i < 26; ++i) tester["item" + std::to_string(i)] = i % 2 == 0;
        writePreferences(PreferenceFile::IconTester, tester);
    }
    ~Home() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

Home& home() {
    static Home h;
    return h;
}

void BM_FilterReadPath(benchmark::State& state) {
    home();
    for (auto _ : state) {
        auto tester = readPreferences(PreferenceFile::IconTester);
        auto main = readPreferences(PreferenceFile::Main);
        bool t = readBool(tester, "enabletester");
        bool h = readBool(main, "hideall");
        bool k = readBool(main, "wifi");
        benchmark::DoNotOptimize(t | h | k);
    }
}
BENCHMARK(BM_FilterReadPath);

void BM_FilterReadPathKeysOnly(benchmark::State& state) {
    home();
    for (auto _ : state) {
        auto tester = readPreferenceKeys(PreferenceFile::IconTester, {"enabletester", "item3"});
        auto main = readPreferenceKeys(PreferenceFile::Main, {"hideall", "hideallls", "wifi"});
        bool t = readBool(tester, "enabletester");
        bool h = readBool(main, "hideall");
        bool k = readBool(main, "wifi");
        benchmark::DoNotOptimize(t | h | k);
    }
}
BENCHMARK(BM_FilterReadPathKeysOnly);

void BM_RawReadOfTheSameFiles(benchmark::State& state) {
    home();
    std::string a = preferencePath(PreferenceFile::IconTester), b = preferencePath(PreferenceFile::Main);
    char buf[8192];
    for (auto _ : state) {
        for (const auto& p : {a, b}) {
            platform::Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
            ssize_t n = ::read(fd.get(), buf, sizeof buf);
            benchmark::DoNotOptimize(n);
        }
    }
}
BENCHMARK(BM_RawReadOfTheSameFiles);

void BM_AtomicWriteOfTheMainFile(benchmark::State& state) {
    home();
    Dictionary d = defaultPreferences(PreferenceFile::Main);
    for (auto _ : state) benchmark::DoNotOptimize(writePreferences(PreferenceFile::Main, d));
}
BENCHMARK(BM_AtomicWriteOfTheMainFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
