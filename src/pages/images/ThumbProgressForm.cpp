#include "pages/images/ThumbProgressForm.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TThumbProgressForm::TThumbProgressForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Creating Thumbnails");
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Creating Thumbnails", this));
  ProgressBar = new QProgressBar(this);
  ProgressBar->setMinimumWidth(300);
  layout->addWidget(ProgressBar);
  StopButton = new QPushButton("Stop", this);
  layout->addWidget(StopButton, 0, Qt::AlignHCenter);
  connect(StopButton, &QPushButton::clicked, this, [this] {
    StopButton->setEnabled(false);
    if (OnStop) OnStop();
  });
}

void TThumbProgressForm::reject() {
  // Escape stops the run; the window goes when the run has ended.
  StopButton->click();
}
