#pragma once
// File specification matching with "*" (any run, separators included) and "?" (one character).
#include <string_view>

namespace zipfmt {

bool HasWildcards(std::string_view pattern);
// "*.*" matches names without a dot too (the MS-DOS reading). Case-sensitive.
bool WildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace zipfmt
