// GoogleTest main for tests that need a QApplication (windows, pages, queued calls).
#include <gtest/gtest.h>

#include <QApplication>

#include "TestEnv.h"

int main(int argc, char** argv) {
  testenv::Root();  // isolate HOME, XDG_* and TANDOR_HOME before Qt reads them
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
