#include "images/Thumbnails.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <algorithm>

#include "images/PictureHeader.h"
#include "images/PictureService.h"
#include "images/PictureTypes.h"

TThumbPlacement ThumbPlacement(int64_t width, int64_t height, int size) {
  if (width <= 0 || height <= 0 || size <= 0) return {};
  if (width == height) return {0, 0, size, size};
  if (height > width) {
    const int w = static_cast<int>(std::max<int64_t>(1, width * size / height));
    return {(size - w) / 2, 0, w, size};
  }
  const int h = static_cast<int>(std::max<int64_t>(1, height * size / width));
  return {0, (size - h) / 2, size, h};
}

TStatus MakeThumbnail(const QImage& picture, int size, QImage& thumb) {
  thumb = QImage();
  if (picture.isNull()) return {TStatusCode::Failed, "no picture to draw"};
  if (size < 1) return {TStatusCode::Failed, "no thumbnail size"};
  const TThumbPlacement at = ThumbPlacement(picture.width(), picture.height(), size);
  const QImage scaled = picture.scaled(at.Width, at.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (scaled.isNull() || scaled.width() != at.Width || scaled.height() != at.Height)
    return {TStatusCode::Failed, "the picture could not be scaled"};
  QImage square(size, size, QImage::Format_RGB32);
  if (square.isNull()) return {TStatusCode::Failed, "out of memory for the thumbnail"};
  square.fill(Qt::black);
  {
    QPainter painter(&square);
    if (!painter.isActive()) return {TStatusCode::Failed, "the thumbnail could not be drawn"};
    painter.drawImage(at.X, at.Y, scaled);
  }
  thumb = std::move(square);
  return {};
}

namespace {

// A JPEG thumbnail decoded at a fraction of the picture's size (libjpeg scales while it decodes, which
// ImageMagick's -thumbnail does not): most of the work of a photo's thumbnail saved. Qt's reader
// handles libjpeg's errors; the header and the end marker are checked first.
TStatus JpegThumbnail(const uint8_t* data, size_t n, int size, QImage& thumb) {
  const auto claimed = SniffPictureDimensions(data, n, ".jpg");
  if (!claimed) return {TStatusCode::Damaged, "damaged JPEG header"};
  if (TStatus dims = CheckPictureDimensions(claimed->Width, claimed->Height); dims.Failed()) return dims;
  if (TStatus end = CheckJpegEnd(data, n); end.Failed()) return end;
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "jpeg");
  const QSize full = reader.size();
  if (!full.isValid() || full.width() != claimed->Width || full.height() != claimed->Height)
    return {TStatusCode::Damaged, "damaged JPEG header"};
  const TThumbPlacement at = ThumbPlacement(full.width(), full.height(), size);
  reader.setScaledSize(QSize(at.Width, at.Height));
  const QImage scaled = reader.read();
  if (scaled.isNull()) return {TStatusCode::Damaged, "cannot decode the picture (" + reader.errorString().toStdString() + ")"};
  return MakeThumbnail(scaled, size, thumb);
}

}  // namespace

TStatus MakeThumbnailOfData(const uint8_t* data, size_t n, std::string_view ext, int size, QImage& thumb) {
  thumb = QImage();
  if (size < 1) return {TStatusCode::Failed, "no thumbnail size"};
  static const bool qtJpeg = QImageReader::supportedImageFormats().contains("jpeg");
  if (qtJpeg && IsJpeg(data, n)) return JpegThumbnail(data, n, size, thumb);
  QImage picture;
  if (TStatus st = DecodePicture(data, n, ext, picture); st.Failed()) return st;
  return MakeThumbnail(picture, size, thumb);
}

TStatus MakeThumbnailOfFile(const std::string& path, int size, QImage& thumb) {
  thumb = QImage();
  QFile file(QString::fromStdString(path));
  if (!file.exists()) return {TStatusCode::NotFound, "picture file not found"};
  if (!file.open(QIODevice::ReadOnly)) return {TStatusCode::Unreadable, "cannot open the picture file"};
  if (file.size() > kMaxPictureFileBytes) return {TStatusCode::Unsupported, "picture file too large"};
  const QByteArray bytes = file.readAll();
  if (bytes.size() != file.size()) return {TStatusCode::Unreadable, "cannot read the picture file"};
  return MakeThumbnailOfData(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()),
                             LowerExtension(path), size, thumb);
}

TThumbThread::TThumbThread(std::vector<std::string> paths, int size, int workers)
    : size_(std::clamp(size, kMinThumbSize, kMaxThumbSize)), workerCount_(std::max(1, workers)) {
  items_.reserve(paths.size());
  for (std::string& p : paths) items_.push_back(TThumbItem{std::move(p), {}, {}});
  worked_.assign(items_.size(), 0);
}

TThumbThread::~TThumbThread() {
  Stop();
  Wait();
}

void TThumbThread::Start() {
  const int n = std::min<int>(workerCount_, std::max<int>(1, Total()));
  running_ = n;
  if (items_.empty()) {
    running_ = 0;
    done_ = true;
    return;
  }
  for (int i = 0; i < n; ++i) workers_.emplace_back([this] { Work(); });
}

void TThumbThread::Work() {
  for (;;) {
    if (stop_) break;
    const int i = next_.fetch_add(1);
    if (i >= Total()) break;
    TThumbItem& item = items_[static_cast<size_t>(i)];
    item.Status = MakeThumbnailOfFile(item.Path, size_, item.Thumb);
    worked_[static_cast<size_t>(i)] = 1;
    const int count = ++doneCount_;
    if (OnPicture) OnPicture(count);
  }
  if (--running_ == 0) {
    stop_ = true;
    done_ = true;
  }
}

void TThumbThread::Wait() {
  for (std::thread& t : workers_)
    if (t.joinable()) t.join();
  workers_.clear();
}

std::vector<TThumbItem> TThumbThread::TakeResults() {
  Wait();
  std::vector<TThumbItem> out;
  for (size_t i = 0; i < items_.size(); ++i)
    if (worked_[i]) out.push_back(std::move(items_[i]));
  items_.clear();
  worked_.clear();
  return out;
}
