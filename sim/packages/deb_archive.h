// A Debian package read for installing into the device: its control fields through
// `dpkg-deb -f`, its postinst and data tree through `dpkg-deb --ctrl-tarfile/--fsys-tarfile`,
// the tar streams read here member by member, so every path and link is judged before anything
// reaches the disk. The caller owns the returned members; failures come back as a Result whose
// sentence names the package and why (dpkg-deb's own words when it refused the file).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "sim/packages/dpkg_database.h"
#include "sim/common/result.h"

namespace vantrel::sim {

// A tweak's control file is a few hundred bytes and it ships tens of files; far more is no
// package of the device's (and would outgrow the database and the install record).
inline constexpr size_t kMaxControlFile = 64 << 10;
inline constexpr size_t kMaxPackageMembers = 4096;

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
// of at most kMaxControlFile bytes with a valid Package name, and at most kMaxPackageMembers
// data members that stay inside the device root (no absolute path, no "..", no link whose
// target leaves the root, no control character in a name or target, nothing but files,
// folders and links).
Result<DebPackage> readDebPackage(const std::string& path);

// The members of an uncompressed tar stream (ustar, GNU long names, pax paths), checked as above.
Result<std::vector<DebMember>> readTarMembers(const std::string& tar);

}  // namespace vantrel::sim
