#pragma once
// The "Batch Create" window, where the user queues archive-creation jobs, and the small windows of
// the queue and of tags: "File Type", "TAG", "Edit Tag" and "Batch Processing Results".
//
// A job is the rows from one whose action ends in "Filename" through the next "FINISH": the target,
// an optional "TAG" and its "ADD FILE" and "ADD FOLDER" rows. A gzip job holds one file and finishes
// itself after it.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class IPageHost;

// One row of the job list.
struct TBatchRow {
  std::string Action;
  std::string Path;
  bool operator==(const TBatchRow&) const = default;
};

// The message for a gzip tag with characters outside ISO-8859-1.
extern const char* const kGzipTagMessage;

// The job types by the "File Type" dialog's item.
enum TBatchJobType { bjZip = 0, bjTarGz = 1, bjTar = 2, bjGz = 3 };
// "ZIP Filename", "TAR.GZ Filename", "TAR Filename", "GZ Filename".
const char* BatchFilenameAction(int type);

// "File Type": the radio group "Save File As..." and OK.
class TBatchSaveTypeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TBatchSaveTypeForm(int type, QWidget* parent = nullptr);
  int ChosenType() const;
  QButtonGroup* TypeGroup;

 protected:
  void reject() override {}  // only OK closes it
};

// "TAG": one line of text; OK only while it is not empty.
class TBatchTagForm : public QDialog {
  Q_OBJECT
 public:
  explicit TBatchTagForm(QWidget* parent = nullptr);
  QLineEdit* TagEdit;
  QPushButton* OkButton;
};

// "Edit Tag": the tag in a text box of several lines. Read-only (gzip header comments): the label
// "Tag for this file..." and "Close" instead of Cancel, no OK.
class TBatchMemoTagForm : public QDialog {
  Q_OBJECT
 public:
  TBatchMemoTagForm(const std::string& text, bool readOnly, QWidget* parent = nullptr);
  std::string Text() const;
  QLabel* Label;
  QPlainTextEdit* Memo;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

// "Batch Processing Results": the result lines and CLOSE.
class TBatchMessageForm : public QDialog {
  Q_OBJECT
 public:
  TBatchMessageForm(const std::vector<std::string>& lines, QWidget* parent = nullptr);
  QPlainTextEdit* Memo;
  QPushButton* CloseButton;
};

// "Batch Create".
class TBatchCreateForm : public QDialog {
  Q_OBJECT
 public:
  // `dateQuestion` asks the create page's cut-off date when its option is on and none is set.
  TBatchCreateForm(IPageHost& host, std::function<void()> dateQuestion, QWidget* parent = nullptr);

  void FilenameButtonClick();
  void AddFilesButtonClick();
  void AddFolderButtonClick();
  void tagButtonClick();
  void FinishButtonClick();
  void dofinish();
  void ClearButtonClick();
  void RemoveButtonClick();
  void ZipButtonClick();
  // ZIP: drops an unfinished last job; true (accepted) when finished jobs remain.
  bool checkforfinish();
  void ListViewSelectItem();
  void ZipHelpButtonClick();

  std::vector<TBatchRow> Rows() const;
  int RowCount() const;
  // The type chosen last in "File Type" (kept while the program runs).
  static int LastType;

  QTreeWidget* ListView;
  QPushButton *FilenameButton, *AddFilesButton, *AddFolderButton, *TagButton, *FinishButton, *ZipButton,
      *ClearButton, *RemoveButton, *HelpButton, *CancelButton;

 private:
  void AddRow(const std::string& action, const std::string& path);
  // The type of the job being queued (the last "Filename" row), -1 when none.
  int OpenJobType() const;
  void SetButtons(std::initializer_list<QPushButton*> on, std::initializer_list<QPushButton*> off);

  IPageHost& host_;
  std::function<void()> dateQuestion_;
  std::string saveFolder_, filesFolder_;
};
