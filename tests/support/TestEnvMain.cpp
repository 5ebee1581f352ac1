// Linked into every plain test executable so that the isolated environment exists before main().
#include "TestEnv.h"

namespace {
const bool kIsolated = (testenv::Root(), true);
}
