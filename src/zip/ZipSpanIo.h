#pragma once
// Moving bytes between files for the multi-part copies: in-kernel copies where the system offers
// them, a buffered read and write otherwise.
#include <cstddef>
#include <cstdint>
#include <functional>

class TZipKit;

// Blocks of the component's own copies (each reported as progress): in-kernel copies cost per
// call, so blocks are large.
inline constexpr int64_t kSpanCopyBlock = 16 << 20;

// Copies up to `n` bytes from `in` at `inPos` to `out` at its file position. Returns the count
// copied (short at the end of the input), or -1 with errno set.
int64_t CopyFileBytes(int in, int64_t inPos, int out, int64_t n);
// Writes all `n` bytes; false with errno set.
bool WriteFileBytes(int fd, const void* data, size_t n);
// Reads exactly `n` bytes at `pos`; false on a short read or an error.
bool ReadFileBytes(int fd, int64_t pos, void* data, size_t n);

// Runs one multi-part copy and reports its failure: -7 after a component error (reported with its
// own text), -8 out of memory (10103), -9 any other exception (11024 with its text); 0 on success.
int32_t RunSpanCopy(TZipKit& kit, const std::function<void()>& copy);
