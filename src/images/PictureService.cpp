#include "images/PictureService.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "images/GifDecoder.h"
#include "images/PictureHeader.h"
#include "images/PictureTypes.h"

namespace {

std::mutex& DevilLock() {
  static std::mutex lock;
  return lock;
}

bool g_ready = false;
ILuint g_image = 0;

// With the lock held.
void InitLocked() {
  if (g_ready) return;
  ilInit();
  iluInit();
  ilEnable(IL_ORIGIN_SET);
  ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
  ilGenImages(1, &g_image);
  ilBindImage(g_image);
  g_ready = true;
}

void ClearDevilErrors() {
  for (int i = 0; i < 64 && ilGetError() != IL_NO_ERROR; ++i) {
  }
}

std::string LoadFailureText(ILenum error) {
  switch (error) {
    case IL_COULD_NOT_OPEN_FILE: return "Error : Could not open file";
    case IL_INVALID_EXTENSION: return "Error : Illegal extension on load";
    case IL_INVALID_PARAM: return "Error : Invalid filename";
    default: return "Image Error";
  }
}

std::string ConvertFailureText(ILenum error) {
  switch (error) {
    case IL_INVALID_CONVERSION: return "Error on image conversion";
    case IL_OUT_OF_MEMORY: return "Error : Out of memory";
    default: return {};
  }
}

std::string Hex(ILenum code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
  return text;
}

// With the lock held: loads the lump as `type`.
bool LoadAs(ILenum type, const uint8_t* data, size_t size) {
  if (type == IL_TYPE_UNKNOWN) return false;
  ClearDevilErrors();
  return ilLoadL(type, data, static_cast<ILuint>(size)) == IL_TRUE;
}

TStatus DecodeWithDevil(const uint8_t* data, size_t size, std::string_view ext, QImage& out,
                        std::string* viewMessage) {
  std::lock_guard<std::mutex> hold(DevilLock());
  InitLocked();
  ilBindImage(g_image);
  const std::string fakeName = "picture" + std::string(ext);
  const ILenum byName = ilTypeFromExt(fakeName.c_str());
  bool loaded = LoadAs(byName, data, size);
  ILenum error = loaded ? IL_NO_ERROR : ilGetError();
  if (!loaded) {
    // A picture stored under another kind's extension: its content decides.
    const ILenum byContent = ilDetermineTypeL(data, static_cast<ILuint>(size));
    if (byContent != byName && LoadAs(byContent, data, size)) {
      loaded = true;
    } else if (byName == IL_TYPE_UNKNOWN) {
      error = byContent == IL_TYPE_UNKNOWN ? IL_INVALID_EXTENSION : ilGetError();
    }
  }
  if (!loaded) {
    if (viewMessage) *viewMessage = LoadFailureText(error);
    return {TStatusCode::Damaged, "cannot decode the picture (DevIL error " + Hex(error) + ")"};
  }
  const int64_t width = ilGetInteger(IL_IMAGE_WIDTH), height = ilGetInteger(IL_IMAGE_HEIGHT);
  if (TStatus dims = CheckPictureDimensions(width, height); dims.Failed()) return dims;
  ClearDevilErrors();
  if (ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE) {
    const ILenum convError = ilGetError();
    if (viewMessage) *viewMessage = ConvertFailureText(convError);
    return {TStatusCode::Damaged, "cannot convert the picture (DevIL error " + Hex(convError) + ")"};
  }
  if (ilGetInteger(IL_IMAGE_ORIGIN) == IL_ORIGIN_LOWER_LEFT) iluFlipImage();
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
  if (image.isNull() || image.bytesPerLine() != width * 4) return {TStatusCode::Failed, "out of memory for the picture"};
  ilCopyPixels(0, 0, 0, static_cast<ILuint>(width), static_cast<ILuint>(height), 1, IL_RGBA, IL_UNSIGNED_BYTE,
               image.bits());
  const ILenum copyError = ilGetError();
  if (copyError != IL_NO_ERROR) return {TStatusCode::Damaged, "cannot copy the picture (DevIL error " + Hex(copyError) + ")"};
  out = std::move(image);
  return {};
}

bool IsNewerBmp(const uint8_t* d, size_t n) {
  if (n < 18 || d[0] != 'B' || d[1] != 'M') return false;
  const uint32_t header = uint32_t{d[14]} | uint32_t{d[15]} << 8 | uint32_t{d[16]} << 16 | uint32_t{d[17]} << 24;
  return header == 108 || header == 124;
}

}  // namespace

TStatus DecodePicture(const uint8_t* data, size_t size, std::string_view ext, QImage& out, std::string* viewMessage) {
  out = QImage();
  if (size == 0) return {TStatusCode::Damaged, "empty picture file"};
  if (static_cast<int64_t>(size) > kMaxPictureFileBytes) return {TStatusCode::Unsupported, "picture file too large"};
  if (auto claimed = SniffPictureDimensions(data, size, ext))
    if (TStatus dims = CheckPictureDimensions(claimed->Width, claimed->Height); dims.Failed()) return dims;
  const bool gif = ext == ".gif" || (size >= 4 && std::string_view(reinterpret_cast<const char*>(data), 4) == "GIF8");
  if (gif) {
    TStatus status = DecodeGifFirstFrame(data, size, out);
    if (status.Failed() && viewMessage) *viewMessage = "Image Error";
    return status;
  }
  if (IsNewerBmp(data, size)) {
    // DevIL reads BMP headers up to version 3; versions 4 and 5 (108 and 124 bytes, written by
    // ImageMagick, GIMP and others) go to Qt's BMP reader.
    out = QImage::fromData(data, static_cast<int>(size), "BMP").convertToFormat(QImage::Format_RGBA8888);
    if (out.isNull()) {
      if (viewMessage) *viewMessage = "Image Error";
      return {TStatusCode::Damaged, "cannot decode the picture (BMP)"};
    }
    return {};
  }
  return DecodeWithDevil(data, size, ext, out, viewMessage);
}

TPicture LoadPicture(const std::string& path, TPictureUse use) {
  namespace fs = std::filesystem;
  TPicture result;
  const fs::path file(path);
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (ec || !fs::exists(status) || fs::is_directory(status)) {
    if (use == TPictureUse::View) result.Info.FileName = file.filename().string();
    result.Status = {TStatusCode::NotFound, "picture file not found"};
    result.ViewMessage = "Error : Could not open file";
    return result;
  }
  result.Info.FileName = file.filename().string().substr(0, 255);
  const auto size = fs::file_size(file, ec);
  result.Info.FileSize = ec ? 0 : static_cast<int64_t>(size);
  const auto time = fs::last_write_time(file, ec);
  if (!ec)
    result.Info.FileDate = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::file_clock::to_sys(time).time_since_epoch())
                               .count();
  if (result.Info.FileSize > kMaxPictureFileBytes) {
    result.Status = {TStatusCode::Unsupported, "picture file too large"};
    result.ViewMessage = "Image Error";
    return result;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(result.Info.FileSize));
  std::ifstream in(file, std::ios::binary);
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    result.Status = {TStatusCode::Unreadable, "cannot read the picture file"};
    result.ViewMessage = "Error : Could not open file";
    return result;
  }
  result.Status = DecodePicture(bytes.data(), bytes.size(), LowerExtension(path), result.Image, &result.ViewMessage);
  if (result.Status.Succeeded()) {
    result.Info.Width = result.Image.width();
    result.Info.Height = result.Image.height();
    result.ViewMessage.clear();
  } else if (result.ViewMessage.empty() && result.Status.Code() == TStatusCode::Unsupported) {
    result.ViewMessage = "Image Error";
  }
  return result;
}

void InitPictureLibrary() {
  std::lock_guard<std::mutex> hold(DevilLock());
  InitLocked();
}

bool PictureLibraryReady() {
  std::lock_guard<std::mutex> hold(DevilLock());
  return g_ready;
}

void FreePictureLibrary() {
  std::lock_guard<std::mutex> hold(DevilLock());
  if (!g_ready) return;
  ilDeleteImages(1, &g_image);
  ilShutDown();
  g_image = 0;
  g_ready = false;
}
