// The userInfo codec of the notification signal: a Dictionary as a{sv} and back. Each value is a
// variant: b boolean; i integer (when it fits 32 bits, so 32-bit readers see what a phone sends),
// else x, or t above INT64_MAX; d real; s string; ay data; (d) date, its seconds since 2001 in a
// one-field struct so it never reads back as a real; av array; a{sv} dictionary. Stateless; any
// thread.
#pragma once

#include "platform/foundation/value.h"

struct sd_bus_message;

namespace platform {

// Containers a message may nest, the variants and the body's own a{sv} included: the bus refuses
// deeper messages, so a userInfo carries about twenty levels of arrays and dictionaries.
inline constexpr int kMaxUserInfoNesting = 64;

// Writes an a{sv} as the third argument of a message; false when the message refused a value. An
// entry nested deeper than the limit is left out with a log line.
bool appendUserInfo(sd_bus_message* message, const Dictionary& userInfo);

// Reads an a{sv} at the message's position; false when it is no a{sv} at all. An entry holding a
// signature the signal does not carry anywhere inside it, or nested deeper than the limit, is
// left out whole (one log line per message says how many).
bool readUserInfo(sd_bus_message* message, Dictionary& userInfo);

}  // namespace platform
