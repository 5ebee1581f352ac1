// The prompt service's password window as the user sees it: its buttons, what each one answers, the
// typed text only on "&Ok", and a width that shows the whole title.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "pages/common/PromptService.h"

namespace {

struct TSeen {
  std::vector<std::string> buttons;
  int width = 0, titleWidth = 0;
  int echo = -1, maxLength = 0;
};

// Shows the window, types `typed` and presses the button named `press` once it is up.
TPromptAnswer Answer(bool cancelAll, bool abort, const std::string& typed, const QString& press, std::string& value,
                     TSeen& seen) {
  TPromptService service(nullptr);
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen.width = dialog->width();
    seen.titleWidth = dialog->fontMetrics().horizontalAdvance(dialog->windowTitle());
    auto* edit = dialog->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    seen.echo = edit->echoMode();
    seen.maxLength = edit->maxLength();
    edit->setText(QString::fromStdString(typed));
    QPushButton* target = nullptr;
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
      seen.buttons.push_back(b->text().toStdString());
      if (b->text() == press) target = b;
    }
    if (target) target->click();
    else dialog->reject();
  });
  return service.AskPassword("Password", "Enter Password ", value, cancelAll, abort);
}

}  // namespace

TEST(PasswordWindow, ButtonsAndAnswers) {
  struct Case {
    bool cancelAll, abort;
    QString press;
    TPromptAnswer answer;
    std::string value;
    std::vector<std::string> buttons;
  };
  const std::vector<std::string> four{"&Ok", "&Cancel", "Cancel all", "Abort"};
  const std::vector<Case> cases{
      {true, true, "&Ok", TPromptAnswer::Ok, "typed", four},
      {true, true, "&Cancel", TPromptAnswer::Cancel, "", four},
      {true, true, "Cancel all", TPromptAnswer::NoToAll, "", four},
      {true, true, "Abort", TPromptAnswer::Abort, "", four},
      {true, true, "", TPromptAnswer::Cancel, "", four},  // Escape, closing the window
      {false, false, "&Ok", TPromptAnswer::Ok, "typed", {"&Ok", "&Cancel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.press.toStdString());
    std::string value;
    TSeen seen;
    EXPECT_EQ(Answer(c.cancelAll, c.abort, "typed", c.press, value, seen), c.answer);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_EQ(seen.echo, int(QLineEdit::Password));
    EXPECT_EQ(seen.maxLength, 80);
    EXPECT_GT(seen.width, seen.titleWidth + 60) << "the title fits";
  }
}
