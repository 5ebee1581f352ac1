// Creation runs that need no zip engine: tar, gzipped tar and gzip.
#include "CreatePageFixture.h"

namespace {
using namespace createtest;
}
