#include "app/TandorForm.h"

#include <QLabel>
#include <QTabWidget>

TTandorForm::TTandorForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Tandor File");
  TabbedNotebook = new QTabWidget(this);
  for (const char* caption : {"UNZIP A ZIP FILE", "ADD UPDATE", "CREATE A NEW ZIP FILE", "BATCH UNZIP",
                              "SELF EXTRACTING ZIP"})
    TabbedNotebook->addTab(new QLabel(caption), caption);
  setCentralWidget(TabbedNotebook);
  resize(1000, 700);
}

TTandorForm::~TTandorForm() = default;
