#pragma once
// The picture service: loads a picture file into an RGBA QImage at full size and fills its picture
// info. GIF files are decoded by giflib (first frame), every other kind by DevIL. DevIL keeps global
// state, so every DevIL call of the program goes through this service's one lock; one DevIL image
// name is bound once and reused for every load. Any thread may call.
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Status.h"

// What the viewer's "Info" shows of the last picture loaded.
struct TPictureInfo {
  int32_t Height = -1;    // -1 when the load failed
  int32_t Width = -1;
  int64_t FileDate = 0;   // modification time, seconds since 1970; 0 when the file was not found
  std::string FileName;   // without its folder
  int64_t FileSize = 0;   // bytes; 0 when the file was not found
};

// The two callers of a load differ only in the file name of a missing file (the viewer names it)
// and in the message the viewer shows for a failure.
enum class TPictureUse { View, Thumb };

struct TPicture {
  QImage Image;           // RGBA (QImage::Format_RGBA8888) at full size; null when the load failed
  TPictureInfo Info;
  TStatus Status;         // Unsupported with "picture too large" for a refused header
  std::string ViewMessage;  // the viewer's message for a failed load (may be empty)
};

// Files larger than this are not read as pictures.
constexpr int64_t kMaxPictureFileBytes = int64_t{512} << 20;

// Loads `path`: its info from the file system, then its pixels. A header claiming more than the
// picture limits is refused before anything is decoded.
TPicture LoadPicture(const std::string& path, TPictureUse use);

// Decodes a picture held in memory; `ext` (lower case, with its point) picks the decoder when the
// content does not. `viewMessage` (optional) gets the viewer's text for a DevIL failure.
TStatus DecodePicture(const uint8_t* data, size_t size, std::string_view ext, QImage& out,
                      std::string* viewMessage = nullptr);

// DevIL's state: made on first use (InitPictureLibrary runs then by itself), released by the program
// at its end when it was made.
void InitPictureLibrary();
bool PictureLibraryReady();
void FreePictureLibrary();
