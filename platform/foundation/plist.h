// Property-list encoding and decoding. Reads the binary format with a bounds-checked reader of
// our own (the hot path: every item decision parses two files), the old-style text format with
// another, and XML through libplist; writes the binary format ("bplist00") through libplist.
// Never throws; bad input gives no value.
// Callable from any thread; holds no state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace platform {

// Containers nested deeper than this are refused: no preference file needs them, and deep
// trees overflow the stack of whoever walks or frees them.
inline constexpr int kMaxPlistDepth = 128;

// Any property-list encoding (binary, text or XML) into a value; nullopt when the bytes are not one.
std::optional<Value> parsePropertyList(std::span<const uint8_t> bytes);

// The binary reader alone (bytes must begin with "bplist00").
std::optional<Value> parseBinaryPropertyList(std::span<const uint8_t> bytes);

// The old-style text reader alone: strings, data, arrays and dictionaries, at most
// kMaxPropertyListFileSize bytes. looksLikeTextPropertyList tells it from XML by the first byte
// that is not white space (text data at the root, `<0fbd>`, included).
std::optional<Value> parseTextPropertyList(std::span<const uint8_t> bytes);
bool looksLikeTextPropertyList(std::span<const uint8_t> bytes);

// Only the named keys of a root dictionary (those present), the whole input checked as the full
// parse checks it: nullopt exactly when parsePropertyList would give no dictionary. The read path
// of readers that need a few keys, without building the rest.
std::optional<Dictionary> parsePropertyListKeys(std::span<const uint8_t> bytes, const std::vector<std::string_view>& keys);
std::optional<Dictionary> parseBinaryPropertyListKeys(std::span<const uint8_t> bytes, const std::vector<std::string_view>& keys);

// The binary form of a value; nullopt when libplist refuses it.
std::optional<std::vector<uint8_t>> serializeBinaryPropertyList(const Value& value);

// The XML form (for people and tests).
std::optional<std::string> serializeXmlPropertyList(const Value& value);

}  // namespace platform
