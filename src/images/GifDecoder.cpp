#include "images/GifDecoder.h"

#include <gif_lib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "images/PictureHeader.h"

namespace {

struct TMemoryInput {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int wanted) {
  auto* in = static_cast<TMemoryInput*>(gif->UserData);
  const size_t n = std::min(static_cast<size_t>(wanted < 0 ? 0 : wanted), in->size - in->at);
  std::memcpy(buffer, in->data + in->at, n);
  in->at += n;
  return static_cast<int>(n);
}

struct TGifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

TStatus GifError(const char* what, int code) {
  const char* text = GifErrorString(code);
  return {TStatusCode::Damaged, std::string("GIF ") + what + ": " + (text ? text : "unknown error")};
}

}  // namespace

TStatus DecodeGifFirstFrame(const uint8_t* data, size_t size, QImage& out) {
  out = QImage();
  TMemoryInput input{data, size};
  int error = 0;
  std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpen(&input, ReadMemory, &error));
  if (!gif) return GifError("header", error);
  const int64_t screenW = gif->SWidth, screenH = gif->SHeight;
  if (TStatus size = CheckPictureDimensions(screenW, screenH); size.Failed()) return size;

  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return GifError("record", gif->Error);
    if (record == TERMINATE_RECORD_TYPE) return {TStatusCode::Damaged, "GIF holds no frame"};
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return GifError("extension", gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return GifError("extension", gif->Error);
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return GifError("frame header", gif->Error);
    const GifImageDesc& desc = gif->Image;
    const int64_t fw = desc.Width, fh = desc.Height;
    if (TStatus size = CheckPictureDimensions(fw, fh); size.Failed()) return size;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return {TStatusCode::Damaged, "GIF frame without colours"};

    std::vector<GifPixelType> line(static_cast<size_t>(fw));
    std::vector<GifPixelType> pixels(static_cast<size_t>(fw * fh));
    if (desc.Interlace) {
      static const int offsets[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int64_t y = offsets[pass]; y < fh; y += steps[pass])
          if (DGifGetLine(gif.get(), pixels.data() + y * fw, static_cast<int>(fw)) == GIF_ERROR)
            return GifError("pixels", gif->Error);
    } else {
      for (int64_t y = 0; y < fh; ++y)
        if (DGifGetLine(gif.get(), pixels.data() + y * fw, static_cast<int>(fw)) == GIF_ERROR)
          return GifError("pixels", gif->Error);
    }

    QImage canvas(static_cast<int>(screenW), static_cast<int>(screenH), QImage::Format_RGBA8888);
    if (canvas.isNull()) return {TStatusCode::Failed, "out of memory for the picture"};
    canvas.fill(Qt::transparent);
    for (int64_t y = 0; y < fh; ++y) {
      const int64_t cy = desc.Top + y;
      if (cy < 0 || cy >= screenH) continue;
      uchar* row = canvas.scanLine(static_cast<int>(cy));
      for (int64_t x = 0; x < fw; ++x) {
        const int64_t cx = desc.Left + x;
        if (cx < 0 || cx >= screenW) continue;
        const int index = pixels[static_cast<size_t>(y * fw + x)];
        if (index == transparent || index >= map->ColorCount) continue;
        const GifColorType& c = map->Colors[index];
        uchar* p = row + cx * 4;
        p[0] = c.Red;
        p[1] = c.Green;
        p[2] = c.Blue;
        p[3] = 255;
      }
    }
    out = std::move(canvas);
    return {};
  }
}
