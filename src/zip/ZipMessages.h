#pragma once
// Message table of the zip component: ids 10101 .. 11047 and their texts.
#include <cstdint>
#include <string>

// The text of a message id; an unknown id gives the "missing string" text naming the id.
std::string ZipKitMessageText(int32_t id);
// True when the table holds the id.
bool ZipKitHasMessage(int32_t id);

// The text with its first printf-style number placeholder ("%d", "%.1d") replaced by `value`.
std::string ZipKitFormat(int32_t id, int64_t value);
// The text with its first "%s" replaced by `value`.
std::string ZipKitFormat(int32_t id, const std::string& value);
// The text with two number placeholders replaced in order.
std::string ZipKitFormat(int32_t id, int64_t first, int64_t second);
