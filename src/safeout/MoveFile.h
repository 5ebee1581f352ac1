#pragma once
// Moving a file to another folder without ever replacing anything there.
#include <string>

#include "safeout/Result.h"

namespace safeout {

enum class TMoveWay { None, Renamed, Copied };

// Moves the regular file `source` to the path `target` (its folder must exist). Within one file
// system it is a rename that fails when `target` exists; across file systems a copy under a hidden
// name, flushed to disk, read back and compared with the source, then named `target` (never over an
// existing name), and only then is the source removed. On any failure the source stays where it was
// and nothing is left at `target`: TFault::Exists when something already is there. `way` (optional)
// tells which of the two moved it.
TResult MoveFileNoReplace(const std::string& source, const std::string& target, TMoveWay* way = nullptr);

}  // namespace safeout
