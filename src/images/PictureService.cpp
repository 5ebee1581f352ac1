#include "images/PictureService.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <vector>

#include "images/GifDecoder.h"
#include "images/PictureHeader.h"
#include "images/PictureTypes.h"
#include "platform/Isolated.h"

namespace {

std::mutex& DevilLock() {
  static std::mutex lock;
  return lock;
}

// A picture taking longer than this to decode in the child process is given up.
constexpr int kDecodeTimeoutMs = 10000;

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

// The outcome of one load; the picture stays bound in DevIL when Ok.
struct TDevilLoad {
  TStatus Status;
  std::string ViewMessage;
  int64_t Width = 0, Height = 0;
};

TDevilLoad LoadAndConvert(ILenum type, const uint8_t* data, size_t size) {
  TDevilLoad r;
  if (!LoadAs(type, data, size)) {
    const ILenum error = ilGetError();
    r.ViewMessage = LoadFailureText(error);
    r.Status = {TStatusCode::Damaged, "cannot decode the picture (DevIL error " + Hex(error) + ")"};
    return r;
  }
  r.Width = ilGetInteger(IL_IMAGE_WIDTH);
  r.Height = ilGetInteger(IL_IMAGE_HEIGHT);
  if (r.Status = CheckPictureDimensions(r.Width, r.Height); r.Status.Failed()) return r;
  ClearDevilErrors();
  if (ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE) {
    const ILenum error = ilGetError();
    r.ViewMessage = ConvertFailureText(error);
    r.Status = {TStatusCode::Damaged, "cannot convert the picture (DevIL error " + Hex(error) + ")"};
    return r;
  }
  if (ilGetInteger(IL_IMAGE_ORIGIN) == IL_ORIGIN_LOWER_LEFT) iluFlipImage();
  return r;
}

// The kind by the extension first; a picture stored under another kind's extension is read as what
// its content says.
TDevilLoad LoadByNameThenContent(const uint8_t* data, size_t size, std::string_view ext) {
  const std::string fakeName = "picture" + std::string(ext);
  const ILenum byName = ilTypeFromExt(fakeName.c_str());
  TDevilLoad load;
  if (byName != IL_TYPE_UNKNOWN) {
    load = LoadAndConvert(byName, data, size);
    if (load.Status.Succeeded()) return load;
  }
  const ILenum byContent = ilDetermineTypeL(data, static_cast<ILuint>(size));
  if (byContent != IL_TYPE_UNKNOWN && byContent != byName) {
    TDevilLoad again = LoadAndConvert(byContent, data, size);
    if (again.Status.Succeeded() || byName == IL_TYPE_UNKNOWN) return again;
  } else if (byName == IL_TYPE_UNKNOWN) {
    load.Status = {TStatusCode::Unsupported, "not a picture kind DevIL reads"};
    load.ViewMessage = LoadFailureText(IL_INVALID_EXTENSION);
  }
  return load;
}

// DevIL crashes and hangs on broken files (its own readers, and its feeding of libpng and libjpeg),
// so it decodes in a child process: the lock covers the fork (no thread is inside DevIL then), the
// child decodes in its own copy of DevIL's state, and several children may decode at once.
TStatus DecodeWithDevil(const uint8_t* data, size_t size, std::string_view ext, QImage& out,
                        std::string* viewMessage) {
  std::unique_lock<std::mutex> hold(DevilLock());
  InitLocked();
  ilBindImage(g_image);
  // The child sends: status code, the view message's length and text, width, height, pixels.
  std::string reply;
  const TIsolatedEnd end = RunIsolated(
      [&](std::string& to) {
        const TDevilLoad load = LoadByNameThenContent(data, size, ext);
        const auto put = [&to](int64_t v) { to.append(reinterpret_cast<const char*>(&v), sizeof v); };
        put(static_cast<int64_t>(load.Status.Code()));
        put(static_cast<int64_t>(load.ViewMessage.size()));
        to += load.ViewMessage;
        put(load.Width);
        put(load.Height);
        if (load.Status.Succeeded()) {
          const size_t at = to.size();
          to.resize(at + static_cast<size_t>(load.Width * load.Height * 4));
          ilCopyPixels(0, 0, 0, static_cast<ILuint>(load.Width), static_cast<ILuint>(load.Height), 1, IL_RGBA,
                       IL_UNSIGNED_BYTE, to.data() + at);
          if (ilGetError() != IL_NO_ERROR) return false;
        }
        return true;
      },
      reply, kDecodeTimeoutMs, static_cast<size_t>(kMaxPictureBytes) + 4096, [&hold] { hold.unlock(); });
  if (hold.owns_lock()) hold.unlock();
  if (end == TIsolatedEnd::TimedOut) {
    if (viewMessage) *viewMessage = "Image Error";
    return {TStatusCode::Damaged, "the picture took too long to decode"};
  }
  if (end != TIsolatedEnd::Done) {
    if (viewMessage) *viewMessage = "Image Error";
    return {TStatusCode::Damaged, end == TIsolatedEnd::Crashed ? "the picture's decoder crashed on it"
                                                               : "cannot decode the picture"};
  }
  size_t at = 0;
  const auto get = [&](int64_t& v) {
    if (reply.size() - at < sizeof v) return false;
    std::memcpy(&v, reply.data() + at, sizeof v);
    at += sizeof v;
    return true;
  };
  const TStatus bad(TStatusCode::Failed, "bad reply from the picture decoder");
  int64_t code = 0, messageLength = 0, width = 0, height = 0;
  if (!get(code) || !get(messageLength) || messageLength < 0 || static_cast<size_t>(messageLength) > reply.size() - at)
    return bad;
  const std::string message = reply.substr(at, static_cast<size_t>(messageLength));
  if (viewMessage) *viewMessage = message;
  at += static_cast<size_t>(messageLength);
  if (!get(width) || !get(height)) return bad;
  if (code != static_cast<int64_t>(TStatusCode::Ok))
    return {code == static_cast<int64_t>(TStatusCode::Unsupported) ? TStatusCode::Unsupported : TStatusCode::Damaged,
            "cannot decode the picture" + (message.empty() ? std::string() : " (" + message + ")")};
  if (TStatus dims = CheckPictureDimensions(width, height); dims.Failed()) return dims;
  if (reply.size() - at != static_cast<size_t>(width * height * 4)) return bad;
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
  if (image.isNull() || image.bytesPerLine() != width * 4) return {TStatusCode::Failed, "out of memory for the picture"};
  std::memcpy(image.bits(), reply.data() + at, reply.size() - at);
  if (viewMessage) viewMessage->clear();
  out = std::move(image);
  return {};
}

// An uncompressed BMP whose pixel rows end beyond the file is truncated (both readers would fill
// the missing rows with whatever they hold).
TStatus CheckBmpLength(const uint8_t* d, size_t n) {
  auto le32 = [d](size_t at) {
    return uint32_t{d[at]} | uint32_t{d[at + 1]} << 8 | uint32_t{d[at + 2]} << 16 | uint32_t{d[at + 3]} << 24;
  };
  if (n < 2 || d[0] != 'B' || d[1] != 'M') return {};
  if (n < 34) return {TStatusCode::Damaged, "truncated BMP header"};
  const uint32_t header = le32(14);
  if (header < 40) return {};  // the old 12-byte header: left to the reader
  const int64_t width = static_cast<int32_t>(le32(18)), height = static_cast<int32_t>(le32(22));
  const uint32_t bits = uint32_t{d[28]} | uint32_t{d[29]} << 8, compression = le32(30);
  if (compression != 0 && compression != 3 && compression != 6) return {};  // run-length data: no fixed length
  const int64_t rowBytes = (std::abs(width) * bits + 31) / 32 * 4;
  const int64_t needed = int64_t{le32(10)} + rowBytes * std::abs(height);
  if (static_cast<int64_t>(n) < needed) return {TStatusCode::Damaged, "truncated BMP pixel data"};
  return {};
}

bool IsXpm(const uint8_t* d, size_t n) {
  static constexpr std::string_view kMark = "/* XPM */";
  return n >= kMark.size() && std::string_view(reinterpret_cast<const char*>(d), kMark.size()) == kMark;
}

TStatus DecodeWithQt(const uint8_t* data, size_t size, const char* format, QImage& out, std::string* viewMessage) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) return {TStatusCode::Unsupported, "picture file too large"};
  QImage image = QImage::fromData(data, static_cast<int>(size), format);
  if (image.isNull()) {
    if (viewMessage) *viewMessage = "Image Error";
    return {TStatusCode::Damaged, std::string("cannot decode the picture (") + (format ? format : "PNM") + ")"};
  }
  if (TStatus dims = CheckPictureDimensions(image.width(), image.height()); dims.Failed()) return dims;
  out = image.convertToFormat(QImage::Format_RGBA8888);
  return {};
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
  // DevIL reads BMP headers up to version 3 only (not the 108- and 124-byte ones ImageMagick and GIMP
  // write) and its XPM reader corrupts its heap: Qt's readers take those kinds.
  if (TStatus jpeg = CheckJpegEnd(data, size); jpeg.Failed()) {
    if (viewMessage) *viewMessage = "Image Error";
    return jpeg;
  }
  if (TStatus bmp = CheckBmpLength(data, size); bmp.Failed()) {
    if (viewMessage) *viewMessage = "Image Error";
    return bmp;
  }
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return DecodeWithQt(data, size, "BMP", out, viewMessage);
  if (ext == ".xpm" || IsXpm(data, size)) return DecodeWithQt(data, size, "XPM", out, viewMessage);
  // DevIL's PNM reader leaves bilevel pictures partly uninitialised: Qt's reader takes the family.
  if (size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6') return DecodeWithQt(data, size, nullptr, out, viewMessage);
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
