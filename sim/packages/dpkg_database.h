// The device's package database, kept as dpkg keeps its own: var/lib/dpkg/status holds one
// RFC 822 stanza per installed package, var/lib/dpkg/info/NAME.list the paths each one owns
// (directories too, "/." first). Plain functions over the device folder; every write replaces
// its file atomically, and failures come back as a Result naming the path. Nothing throws.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/common/device.h"

namespace vantrel::sim {

// One stanza: fields in their order, values as written (continuation lines keep their "\n ").
using Stanza = std::vector<std::pair<std::string, std::string>>;

// A field's value (names compare without case, as dpkg's do), or nullopt.
std::optional<std::string> fieldOf(const Stanza& stanza, std::string_view name);
// Sets a field, in place when present, else after `after` (or at the end).
void setField(Stanza& stanza, const std::string& name, const std::string& value, std::string_view after = {});

// The database files are small text; the reader refuses larger ones, so nothing larger is written.
inline constexpr size_t kMaxDatabaseFile = 16 << 20;

// Stanzas separated by blank lines; an error names the first line that is no field.
Result<std::vector<Stanza>> parseStanzas(std::string_view text);
std::string formatStanzas(const std::vector<Stanza>& stanzas);
// The status file's text, or an error when the reader would not give these stanzas back from it.
Result<std::string> formatStatus(const std::vector<Stanza>& packages);

// Where the database lives in the device.
std::string dpkgDirectory(const DeviceFolder& device);
std::string statusFile(const DeviceFolder& device);
std::string fileListOf(const DeviceFolder& device, const std::string& package);

// Package names as dpkg takes them: lowercase letters, digits, "+", "-", "."; two or more.
bool isPackageName(std::string_view name);

// A path relative to the device root as the file lists keep it: "" for the root, else names
// joined by "/", none empty, "." or "..", and no control character anywhere.
bool isDevicePath(std::string_view path);

// A folder inside the device ("" for the root) opened from the root one name at a time without
// following a link: what deletions and renames are made relative to.
Result<platform::Fd> openFolderInside(const DeviceFolder& device, const std::string& relative);

// Whether the database exists: the device folder has been laid out.
bool hasDatabase(const DeviceFolder& device);

// The first layout: the substrate and the preference loader, installed with the folders they
// own. Leaves an existing database alone.
Result<void> layOutDatabase(const DeviceFolder& device);

Result<std::vector<Stanza>> readStatus(const DeviceFolder& device);
Result<void> writeStatus(const DeviceFolder& device, const std::vector<Stanza>& packages);
// The installed stanza of a package, or nullopt.
std::optional<Stanza> findPackage(const std::vector<Stanza>& packages, std::string_view name);

// A package's paths, relative to the device root ("" for the root itself), in recorded order;
// a line that is no device path is an error, never skipped.
Result<std::vector<std::string>> readFileList(const DeviceFolder& device, const std::string& package);
// The list's text, or an error when a path is no device path or the text would be too large.
Result<std::string> formatFileList(const std::vector<std::string>& paths);
Result<void> writeFileList(const DeviceFolder& device, const std::string& package, const std::vector<std::string>& paths);
Result<void> removeFileList(const DeviceFolder& device, const std::string& package);

// Every path some installed package other than `except` owns, with its owner.
Result<std::map<std::string, std::string>> ownersOfPaths(const DeviceFolder& device, const std::vector<Stanza>& packages,
                                                         std::string_view except);

// The names a Depends field asks for: each group of alternatives ("a | b (>= 1)") as its names.
std::vector<std::vector<std::string>> dependencyGroups(const std::string& depends);

}  // namespace vantrel::sim
