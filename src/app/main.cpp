#include <QApplication>

#include "app/TandorForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tandor File");
  QApplication::setApplicationDisplayName("Tandor File");
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  TTandorForm form(arguments);
  form.show();
  return QApplication::exec();
}
