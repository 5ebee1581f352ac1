#include "pages/sfx/AutoStartSelectForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TAutoStartSelectForm::TAutoStartSelectForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select File to Auto Start when Zip File Extraction is Complete...");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  ListView = new QTreeWidget(this);
  ListView->setColumnCount(2);
  ListView->setHeaderLabels({"Filename", "Path"});
  ListView->setRootIsDecorated(false);
  ListView->setColumnWidth(0, 170);
  ListView->setColumnWidth(1, 600);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  OKButton = new QPushButton("OK", this);
  OKButton->setEnabled(false);
  CancelButton = new QPushButton("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Highlight the File you wish to Auto Start and Press OK", this));
  layout->addWidget(ListView, 1);
  layout->addLayout(buttons);
  resize(800, 420);
  connect(ListView, &QTreeWidget::itemClicked, this, [this] { ListViewClick(); });
  connect(ListView, &QTreeWidget::itemSelectionChanged, this, [this] { ListViewClick(); });
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TAutoStartSelectForm::AddEntry(const QString& fileName, const QString& path) {
  new QTreeWidgetItem(ListView, {fileName, path});
}

void TAutoStartSelectForm::ListViewClick() { OKButton->setEnabled(!ListView->selectedItems().isEmpty()); }

QString TAutoStartSelectForm::Chosen() const {
  const QList<QTreeWidgetItem*> rows = ListView->selectedItems();
  if (rows.isEmpty()) return {};
  QString path = rows.first()->text(1);
  if (!path.isEmpty() && !path.endsWith('/')) path += '/';
  return path + rows.first()->text(0);
}
