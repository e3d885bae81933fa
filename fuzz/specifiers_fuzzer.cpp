// The specifier file loader and the pages built from it. The first byte picks which of the
// bundle's three specifier files the rest replaces (any bytes: a damaged or hand-edited file);
// the page is then opened, its rows listed with their values, every keyed control changed once
// (a switch flipped, anything else set to its first valid value or its default), and the page
// left. Nothing may crash, and a file that is no specifier file gives a page without rows.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/runloop.h"
#include "platform/preferences/settings_app.h"
#include "platform/uikit/alert.h"
#include "prefs/pages.h"

namespace {

platform::ManualRunLoop* loop;
std::string bundle;
const char* const kFiles[] = {"Vantrel", "IconTester", "DataFaker"};
const char* const kPages[] = {"main", "icontester", "datafaker"};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "specifier fuzzer: %s\n", what);
    std::abort();
}

platform::PSValue changed(const platform::SpecifierRow& row) {
    if (row.value && row.value->boolean()) return platform::Value(!*row.value->boolean());
    if (!row.validValues.empty()) return row.validValues.front();
    if (const platform::Value* d = row.specifier->propertyForKey("default")) return *d;
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::setLogToStderr(false);
    // Under /dev/shm when there is one: the pages fsync every write they make.
    std::string tmpl = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/vantrel-fuzz-specifiers-XXXXXX";
    static std::string root;
    root = mkdtemp(tmpl.data());
    std::atexit([] { std::filesystem::remove_all(root); });
    bundle = root + "/Vantrel.bundle";
    std::filesystem::create_directories(bundle);
    std::filesystem::create_directories(root + "/var/mobile");
    for (const char* f : kFiles)
        std::filesystem::copy_file(std::string(VANTREL_SOURCE_DIR "/prefs/resources/") + f + ".plist",
                                   bundle + "/" + f + ".plist");
    platform::setHomeDirectory(root + "/var/mobile");
    loop = new platform::ManualRunLoop();
    platform::RunLoop::setMain(loop);
    platform::NotificationCenter::setDistributed(new platform::InProcessNotificationCenter());
    vantrel::prefs::registerPageClasses(bundle);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t which = data[0] % 3;
    std::string path = bundle + "/" + kFiles[which] + ".plist";
    std::string original = std::string(VANTREL_SOURCE_DIR "/prefs/resources/") + kFiles[which] + ".plist";
    if (!platform::writeFileAtomically(path, {data + 1, size - 1})) fail("could not place the file");

    auto parsed = platform::readDictionaryFile(path);
    const platform::Value* items = parsed ? platform::lookup(*parsed, "items") : nullptr;
    auto loaded = platform::loadSpecifiersFromFile(path, nullptr);
    if ((!items || !items->array()) && !loaded.empty()) fail("specifiers from a file without an items array");

    id page = vantrel::prefs::openPage(kPages[which]);
    if (page) {
        for (const auto& row : platform::controllerRows(page)) {
            if (row.key.empty() || !row.specifier) continue;
            platform::setControllerValue(page, row.specifier, changed(row));
            loop->runPending();
        }
        platform::controllerRows(page);
        platform::suspendController(page);
        platform::leaveController(page);
    }
    loop->runPending();
    platform::clearAlerts();
    std::filesystem::copy_file(original, path, std::filesystem::copy_options::overwrite_existing);
    return 0;
}
