// TZipKit: self-extracting conversion. Not available in this build: each returns the general
// failure code.
#include "zip/ZipKit.h"

int32_t TZipKit::ConvertToSfx(bool /*newProgram*/) { return -9; }

int32_t TZipKit::ConvertToZip() { return -9; }
