#include "pages/create/AddFolderForm.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/TextUtil.h"

TAddFolderThread::TAddFolderThread(createlist::TScanSpec spec, createlist::TScanResults& results)
    : thread_([spec = std::move(spec), &results] {
        createlist::ScanFolder(spec, results);
        results.Stop = true;
      }) {}

TAddFolderForm::TAddFolderForm(createlist::TScanSpec spec, QWidget* parent) : QDialog(parent), spec_(std::move(spec)) {
  setWindowTitle("Adding Folder...");
  setModal(true);
  setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint & ~Qt::WindowContextHelpButtonHint);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel("ADDING FOLDER...", this);
  QFont f = heading->font();
  f.setBold(true);
  heading->setFont(f);
  layout->addWidget(heading);
  std::string mask = spec_.Folder;
  if (mask.empty() || mask.back() != '/') mask += "/";
  MaskLabel = new QLabel(QString::fromStdString(mask + "*"), this);
  FolderLabel = new QLabel(this);
  FileLabel = new QLabel(this);
  CountLabel = new QLabel("0", this);
  for (QLabel* l : {MaskLabel, FolderLabel, FileLabel, CountLabel}) {
    l->setMinimumWidth(380);
    layout->addWidget(l);
  }
  StopButton = new QPushButton("STOP", this);
  layout->addWidget(StopButton, 0, Qt::AlignHCenter);
  connect(StopButton, &QPushButton::clicked, this, &TAddFolderForm::StopButtonClick);
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &TAddFolderForm::TimerTimer);
}

TAddFolderForm::~TAddFolderForm() {
  results_.Stop = true;
  worker_.reset();
}

void TAddFolderForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (worker_) return;
  results_.Stop = false;
  CountLabel->setText("0");
  StopButton->setEnabled(true);
  FolderLabel->clear();
  FileLabel->clear();
  worker_.emplace(spec_, results_);
  timer_.start();
}

void TAddFolderForm::StopButtonClick() {
  results_.Stop = true;
  StopButton->setEnabled(false);
}

void TAddFolderForm::TakeBatch() {
  results_.Take(Rows, Undo);
  std::string folder, file;
  results_.Status(folder, file);
  FolderLabel->setText(QString::fromStdString(folder));
  FileLabel->setText(QString::fromStdString(file));
  CountLabel->setText(GroupedNumber(results_.Count()));
}

void TAddFolderForm::TimerTimer() {
  TakeBatch();
  if (!results_.Stop) return;
  worker_->Wait();
  TakeBatch();
  timer_.stop();
  accept();
}
