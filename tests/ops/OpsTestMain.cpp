// The jobs find the engines and the RAR library in the program's folder: the build's.
#include <gtest/gtest.h>

#include "TestEnv.h"
#include "platform/Paths.h"

namespace {
class TProgramFolder : public ::testing::Environment {
 public:
  void SetUp() override { SetProgramPath((testenv::ProgramDir() / "tandorfile").string()); }
};
const auto* const kProgramFolder = ::testing::AddGlobalTestEnvironment(new TProgramFolder);
}  // namespace
