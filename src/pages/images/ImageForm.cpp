#include "pages/images/ImageForm.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "pages/unzip/ArchiveNames.h"

TImageLayout FitLayout(int width, int height, QSize screen) {
  const int64_t sw = screen.width(), sh = screen.height();
  int64_t w = width, h = height;
  if (height > sh - 48) {
    h = sh - 48;
    w = h * width / height;
    if (w > sw) {
      const int64_t w2 = sw - 20;
      h = h * w2 / w;
      w = w2;
    }
  } else if (width > sw - 20) {
    w = sw - 20;
    h = w * height / width;
  }
  TImageLayout l;
  l.Fitted = true;
  l.ClientWidth = l.ImageWidth = static_cast<int>(std::max<int64_t>(1, w));
  l.ClientHeight = l.ImageHeight = static_cast<int>(std::max<int64_t>(1, h));
  l.Left = static_cast<int>((sw - l.ClientWidth) / 2);
  l.Top = static_cast<int>((sh - l.ClientHeight) / 2);
  return l;
}

TImageLayout FullLayout(int width, int height, QSize screen) {
  TImageLayout l;
  l.ImageWidth = width;
  l.ImageHeight = height;
  if (width < screen.width() - 20) {
    l.ClientWidth = width;
    l.Left = (screen.width() - width) / 2;
  } else {
    l.ClientWidth = screen.width();
    l.HScroll = true;
    l.Left = 0;
  }
  if (height < screen.height() - 48) {
    l.ClientHeight = height;
    l.Top = (screen.height() - height) / 2;
  } else {
    l.ClientHeight = screen.height();
    l.VScroll = true;
    l.Top = 0;
  }
  return l;
}

TImageLayout ImageWindowLayout(int width, int height, QSize screen, bool fitToScreen) {
  if (height < screen.height() && width < screen.width()) {
    TImageLayout l;
    l.SizingEnabled = false;
    l.ClientWidth = l.ImageWidth = width;
    l.ClientHeight = l.ImageHeight = height;
    l.Left = (screen.width() - width) / 2;
    l.Top = (screen.height() - height) / 2;
    return l;
  }
  return fitToScreen ? FitLayout(width, height, screen) : FullLayout(width, height, screen);
}

std::string PictureInfoText(const TPictureInfo& info) {
  const QString date = info.FileDate ? TDateText().FromUnix(info.FileDate) : QString();
  return info.FileName + "\n\n" + std::to_string(info.Height) + " x " + std::to_string(info.Width) + "\n" +
         std::to_string(info.FileSize / 1024) + " KB\n" + date.toStdString();
}

TImageForm::TImageForm(const QImage& picture, const TPictureInfo& info, bool fitToScreen, QSize screen,
                       bool mainInfo, QWidget* parent)
    : QDialog(parent), picture_(picture), info_(info), screen_(screen) {
  setWindowTitle("Image");
  if (screen_.isEmpty()) {
    const QScreen* s = QGuiApplication::primaryScreen();
    screen_ = s ? s->geometry().size() : QSize(1024, 768);
  }
  auto* bar = new QMenuBar(this);
  QMenu* file = bar->addMenu("File");
  Unzip1 = file->addAction("Unzip");
  Close1 = file->addAction("Close");
  QMenu* view = bar->addMenu("View");
  FitToScreen1 = view->addAction("Fit To Screen");
  ShowFullImage1 = view->addAction("Show Full Image");
  QMenu* help = bar->addMenu("Help");
  Help1 = help->addAction("Help");  // does nothing
  Info1 = help->addAction("Info");  // does nothing
  Info1->setEnabled(mainInfo);

  auto* popup = new QMenu(this);
  Unzip2 = popup->addAction("Unzip");
  FitToScreen2 = popup->addAction("Fit To Screen");
  ShowFullImage2 = popup->addAction("Show Full Image");
  Info2 = popup->addAction("Info");
  Close2 = popup->addAction("Close");

  ScrollBox = new QScrollArea(this);
  ScrollBox->setFrameShape(QFrame::NoFrame);
  ScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image = new QLabel;
  Image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image->installEventFilter(this);
  Image->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Image, &QWidget::customContextMenuRequested, this,
          [this, popup](const QPoint& at) { popup->popup(Image->mapToGlobal(at)); });
  ScrollBox->setWidget(Image);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(bar);
  layout->addWidget(ScrollBox);

  for (QAction* a : {Unzip1, Unzip2}) connect(a, &QAction::triggered, this, [this] { done(kUnzip); });
  for (QAction* a : {Close1, Close2}) connect(a, &QAction::triggered, this, [this] { done(kClose); });
  for (QAction* a : {FitToScreen1, FitToScreen2}) connect(a, &QAction::triggered, this, [this] { Fittoscreendo(); });
  for (QAction* a : {ShowFullImage1, ShowFullImage2})
    connect(a, &QAction::triggered, this, [this] { Showfullimagedo(); });
  connect(Info2, &QAction::triggered, this, [this] { Showinfo(); });

  const TImageLayout first = ImageWindowLayout(picture_.width(), picture_.height(), screen_, fitToScreen);
  if (!first.SizingEnabled) {
    SetSizingEntries(false, false);
    Apply(first);
  } else if (first.Fitted) {
    Fittoscreendo();
  } else {
    Showfullimagedo();
  }
}

void TImageForm::SetSizingEntries(bool fitEnabled, bool fullEnabled) {
  FitToScreen1->setEnabled(fitEnabled);
  FitToScreen2->setEnabled(fitEnabled);
  ShowFullImage1->setEnabled(fullEnabled);
  ShowFullImage2->setEnabled(fullEnabled);
}

void TImageForm::Apply(const TImageLayout& l) {
  layout_ = l;
  const QImage shown = (l.ImageWidth == picture_.width() && l.ImageHeight == picture_.height())
                           ? picture_
                           : picture_.scaled(l.ImageWidth, l.ImageHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  Image->setPixmap(QPixmap::fromImage(shown));
  Image->resize(l.ImageWidth, l.ImageHeight);
  ScrollBox->setHorizontalScrollBarPolicy(l.HScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  ScrollBox->setVerticalScrollBarPolicy(l.VScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  ScrollBox->horizontalScrollBar()->setValue(0);
  ScrollBox->verticalScrollBar()->setValue(0);
  const int menuHeight = layout()->menuBar() ? layout()->menuBar()->sizeHint().height() : 0;
  // The inner area is the picture's; the menu bar comes on top of it unless the window is full.
  const int height = l.VScroll ? l.ClientHeight - menuHeight : l.ClientHeight;
  setFixedSize(l.ClientWidth, height + menuHeight);
  move(l.Left, std::max(0, l.Top - (l.VScroll ? 0 : menuHeight / 2)));
}

void TImageForm::FitImageToscreen() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FitToScreen1->setEnabled(false);
  ShowFullImage1->setEnabled(true);
  Apply(FitLayout(picture_.width(), picture_.height(), screen_));
  QApplication::restoreOverrideCursor();
}

void TImageForm::SizeForm() {
  FitToScreen1->setEnabled(true);
  ShowFullImage1->setEnabled(false);
  Apply(FullLayout(picture_.width(), picture_.height(), screen_));
}

void TImageForm::Fittoscreendo() {
  SetSizingEntries(false, true);
  FitImageToscreen();
}

void TImageForm::Showfullimagedo() {
  SetSizingEntries(true, false);
  SizeForm();
}

void TImageForm::Showinfo() { ShowInfo(PictureInfoText(info_), "Info"); }

bool TImageForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    done(kClose);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
