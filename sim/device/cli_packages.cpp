// The package commands of vantrel-device: what the package library did, on stdout; the reason of
// a refusal, and whatever was left in place, on stderr. Names and fields from an archive are
// escaped where they reach the terminal.
#include <algorithm>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "sim/common/json.h"
#include "sim/common/safety.h"
#include "sim/device/cli.h"
#include "sim/packages/dpkg_database.h"
#include "sim/packages/packages.h"

namespace vantrel::sim::cli {
namespace {

// What was left in place, one line each on standard error.
void reportKept(const std::vector<std::string>& kept) {
    for (const auto& path : kept)
        std::cerr << "vantrel-device: left /" << printable(path) << ": it is not what install placed there\n";
}

void reportRespring(const DeviceFolder& device, const PackageOutcome& outcome) {
    if (outcome.resprung && !outcome.respringAnswered)
        std::cerr << "vantrel-device: SpringBoard did not come back within " << kRespringTimeout << " s ("
                  << deviceCommand(device, "log") << ")\n";
}

}  // namespace

int installPackageCommand(const DeviceFolder& device, const std::string& debPath) {
    ControlLock lock(device, true);
    if (!lock.held()) {
        std::cerr << "vantrel-device: " << lock.error() << "\n";
        return 1;
    }
    auto installed = installPackage(device, debPath, Postinst::Run);
    if (!installed) {
        std::cerr << "vantrel-device: " << printable(installed.error().message) << "\n";
        return 1;
    }
    reportKept(installed->kept);
    reportRespring(device, *installed);
    std::cout << "installed " << printable(installed->name) << " " << printable(installed->version) << " ("
              << printable(installed->architecture) << ") in " << device.root
              << (installed->resprung ? "; SpringBoard restarted" : "") << "\n";
    return 0;
}

int removePackageCommand(const DeviceFolder& device, const std::string& name) {
    ControlLock lock(device, true);
    if (!lock.held()) {
        std::cerr << "vantrel-device: " << lock.error() << "\n";
        return 1;
    }
    auto removed = removePackage(device, name);
    if (!removed) {
        std::cerr << "vantrel-device: " << printable(removed.error().message) << "\n";
        return 1;
    }
    reportKept(removed->kept);
    reportRespring(device, *removed);
    std::cout << "removed " << printable(removed->name) << " " << printable(removed->version) << " from " << device.root
              << (removed->resprung ? "; SpringBoard restarted" : "") << "\n";
    return 0;
}

int packagesCommand(const DeviceFolder& device, bool json) {
    if (!hasDatabase(device)) {
        std::cerr << "vantrel-device: the device at " << device.root << " is not laid out yet ("
                  << deviceCommand(device, "install") << ")\n";
        return 1;
    }
    auto packages = readStatus(device);
    if (!packages) {
        std::cerr << "vantrel-device: " << printable(packages.error().message) << "\n";
        return 1;
    }
    auto value = [](const Stanza& s, const char* field) { return fieldOf(s, field).value_or(""); };
    if (json) {
        Json list = Json::array();
        for (const auto& s : *packages)
            list.push_back(Json{{"name", value(s, "Package")},
                                {"version", value(s, "Version")},
                                {"architecture", value(s, "Architecture")},
                                {"status", value(s, "Status")}});
        std::cout << jsonDump(Json{{"schema", 1}, {"packages", list}}) << "\n";
        return 0;
    }
    auto shown = [&](const Stanza& s, const char* field) { return printable(value(s, field)); };
    size_t width = 4;
    for (const auto& s : *packages) width = std::max(width, shown(s, "Package").size());
    std::cout << std::left << std::setw(static_cast<int>(width + 2)) << "Name" << std::setw(12) << "Version" << std::setw(14)
              << "Architecture"
              << "Status\n";
    for (const auto& s : *packages)
        std::cout << std::setw(static_cast<int>(width + 2)) << shown(s, "Package") << std::setw(12) << shown(s, "Version")
                  << std::setw(14) << shown(s, "Architecture") << shown(s, "Status") << "\n";
    return 0;
}

}  // namespace vantrel::sim::cli
