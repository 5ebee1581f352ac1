#pragma once
// Square thumbnails: where a picture lands in its square, drawing one, and TThumbThread, which makes
// the thumbnails of a list of picture files on worker threads.
#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/Status.h"

// Thumbnail sizes the browser takes.
constexpr int kMinThumbSize = 16;
constexpr int kMaxThumbSize = 256;

// The scaled picture's rectangle in a size x size square: a square picture fills it; a taller one is
// (width * size / height) wide and centred across, a wider one (height * size / width) high and
// centred down (integer division; a side never below 1 pixel).
struct TThumbPlacement {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TThumbPlacement&) const = default;
};
TThumbPlacement ThumbPlacement(int64_t width, int64_t height, int size);

// Draws `picture` scaled into its placement on a black size x size square (transparent parts show
// the black). Fails only when the scaler gives no picture; a black picture makes a black thumbnail.
TStatus MakeThumbnail(const QImage& picture, int size, QImage& thumb);

// Decodes a picture held in memory (`ext` as for DecodePicture) and draws its thumbnail; a JPEG is
// decoded straight at about the thumbnail's size.
TStatus MakeThumbnailOfData(const uint8_t* data, size_t n, std::string_view ext, int size, QImage& thumb);
// Reads a picture file and draws its thumbnail.
TStatus MakeThumbnailOfFile(const std::string& path, int size, QImage& thumb);

// One picture of a thumbnail run: its file, and its thumbnail or why there is none.
struct TThumbItem {
  std::string Path;
  QImage Thumb;   // size x size, QImage::Format_RGB32; null when Status failed
  TStatus Status;
};

// Makes the thumbnails of `paths` on worker threads (the decoding takes the picture service's lock,
// the reading and scaling run beside it). Stop() ends the run after the pictures in work; the
// pictures not started are left out of the results.
class TThumbThread {
 public:
  TThumbThread(std::vector<std::string> paths, int size, int workers = 2);
  ~TThumbThread();  // stops and waits
  TThumbThread(const TThumbThread&) = delete;
  TThumbThread& operator=(const TThumbThread&) = delete;

  // Called on a worker after each picture with the number done so far.
  std::function<void(int done)> OnPicture;

  void Start();
  // Any thread.
  void Stop() { stop_ = true; }
  bool Stopped() const { return stop_; }
  bool Done() const { return done_; }
  int DoneCount() const { return doneCount_; }
  int Total() const { return static_cast<int>(items_.size()); }
  // Waits for the workers to end.
  void Wait();
  // After Done: the pictures worked on, in list order (made thumbnails and failures).
  std::vector<TThumbItem> TakeResults();

 private:
  void Work();

  std::vector<TThumbItem> items_;
  std::vector<char> worked_;
  int size_;
  int workerCount_;
  std::vector<std::thread> workers_;
  std::atomic<int> next_{0};
  std::atomic<int> doneCount_{0};
  std::atomic<int> running_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
};
