#include "app/DeleteQueueFileForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TDeleteQueueFileForm::TDeleteQueueFileForm(const std::vector<std::string>& paths, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("Remove File From Queue");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Checkmark the items you wish to delete from the Queue", this));
  List = new QTreeWidget(this);
  List->setHeaderLabels({"Filename"});
  List->setRootIsDecorated(false);
  List->header()->resizeSection(0, 550);
  for (const std::string& p : paths) {
    auto* item = new QTreeWidgetItem(List, {QString::fromStdString(p)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
  }
  layout->addWidget(List, 1);
  auto* buttons = new QHBoxLayout;
  auto* checkAll = new QPushButton("Check All", this);
  auto* uncheckAll = new QPushButton("Uncheck All", this);
  auto* remove = new QPushButton("Delete", this);
  auto* cancel = new QPushButton("Cancel", this);
  for (QPushButton* b : {checkAll, uncheckAll, remove, cancel}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(checkAll, &QPushButton::clicked, this, &TDeleteQueueFileForm::CheckAllClick);
  connect(uncheckAll, &QPushButton::clicked, this, &TDeleteQueueFileForm::UncheckAllClick);
  connect(remove, &QPushButton::clicked, this, &TDeleteQueueFileForm::DeleteClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  resize(600, 360);
}

void TDeleteQueueFileForm::SetAll(bool checked) {
  for (int i = 0; i < List->topLevelItemCount(); ++i) SetChecked(i, checked);
}

void TDeleteQueueFileForm::CheckAllClick() { SetAll(true); }
void TDeleteQueueFileForm::UncheckAllClick() { SetAll(false); }

void TDeleteQueueFileForm::SetChecked(int row, bool checked) {
  if (QTreeWidgetItem* item = List->topLevelItem(row)) item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

std::vector<int> TDeleteQueueFileForm::CheckedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < List->topLevelItemCount(); ++i)
    if (List->topLevelItem(i)->checkState(0) == Qt::Checked) rows.push_back(i);
  return rows;
}

void TDeleteQueueFileForm::DeleteClick() { done(CheckedRows().empty() ? QDialog::Rejected : QDialog::Accepted); }
