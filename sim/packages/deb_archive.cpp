#include "sim/packages/deb_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include <unistd.h>

#include "platform/foundation/sd_ptr.h"
#include "sim/common/process.h"

namespace vantrel::sim {
namespace {

constexpr char kDpkgDeb[] = "/usr/bin/dpkg-deb";
constexpr size_t kMaxOutput = size_t{512} << 20;  // a tweak is a few megabytes
constexpr double kReaper = 120.0;

// Runs dpkg-deb to its end (killed past the reaper timeout or past maxOutput bytes): its
// standard output, or its last line of standard error when it failed.
Result<std::string> dpkgDeb(const std::vector<std::string>& arguments, size_t maxOutput = kMaxOutput) {
    if (::access(kDpkgDeb, X_OK) != 0) return failure(std::string(kDpkgDeb) + " is missing (apt-get install dpkg)");
    auto ran = runCapture(kDpkgDeb, arguments, "", kReaper, maxOutput);
    if (!ran && ran.error().name == "TooLarge")
        return failure("it unpacks to more than " + std::to_string(maxOutput >> 20) + " MB", "TooLarge");
    if (!ran) return ran.error();
    if (!ran->exitedZero()) {
        std::string& said = ran->error;
        while (!said.empty() && said.back() == '\n') said.pop_back();
        size_t last = said.rfind('\n');
        said = last == std::string::npos ? said : said.substr(last + 1);
        return failure(said.empty() ? "dpkg-deb failed" : said);
    }
    return std::move(ran->output);
}

// A numeric tar field: octal text, or base-256 when its first byte has the high bit.
std::optional<uint64_t> tarNumber(const char* field, size_t size) {
    uint64_t value = 0;
    if (static_cast<unsigned char>(field[0]) & 0x80) {
        for (size_t i = 1; i < size; ++i) {
            if (value >> 55) return std::nullopt;
            value = value << 8 | static_cast<unsigned char>(field[i]);
        }
        return value;
    }
    size_t i = 0;
    while (i < size && field[i] == ' ') ++i;
    bool any = false;
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i, any = true) {
        if (value >> 60) return std::nullopt;
        value = value * 8 + static_cast<uint64_t>(field[i] - '0');
    }
    if (i < size && field[i] != ' ' && field[i] != '\0') return std::nullopt;
    return any ? std::optional(value) : std::nullopt;
}

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A path of the archive as a path inside the device root, or an error saying how it leaves it.
// A control character would let a name pass for more than one line of the database.
Result<std::string> devicePath(const std::string& raw) {
    if (hasControlCharacter(raw)) return failure("its member " + raw + " has a control character in its name");
    if (!raw.empty() && raw[0] == '/') return failure("its member " + raw + " has an absolute path");
    std::string path;
    size_t at = 0;
    while (at <= raw.size()) {
        size_t slash = raw.find('/', at);
        std::string part = raw.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? raw.size() + 1 : slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return failure("its member " + raw + " climbs out of the device root with \"..\"");
        path += (path.empty() ? "" : "/") + part;
    }
    return path;
}

// Whether a link at path may point at target: relative, any ".." first and never more of them
// than the link's folder is deep, so it stays inside the root whatever links it meets on the way.
bool staysInside(const std::string& path, const std::string& target) {
    if (target.empty() || target[0] == '/') return false;
    long depth = static_cast<long>(std::count(path.begin(), path.end(), '/'));
    bool descending = false;
    size_t at = 0;
    while (at <= target.size()) {
        size_t slash = target.find('/', at);
        std::string part = target.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? target.size() + 1 : slash + 1;
        if (part.empty() || part == ".") continue;
        if (part != "..")
            descending = true;
        else if (descending || --depth < 0)
            return false;
    }
    return true;
}

// pax records "LEN key=value\n": path, linkpath and size are the ones that matter here.
void readPax(const std::string& records, std::string* path, std::string* linkpath, std::optional<uint64_t>* size) {
    size_t at = 0;
    while (at < records.size()) {
        size_t space = records.find(' ', at);
        if (space == std::string::npos) return;
        size_t length = std::strtoull(records.c_str() + at, nullptr, 10);
        if (length == 0 || at + length > records.size()) return;
        std::string record = records.substr(space + 1, at + length - space - 2);  // without the "\n"
        at += length;
        size_t eq = record.find('=');
        if (eq == std::string::npos) continue;
        std::string key = record.substr(0, eq), value = record.substr(eq + 1);
        if (key == "path")
            *path = value;
        else if (key == "linkpath")
            *linkpath = value;
        else if (key == "size")
            *size = std::strtoull(value.c_str(), nullptr, 10);
    }
}

}  // namespace

Result<std::vector<DebMember>> readTarMembers(const std::string& tar) {
    std::vector<DebMember> members;
    std::set<std::string> seen, folders;  // every path so far, and those that are folders
    std::string longName, longLink;
    std::optional<uint64_t> paxSize;
    size_t at = 0;
    for (;;) {
        if (at + 512 > tar.size()) return failure("its data ends inside a tar header");
        const char* h = tar.data() + at;
        if (std::all_of(h, h + 512, [](char c) { return c == 0; })) break;  // the end blocks
        unsigned sum = 0;
        for (size_t i = 0; i < 512; ++i) sum += i >= 148 && i < 156 ? ' ' : static_cast<unsigned char>(h[i]);
        auto recorded = tarNumber(h + 148, 8);
        auto size = tarNumber(h + 124, 12);
        auto mode = tarNumber(h + 100, 8);
        if (!recorded || *recorded != sum || !size || !mode) return failure("its data has a damaged tar header");
        if (paxSize) size = paxSize;
        char type = h[156];
        size_t dataAt = at + 512;
        if (*size > tar.size() - dataAt) return failure("its data ends inside a member");
        std::string data = tar.substr(dataAt, *size);
        at = dataAt + (*size + 511) / 512 * 512;

        if (type == 'L' || type == 'K') {
            (type == 'L' ? longName : longLink) = data.substr(0, strnlen(data.c_str(), data.size()));
            continue;
        }
        if (type == 'x') {
            readPax(data, &longName, &longLink, &paxSize);
            continue;
        }
        if (type == 'g') continue;
        std::string name = longName;
        if (name.empty()) {
            name = fieldText(h, 100);
            // ustar keeps the head of a long path in its prefix field.
            if (std::memcmp(h + 257, "ustar\0", 6) == 0 && h[345] != '\0') name = fieldText(h + 345, 155) + "/" + name;
        }
        std::string target = longLink.empty() ? fieldText(h + 157, 100) : longLink;
        longName.clear(), longLink.clear(), paxSize.reset();

        DebMember member;
        member.path = TRY(devicePath(name));
        member.mode = static_cast<mode_t>(*mode & 07777);
        if (type == '0' || type == '\0' || type == '7') {
            member.type = DebMember::Type::File;
            member.data = std::move(data);
        } else if (type == '5') {
            member.type = DebMember::Type::Directory;
        } else if (type == '2') {
            member.type = DebMember::Type::Symlink;
            member.target = target;
            if (hasControlCharacter(target))
                return failure("its link " + member.path + " has a control character in its target " + target);
            if (!staysInside(member.path, target))
                return failure("its link " + member.path + " -> " + target + " leaves the device root");
        } else {
            return failure("its member " + name + " is " + (type == '1' ? "a hard link" : "no file, folder or link") +
                           ", which the device does not install");
        }
        if (member.path.empty() && member.type != DebMember::Type::Directory)
            return failure("its member " + name + " would replace the device root");
        if (!seen.insert(member.path).second) {
            if (member.type == DebMember::Type::Directory && folders.count(member.path)) continue;
            return failure("its member " + member.path + " comes twice");
        }
        if (member.type == DebMember::Type::Directory) folders.insert(member.path);
        // A folder the archive implies without listing it is made, and owned, all the same; a
        // link or file is never a folder to place things through.
        std::vector<std::string> above;
        if (!member.path.empty()) above.emplace_back();
        for (size_t slash = member.path.find('/'); slash != std::string::npos; slash = member.path.find('/', slash + 1))
            above.push_back(member.path.substr(0, slash));
        for (auto& folder : above) {
            if (seen.insert(folder).second) {
                folders.insert(folder);
                members.push_back({std::move(folder), DebMember::Type::Directory, 0755, {}, {}});
            } else if (!folders.count(folder)) {
                return failure("its member " + member.path + " lies beneath " + folder + ", which is no folder");
            }
        }
        members.push_back(std::move(member));
        if (members.size() > kMaxPackageMembers)
            return failure("it has more than " + std::to_string(kMaxPackageMembers) + " files, folders and links");
    }
    return members;
}

Result<DebPackage> readDebPackage(const std::string& path) {
    DebPackage package;
    auto control = dpkgDeb({"--field", path}, kMaxControlFile);
    if (!control && control.error().name == "TooLarge")
        return failure("refusing " + path + ": its control file is larger than " + std::to_string(kMaxControlFile >> 10) + " KB");
    if (!control) return failure("cannot read " + path + " as a Debian package: " + control.error().message);
    auto stanzas = parseStanzas(*control);
    if (!stanzas || stanzas->size() != 1) return failure(path + " has a damaged control file");
    package.control = stanzas->front();
    auto name = fieldOf(package.control, "Package");
    if (!name || name->empty()) return failure(path + " has no Package field in its control file");
    if (!isPackageName(*name)) return failure(path + " names an invalid package \"" + *name + "\"");

    auto controlTar = dpkgDeb({"--ctrl-tarfile", path});
    if (!controlTar) return failure(path + " is damaged or truncated: " + controlTar.error().message);
    auto controlMembers = readTarMembers(*controlTar);
    if (!controlMembers) return failure(path + " has a damaged control archive: " + controlMembers.error().message);
    for (auto& member : *controlMembers)
        if (member.path == "postinst" && member.type == DebMember::Type::File) package.postinst = std::move(member.data);

    auto dataTar = dpkgDeb({"--fsys-tarfile", path});
    if (!dataTar) return failure(path + " is damaged or truncated: " + dataTar.error().message);
    auto members = readTarMembers(*dataTar);
    if (!members) return failure("refusing " + path + ": " + members.error().message);
    package.members = members.release();
    return package;
}

}  // namespace vantrel::sim
