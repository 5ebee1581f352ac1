#include "pages/batchcreate/BatchCreateForm.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/PageHost.h"
#include "pages/common/PromptService.h"

namespace {

struct TTypeInfo {
  const char* Action;
  const char* Filter;
  const char* Extension;
};
const TTypeInfo kTypes[] = {{"ZIP Filename", "ZIP|*.zip", ".zip"},
                            {"TAR.GZ Filename", "TAR.GZ|*.tar.gz", ".tar.gz"},
                            {"TAR Filename", "TAR|*.tar", ".tar"},
                            {"GZ Filename", "GZ|*.gz", ".gz"}};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

const char* const kGzipTagMessage =
    "THE TAG OF A GZIP FILE CAN HOLD ONLY ISO-8859-1 (LATIN-1) CHARACTERS.\nCHANGE THE TAG AND TRY AGAIN.";

const char* BatchFilenameAction(int type) { return kTypes[type >= 0 && type < 4 ? type : 0].Action; }

// ---------------------------------------------------------------------------------------------
// Small windows

TBatchSaveTypeForm::TBatchSaveTypeForm(int type, QWidget* parent) : QDialog(parent) {
  setWindowTitle("File Type");
  auto* box = new QGroupBox("Save File As...", this);
  auto* boxLayout = new QVBoxLayout(box);
  TypeGroup = new QButtonGroup(this);
  const char* items[] = {"ZIP File", "TAR.GZ File", "TAR File", "GZ File"};
  for (int i = 0; i < 4; ++i) {
    auto* b = new QRadioButton(items[i], box);
    TypeGroup->addButton(b, i);
    boxLayout->addWidget(b);
  }
  TypeGroup->button(type >= 0 && type < 4 ? type : 0)->setChecked(true);
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

int TBatchSaveTypeForm::ChosenType() const { return std::max(0, TypeGroup->checkedId()); }

TBatchTagForm::TBatchTagForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("TAG");
  TagEdit = new QLineEdit(this);
  TagEdit->setMaxLength(1 << 20);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkButton = buttons->button(QDialogButtonBox::Ok);
  OkButton->setEnabled(false);
  connect(TagEdit, &QLineEdit::textChanged, this, [this](const QString& t) { OkButton->setEnabled(!t.isEmpty()); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Enter the text for the identifying tag for this file", this));
  layout->addWidget(TagEdit);
  layout->addWidget(buttons);
  resize(420, sizeHint().height());
}

TBatchMemoTagForm::TBatchMemoTagForm(const std::string& text, bool readOnly, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Edit Tag");
  Label = new QLabel(readOnly ? "Tag for this file..." : "Enter the text for the identifying tag for this file", this);
  Memo = new QPlainTextEdit(this);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setPlainText(QString::fromStdString(text));
  Memo->setReadOnly(readOnly);
  OkButton = new QPushButton("OK", this);
  CancelButton = new QPushButton(readOnly ? "Close" : "Cancel", this);
  OkButton->setVisible(!readOnly);
  OkButton->setEnabled(!readOnly && !Memo->toPlainText().isEmpty());
  connect(Memo, &QPlainTextEdit::textChanged, this,
          [this] { OkButton->setEnabled(!Memo->isReadOnly() && !Memo->toPlainText().isEmpty()); });
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label);
  layout->addWidget(Memo, 1);
  layout->addLayout(buttons);
  resize(460, 260);
}

std::string TBatchMemoTagForm::Text() const { return Memo->toPlainText().toStdString(); }

TBatchMessageForm::TBatchMessageForm(const std::vector<std::string>& lines, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Batch Processing Results");
  Memo = new QPlainTextEdit(this);
  Memo->setReadOnly(true);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QStringList text;
  for (const std::string& l : lines) text << QString::fromStdString(l);
  Memo->setPlainText(text.join('\n'));
  CloseButton = new QPushButton("CLOSE", this);
  CloseButton->setDefault(true);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo, 1);
  layout->addWidget(CloseButton, 0, Qt::AlignRight);
  resize(560, 360);
}

// ---------------------------------------------------------------------------------------------
// "Batch Create"

int TBatchCreateForm::LastType = bjZip;

TBatchCreateForm::TBatchCreateForm(IPageHost& host, std::function<void()> dateQuestion, QWidget* parent)
    : QDialog(parent), host_(host), dateQuestion_(std::move(dateQuestion)) {
  setWindowTitle("Batch Create");
  ListView = new QTreeWidget(this);
  ListView->setColumnCount(2);
  ListView->setHeaderLabels({"Action", "Path"});
  ListView->setRootIsDecorated(false);
  ListView->setSortingEnabled(false);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setColumnWidth(0, 150);
  ListView->header()->setStretchLastSection(true);

  auto make = [this](const char* text) { return new QPushButton(text, this); };
  FilenameButton = make("FILENAME");
  AddFilesButton = make("ADD FILES");
  AddFolderButton = make("ADD FOLDER");
  TagButton = make("TAG");
  FinishButton = make("FINISH");
  ZipButton = make("ZIP");
  ClearButton = make("CLEAR");
  RemoveButton = make("REMOVE");
  HelpButton = make("HELP");
  CancelButton = make("Cancel");
  SetButtons({FilenameButton, HelpButton, CancelButton},
             {AddFilesButton, AddFolderButton, TagButton, FinishButton, ZipButton, ClearButton, RemoveButton});

  auto* column = new QVBoxLayout;
  for (QPushButton* b : {FilenameButton, TagButton, AddFilesButton, AddFolderButton, FinishButton})
    column->addWidget(b);
  column->addSpacing(16);
  for (QPushButton* b : {RemoveButton, ClearButton}) column->addWidget(b);
  column->addStretch(1);
  for (QPushButton* b : {ZipButton, HelpButton, CancelButton}) column->addWidget(b);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(ListView, 1);
  layout->addLayout(column);
  resize(720, 420);

  connect(FilenameButton, &QPushButton::clicked, this, &TBatchCreateForm::FilenameButtonClick);
  connect(AddFilesButton, &QPushButton::clicked, this, &TBatchCreateForm::AddFilesButtonClick);
  connect(AddFolderButton, &QPushButton::clicked, this, &TBatchCreateForm::AddFolderButtonClick);
  connect(TagButton, &QPushButton::clicked, this, &TBatchCreateForm::tagButtonClick);
  connect(FinishButton, &QPushButton::clicked, this, &TBatchCreateForm::FinishButtonClick);
  connect(ClearButton, &QPushButton::clicked, this, &TBatchCreateForm::ClearButtonClick);
  connect(RemoveButton, &QPushButton::clicked, this, &TBatchCreateForm::RemoveButtonClick);
  connect(ZipButton, &QPushButton::clicked, this, &TBatchCreateForm::ZipButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TBatchCreateForm::ZipHelpButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ListView, &QTreeWidget::itemSelectionChanged, this, &TBatchCreateForm::ListViewSelectItem);
}

void TBatchCreateForm::SetButtons(std::initializer_list<QPushButton*> on, std::initializer_list<QPushButton*> off) {
  for (QPushButton* b : on) b->setEnabled(true);
  for (QPushButton* b : off) b->setEnabled(false);
}

void TBatchCreateForm::AddRow(const std::string& action, const std::string& path) {
  auto* item = new QTreeWidgetItem({QString::fromStdString(action), QString::fromStdString(path)});
  ListView->addTopLevelItem(item);
  ListView->scrollToItem(item);
}

std::vector<TBatchRow> TBatchCreateForm::Rows() const {
  std::vector<TBatchRow> rows;
  rows.reserve(static_cast<size_t>(ListView->topLevelItemCount()));
  for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* it = ListView->topLevelItem(i);
    rows.push_back({it->text(0).toStdString(), it->text(1).toStdString()});
  }
  return rows;
}

int TBatchCreateForm::RowCount() const { return ListView->topLevelItemCount(); }

int TBatchCreateForm::OpenJobType() const {
  for (int i = ListView->topLevelItemCount() - 1; i >= 0; --i) {
    const QString action = ListView->topLevelItem(i)->text(0);
    if (action == "FINISH") return -1;
    for (int t = 0; t < 4; ++t)
      if (action == kTypes[t].Action) return t;
  }
  return -1;
}

void TBatchCreateForm::FilenameButtonClick() {
  TBatchSaveTypeForm typeForm(LastType, this);
  ExecModal(typeForm, "TBatchSaveTypeForm");
  const int type = typeForm.ChosenType();
  LastType = type;
  const TTypeInfo& t = kTypes[type];
  std::string name = AskArchiveSaveName("Save Compressed File", saveFolder_, t.Filter, t.Extension, {t.Extension});
  if (name.empty()) return;
  saveFolder_ = FolderOf(name);
  if (LowerCase(name).find(t.Extension) == std::string::npos) name += t.Extension;
  AddRow(t.Action, name);
  FilenameButton->setEnabled(false);
  SetButtons({AddFilesButton, ClearButton}, {});
  TagButton->setEnabled(type != bjTar);
  AddFolderButton->setEnabled(type != bjGz);
}

void TBatchCreateForm::AddFilesButtonClick() {
  const std::vector<std::string> files =
      Prompt().OpenFileNames("Select Files to compress", filesFolder_, "All files|*");
  if (files.empty()) return;
  if (dateQuestion_) dateQuestion_();
  filesFolder_ = FolderOf(files.front());
  if (OpenJobType() == bjGz) {
    AddRow("ADD FILE", files.front());
    dofinish();
    return;
  }
  for (const std::string& f : files) AddRow("ADD FILE", f);
  FinishButton->setEnabled(true);
}

void TBatchCreateForm::AddFolderButtonClick() {
  const std::string folder = host_.BrowseforFolder("Select Folder", false, false);
  if (folder.empty()) return;
  if (dateQuestion_) dateQuestion_();
  AddRow("ADD FOLDER", folder);
  FinishButton->setEnabled(true);
}

void TBatchCreateForm::tagButtonClick() {
  TBatchTagForm form(this);
  if (ExecModal(form, "TBatchTagForm") != QDialog::Accepted) return;
  const std::string text = form.TagEdit->text().toStdString();
  if (text.empty()) return;
  const int type = OpenJobType();
  std::string latin1;
  if ((type == bjGz || type == bjTarGz) && !Utf8ToLatin1(text, latin1)) {
    ShowError(kGzipTagMessage);
    return;
  }
  AddRow("TAG", text);
}

void TBatchCreateForm::FinishButtonClick() { dofinish(); }

void TBatchCreateForm::dofinish() {
  AddRow("FINISH", "");
  SetButtons({ZipButton, FilenameButton}, {TagButton, AddFilesButton, AddFolderButton, FinishButton, ClearButton});
}

void TBatchCreateForm::ClearButtonClick() {
  ListView->clear();
  SetButtons({FilenameButton}, {TagButton, AddFilesButton, AddFolderButton, FinishButton, ZipButton, ClearButton});
}

void TBatchCreateForm::ListViewSelectItem() { RemoveButton->setEnabled(!ListView->selectedItems().isEmpty()); }

void TBatchCreateForm::RemoveButtonClick() {
  const QList<QTreeWidgetItem*> selected = ListView->selectedItems();
  if (selected.isEmpty()) return;
  const int row = ListView->indexOfTopLevelItem(selected.front());
  int first = row;
  while (first > 0 && !ListView->topLevelItem(first)->text(0).contains("Filename")) --first;
  int last = row;
  const int count = ListView->topLevelItemCount();
  while (last < count - 1 && ListView->topLevelItem(last)->text(0) != "FINISH") ++last;
  for (int i = last; i >= first; --i) delete ListView->takeTopLevelItem(i);
  SetButtons({FilenameButton}, {TagButton, AddFilesButton, AddFolderButton, ClearButton, RemoveButton, FinishButton});
  ZipButton->setEnabled(ListView->topLevelItemCount() > 0);
}

bool TBatchCreateForm::checkforfinish() {
  const int count = ListView->topLevelItemCount();
  if (count == 0) return false;
  int lastFinish = count - 1;
  while (lastFinish >= 0 && ListView->topLevelItem(lastFinish)->text(0) != "FINISH") --lastFinish;
  // An unfinished last job is dropped; with no finished job nothing is left.
  for (int i = count - 1; i > lastFinish; --i) delete ListView->takeTopLevelItem(i);
  return lastFinish >= 0;
}

void TBatchCreateForm::ZipButtonClick() {
  if (checkforfinish()) accept();
  else reject();
}

void TBatchCreateForm::ZipHelpButtonClick() { host_.OpenHelpPage("batch_create.html"); }
