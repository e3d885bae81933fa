// An extension that brings SpringBoard down as it loads, every time: what a crash loop is made
// of. No core file is left behind.
#include <sys/resource.h>

#include <cstdlib>

__attribute__((constructor)) static void crashOnLoad() {
    struct rlimit none {
        0, 0
    };
    ::setrlimit(RLIMIT_CORE, &none);
    std::abort();
}
