#include <QApplication>
#include <QDir>
#include <memory>

#include "app/ProgramSwitches.h"
#include "app/RunOnce.h"
#include "app/TandorForm.h"
#include "platform/Paths.h"

namespace {

// A second start hands its arguments (made absolute against its own folder) to the running instance.
// True when they were handed over.
bool HandOverToRunningInstance(TRunOnce& runOnce, int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList arguments = QCoreApplication::arguments();
  arguments[0] = QString::fromStdString(ProgramPath());
  for (int i = 1; i < arguments.size(); ++i)
    if (!arguments[i].isEmpty()) arguments[i] = QDir::current().absoluteFilePath(arguments[i]);
  return runOnce.HandOver(arguments);
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = RunProgramSwitch(argc, argv)) return *status;
  // Before any window or setting: one running instance per program file and user.
  auto runOnce = std::make_unique<TRunOnce>(ProgramPath());
  if (runOnce->IsSecondStart()) {
    const bool handedOver = HandOverToRunningInstance(*runOnce, argc, argv);
    if (handedOver) return 0;
    if (runOnce->IsSecondStart()) return 1;  // nobody answered: the arguments are dropped
  }
  QApplication app(argc, argv);
  SetApplicationIdentity();
  runOnce->Listen();  // hand-overs that come while the window is being made wait for it
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  TTandorForm form(arguments);
  form.AttachRunOnce(std::move(runOnce));
  form.show();
  return QApplication::exec();
}
