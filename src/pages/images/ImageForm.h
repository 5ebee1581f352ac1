#pragma once
// "Image": one picture at full size with scroll bars, or shrunk to the screen. Results: kUnzip
// ("Unzip" in either menu), kClose ("Close", or releasing the left mouse button on the picture).
#include <QDialog>
#include <QImage>
#include <QSize>

#include "images/PictureService.h"

class QAction;
class QLabel;
class QScrollArea;

// Where the Image window goes and how big it is, for a picture on a screen.
struct TImageLayout {
  bool SizingEnabled = true;  // false: the picture fits the screen, both sizing entries are disabled
  bool Fitted = false;        // shrunk to the screen (else at full size)
  int ClientWidth = 0, ClientHeight = 0;  // the window's inner area
  int ImageWidth = 0, ImageHeight = 0;    // the picture as drawn
  bool HScroll = false, VScroll = false;
  int Left = 0, Top = 0;                  // the window's place on the screen
  bool operator==(const TImageLayout&) const = default;
};

// Shrunk to the screen (FitImageToscreen): at most screen height - 48 high and screen width - 20
// wide, proportions kept, centred (integer division throughout).
TImageLayout FitLayout(int width, int height, QSize screen);
// At full size (SizeForm): as wide (high) as the screen with a scroll bar when the picture does
// not fit in screen width - 20 (height - 48), else the picture's size; centred, or at 0 when full.
TImageLayout FullLayout(int width, int height, QSize screen);
// The window for a picture first shown: unscaled and centred when it is smaller than the screen
// both ways (sizing entries disabled); otherwise fitted when `fitToScreen`, else full size.
TImageLayout ImageWindowLayout(int width, int height, QSize screen, bool fitToScreen);

// The text of "Info": file name, blank line, height x width, size in KB, date and time.
std::string PictureInfoText(const TPictureInfo& info);

class TImageForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kUnzip = 14;
  static constexpr int kClose = 255;

  // `screen` empty: the primary screen's size. `mainInfo` false disables the main menu's "Info".
  TImageForm(const QImage& picture, const TPictureInfo& info, bool fitToScreen, QSize screen = {},
             bool mainInfo = true, QWidget* parent = nullptr);

  void FitImageToscreen();
  void SizeForm();
  void Fittoscreendo();
  void Showfullimagedo();
  void Showinfo();
  const TImageLayout& Layout() const { return layout_; }

  QAction *Unzip1, *Close1, *FitToScreen1, *ShowFullImage1, *Help1, *Info1;   // main menu
  QAction *Unzip2, *FitToScreen2, *ShowFullImage2, *Info2, *Close2;           // popup menu
  QScrollArea* ScrollBox;
  QLabel* Image;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Apply(const TImageLayout& layout);
  void SetSizingEntries(bool fitEnabled, bool fullEnabled);
  QImage picture_;
  TPictureInfo info_;
  QSize screen_;
  TImageLayout layout_;
};
