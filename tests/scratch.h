// A fresh folder of a test's own, under /tmp and never beside the checkout: short, so a device's
// bus socket fits whatever the checkout's path, and with parents that pass the device's checks
// wherever the checkout sits. Under $TMPDIR when /tmp cannot be written; when neither can, the
// test program ends saying so rather than going on with no folder.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantrel::test {

inline std::string scratchFolder(const std::string& prefix) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string tried;
    for (const std::string& parent : {std::string("/tmp"), std::string(tmpdir ? tmpdir : "")}) {
        if (parent.empty() || parent[0] != '/') continue;
        std::string folder = parent + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(folder.data())) return folder;
        tried += " " + parent + ": " + std::strerror(errno) + ";";
    }
    std::fprintf(stderr, "no folder for the test's files:%s set TMPDIR to a writable folder\n", tried.c_str());
    std::exit(1);
}

}  // namespace vantrel::test
