// A Debian package read for installing into the device: its control fields through
// `dpkg-deb -f`, its postinst and data tree through `dpkg-deb --ctrl-tarfile/--fsys-tarfile`,
// the tar streams read here member by member, so every path and link is judged before anything
// reaches the disk. The caller owns the returned members; failures come back as a Result whose
// sentence names the package and why (dpkg-deb's own words when it refused the file).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "sim/device/dpkg_database.h"
#include "sim/device/result.h"

namespace vantrel::sim {

struct DebMember {
    enum class Type { File, Directory, Symlink };
    std::string path;  // relative to the device root, no "./", "" for the root itself
    Type type = Type::File;
    mode_t mode = 0644;
    std::string target;  // a symbolic link's
    std::string data;    // a file's bytes
};

struct DebPackage {
    Stanza control;
    std::string postinst;            // empty when it has none
    std::vector<DebMember> members;  // in archive order, folders before what they hold
};

// The package at path, whole and checked: a Debian archive dpkg-deb reads to its end, a control
// with a valid Package name, and data members that stay inside the device root (no absolute
// path, no "..", no link whose target leaves the root, nothing but files, folders and links).
Result<DebPackage> readDebPackage(const std::string& path);

// The members of an uncompressed tar stream (ustar, GNU long names, pax paths), checked as above.
Result<std::vector<DebMember>> readTarMembers(const std::string& tar);

}  // namespace vantrel::sim
