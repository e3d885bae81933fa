// What makes a device folder safe to run: the checks every program of the device makes before
// it loads, runs, reads or writes anything there, and the one way libraries are loaded from it.
// A folder is used only when it and everything the device keeps in it belong to the caller and
// nobody else can write them; libraries load only when install recorded them with this digest.
// Failures come back as a Result whose error is a sentence naming the path.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/common/device.h"

namespace vantrel::sim {

// sshd's rule for the device: the folder and its parents up to / are owned by the caller or
// root and writable by nobody else (a sticky /tmp is fine); the folders the device creates, and
// what it loads, runs or appends to in them, are the caller's, not writable by group or others,
// and no symbolic link. A folder that does not exist yet passes when its parents do.
Result<void> checkDeviceFolder(const DeviceFolder& device);

// A program, library or package of the device's own installation, before it is run or loaded: the
// file and every folder above it belong to the caller or root and nobody else can write them (a
// sticky folder such as /tmp aside), and none is a symbolic link.
Result<void> checkTrustedPath(const std::string& path);
// programPath(name) once it and the folder of the libraries it loads passed checkTrustedPath.
Result<std::string> companionProgram(const std::string& name);

// The bus socket lives in run/: its path must fit a unix socket address.
Result<void> checkSocketPath(const DeviceFolder& device);

// The files install put in the device, by path inside the folder, with their SHA-256 (a
// link's: of its target). Empty when the record is missing or unreadable: nothing loads.
std::map<std::string, std::string> installedFiles(const DeviceFolder& device);
bool recordInstalledFiles(const DeviceFolder& device, const std::map<std::string, std::string>& files);
// The same for whoever changes the record: empty only when there is none yet, an error when it
// is there but cannot be read, so that no update starts from nothing.
Result<std::map<std::string, std::string>> readInstallRecord(const DeviceFolder& device);
// The record's bytes, or an error when its readers would refuse them (larger than a property
// list is read); writeInstallRecord writes nothing then.
Result<std::vector<uint8_t>> encodeInstallRecord(const std::map<std::string, std::string>& files);
Result<void> writeInstallRecord(const DeviceFolder& device, const std::map<std::string, std::string>& files);

// dlopen of an installed file (path inside the folder), opened component by component without
// following links, owned by the caller, and hashing to what install recorded. byDescriptor
// loads the very inode hashed (/proc/self/fd); otherwise the path is loaded after checking it
// still names that inode (for code that finds its resources next to itself).
Result<void*> loadInstalled(const DeviceFolder& device, const std::string& relativePath, bool byDescriptor);

// Text from a device file made safe for one log line: control characters escaped.
std::string printable(std::string_view text);

// Text for a person's terminal: C0 and C1 control characters and DEL shown as \xNN, so that no
// carrier name, alert or package field can move the cursor, retitle the window or ring the
// bell; everything else, backslashes and JSON's escapes included, is left as it is.
std::string displayable(std::string_view text);

}  // namespace vantrel::sim
