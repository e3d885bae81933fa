// An errno value as text, safe from any thread: strerror may hand every thread the same buffer.
#pragma once

#include <string>

namespace platform {

std::string errorText(int err);

}  // namespace platform
