#include <QApplication>

#include "app/TandorForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tandor File");
  TTandorForm form;
  form.show();
  return QApplication::exec();
}
