#include "sim/packages/dpkg_database.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include <fcntl.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"

namespace vantrel::sim {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

Result<std::string> readText(const std::string& path) {
    auto bytes = platform::readWholeFile(path, kMaxDatabaseFile);
    if (!bytes) return failure("cannot read " + path + ": " + platform::errorText(errno ? errno : EIO));
    return std::string(bytes->begin(), bytes->end());
}

Result<void> writeText(const std::string& path, const std::string& text) {
    if (text.size() > kMaxDatabaseFile)
        return failure("refusing to write " + path + ": " + std::to_string(text.size()) +
                       " bytes is more than the database reads");
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (!platform::writeFileAtomically(path, bytes)) return failure("cannot write " + path + ": " + platform::errorText(errno));
    return {};
}

// What the device has before anything is installed: the loader that injects DynamicLibraries
// and the one that lists PreferenceLoader's entries in Settings, with the folders they own.
struct BasePackage {
    const char* name;
    const char* description;
    std::vector<std::string> folders;
};

const std::vector<BasePackage>& basePackages() {
    static const std::vector<BasePackage> packages{
        {"mobilesubstrate",
         "the device's hooking substrate and library loader",
         {"", "Library", "Library/MobileSubstrate", "Library/MobileSubstrate/DynamicLibraries"}},
        {"preferenceloader",
         "lists the entries of Library/PreferenceLoader in Settings",
         {"", "Library", "Library/PreferenceBundles", "Library/PreferenceLoader", "Library/PreferenceLoader/Preferences"}},
    };
    return packages;
}

}  // namespace

std::optional<std::string> fieldOf(const Stanza& stanza, std::string_view name) {
    for (const auto& [key, value] : stanza)
        if (sameName(key, name)) return value;
    return std::nullopt;
}

void setField(Stanza& stanza, const std::string& name, const std::string& value, std::string_view after) {
    for (auto& [key, old] : stanza)
        if (sameName(key, name)) {
            old = value;
            return;
        }
    auto at =
        std::find_if(stanza.begin(), stanza.end(), [&](const auto& f) { return !after.empty() && sameName(f.first, after); });
    stanza.insert(at == stanza.end() ? at : at + 1, {name, value});
}

Result<std::vector<Stanza>> parseStanzas(std::string_view text) {
    std::vector<Stanza> stanzas;
    Stanza current;
    size_t lineNumber = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (trim(line).empty()) {
            if (!current.empty()) stanzas.push_back(std::move(current));
            current.clear();
        } else if (line[0] == ' ' || line[0] == '\t') {
            if (current.empty()) return failure("line " + std::to_string(lineNumber) + " continues no field");
            current.back().second += "\n" + std::string(line);
        } else {
            size_t colon = line.find(':');
            std::string name = colon == std::string_view::npos ? std::string() : trim(line.substr(0, colon));
            if (name.empty() || name.find_first_of(" \t") != std::string::npos)
                return failure("line " + std::to_string(lineNumber) + " is no \"Field: value\" line");
            current.emplace_back(name, trim(line.substr(colon + 1)));
        }
    }
    if (!current.empty()) stanzas.push_back(std::move(current));
    return stanzas;
}

std::string formatStanzas(const std::vector<Stanza>& stanzas) {
    std::string out;
    for (const auto& stanza : stanzas) {
        if (!out.empty()) out += "\n";
        for (const auto& [name, value] : stanza) out += name + ": " + value + "\n";
    }
    return out;
}

Result<std::string> formatStatus(const std::vector<Stanza>& packages) {
    std::string text = formatStanzas(packages);
    if (text.size() > kMaxDatabaseFile)
        return failure("the package database would be " + std::to_string(text.size() >> 20) + " MB, more than it reads back");
    auto back = parseStanzas(text);
    if (!back || *back != packages) return failure("the package database would not read back as written");
    return text;
}

std::string dpkgDirectory(const DeviceFolder& device) { return device.dpkgDirectory(); }
std::string statusFile(const DeviceFolder& device) { return device.dpkgStatus(); }
std::string fileListOf(const DeviceFolder& device, const std::string& package) {
    return dpkgDirectory(device) + "/info/" + package + ".list";
}

bool isPackageName(std::string_view name) {
    if (name.size() < 2 || !std::isalnum(static_cast<unsigned char>(name[0]))) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

bool isDevicePath(std::string_view path) {
    if (path.empty()) return true;
    size_t at = 0;
    for (;;) {
        size_t slash = path.find('/', at);
        std::string_view part = path.substr(at, slash == std::string_view::npos ? std::string_view::npos : slash - at);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) break;
        at = slash + 1;
    }
    return std::none_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

Result<platform::Fd> openFolderInside(const DeviceFolder& device, const std::string& relative) {
    platform::Fd dir(::open(device.root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir) return failure("cannot open " + device.root + ": " + platform::errorText(errno));
    if (!isDevicePath(relative)) return failure(device.root + "/" + relative + " is no plain path inside the device");
    size_t at = 0;
    while (!relative.empty() && at <= relative.size()) {
        size_t slash = relative.find('/', at);
        std::string part = relative.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        dir = platform::Fd(::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!dir)
            return failure("cannot open " + device.root + "/" + relative.substr(0, at - 1) +
                           " as a folder that is no link: " + platform::errorText(errno));
    }
    return dir;
}

bool hasDatabase(const DeviceFolder& device) { return platform::fileExists(statusFile(device)); }

Result<void> layOutDatabase(const DeviceFolder& device) {
    if (hasDatabase(device)) return {};
    if (!platform::createDirectories(dpkgDirectory(device) + "/info"))
        return failure("cannot create " + dpkgDirectory(device) + "/info");
    std::vector<Stanza> packages;
    for (const auto& base : basePackages()) {
        for (const auto& folder : base.folders)
            if (!folder.empty() && !platform::createDirectories(device.root + "/" + folder))
                return failure("cannot create " + device.root + "/" + folder);
        TRY(writeFileList(device, base.name, base.folders));
        packages.push_back({{"Package", base.name},
                            {"Status", "install ok installed"},
                            {"Priority", "required"},
                            {"Section", "System"},
                            {"Maintainer", "Vantrel device"},
                            {"Architecture", VANTREL_ARCHITECTURE},
                            {"Version", "1.0"},
                            {"Description", base.description}});
    }
    // Written last: its presence says the layout is whole.
    return writeStatus(device, packages);
}

Result<std::vector<Stanza>> readStatus(const DeviceFolder& device) {
    std::string text = TRY(readText(statusFile(device)));
    auto stanzas = parseStanzas(text);
    if (!stanzas) return failure(statusFile(device) + ": " + stanzas.error().message);
    return stanzas;
}

Result<void> writeStatus(const DeviceFolder& device, const std::vector<Stanza>& packages) {
    auto text = formatStatus(packages);
    if (!text) return failure("refusing to write " + statusFile(device) + ": " + text.error().message);
    return writeText(statusFile(device), *text);
}

std::optional<Stanza> findPackage(const std::vector<Stanza>& packages, std::string_view name) {
    for (const auto& stanza : packages)
        if (fieldOf(stanza, "Package") == name) return stanza;
    return std::nullopt;
}

Result<std::vector<std::string>> readFileList(const DeviceFolder& device, const std::string& package) {
    const std::string file = fileListOf(device, package);
    std::string text = TRY(readText(file));
    std::vector<std::string> paths;
    size_t at = 0, lineNumber = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (line == "/.")
            paths.emplace_back();
        else if (line.size() > 1 && line[0] == '/' && isDevicePath(std::string_view(line).substr(1)))
            paths.push_back(line.substr(1));
        else
            return failure(file + " is damaged: line " + std::to_string(lineNumber) + " is no path inside the device");
    }
    return paths;
}

Result<std::string> formatFileList(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& path : paths) {
        if (!isDevicePath(path)) return failure(path + " is no path the package list can keep");
        text += path.empty() ? "/.\n" : "/" + path + "\n";
    }
    if (text.size() > kMaxDatabaseFile) return failure("its file list would be more than the database reads");
    return text;
}

Result<void> writeFileList(const DeviceFolder& device, const std::string& package, const std::vector<std::string>& paths) {
    auto text = formatFileList(paths);
    if (!text) return failure("refusing to write " + fileListOf(device, package) + ": " + text.error().message);
    return writeText(fileListOf(device, package), *text);
}

Result<void> removeFileList(const DeviceFolder& device, const std::string& package) {
    platform::Fd info = TRY(openFolderInside(device, "var/lib/dpkg/info"));
    if (::unlinkat(info.get(), (package + ".list").c_str(), 0) != 0 && errno != ENOENT)
        return failure("cannot remove " + fileListOf(device, package) + ": " + platform::errorText(errno));
    return {};
}

Result<std::map<std::string, std::string>> ownersOfPaths(const DeviceFolder& device, const std::vector<Stanza>& packages,
                                                         std::string_view except) {
    std::map<std::string, std::string> owners;
    for (const auto& stanza : packages) {
        std::string name = fieldOf(stanza, "Package").value_or("");
        if (name == except || !isPackageName(name)) continue;
        for (auto& path : TRY(readFileList(device, name))) owners.emplace(std::move(path), name);
    }
    return owners;
}

std::vector<std::vector<std::string>> dependencyGroups(const std::string& depends) {
    std::vector<std::vector<std::string>> groups;
    size_t at = 0;
    while (at <= depends.size()) {
        size_t comma = depends.find(',', at);
        std::string group = depends.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        at = comma == std::string::npos ? depends.size() + 1 : comma + 1;
        std::vector<std::string> names;
        size_t from = 0;
        while (from <= group.size()) {
            size_t bar = group.find('|', from);
            std::string one = group.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
            from = bar == std::string::npos ? group.size() + 1 : bar + 1;
            // "name (>= 1.0)" or "name:arch": the name alone.
            std::string name = trim(one.substr(0, one.find_first_of("(:[<")));
            while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
            if (!name.empty()) names.push_back(name);
        }
        if (!names.empty()) groups.push_back(std::move(names));
    }
    return groups;
}

}  // namespace vantrel::sim
