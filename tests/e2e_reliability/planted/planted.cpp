// A library someone else planted in a device folder: if it is ever loaded, its constructor
// leaves a mark where the test looks for one.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void plantedLibraryRan() {
    if (const char* mark = std::getenv("VANTREL_PLANTED_MARK"))
        if (std::FILE* f = std::fopen(mark, "a")) {
            std::fputs("ran\n", f);
            std::fclose(f);
        }
}
