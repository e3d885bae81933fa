#include "platform/foundation/error_text.h"

#include <cstring>

namespace platform {

std::string errorText(int err) {
    char buffer[256];
    // GNU strerror_r: the text, in buffer or a static string of its own.
    return ::strerror_r(err, buffer, sizeof buffer);
}

}  // namespace platform
