#pragma once
// The cut-off date window: a calendar from 1945 up to today. Modal result: the chosen day number after
// ACCEPT, -1 after CANCEL.
#include <QDate>
#include <QDialog>
#include <cstdint>

class QCalendarWidget;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TDatePickForm : public QDialog {
  Q_OBJECT
 public:
  // `today` is for tests; an invalid date means the system's today.
  explicit TDatePickForm(QWidget* parent = nullptr, QDate today = QDate());

  // "December 27, 2002".
  static QString DateText(const QDate& date);

  void FormCreate();
  void CalendarChange();
  void PrevYearButtonClick();
  void nextyearButtonClick();
  void prevMonthButtonClick();
  void NextMonthButtonClick();
  void Button1Click();  // ACCEPT
  void Button2Click();  // CANCEL

  QDate ShownDate() const;
  void SetShownDate(const QDate& date);  // as a click in the grid would

  QPlainTextEdit* Memo1;
  QCalendarWidget* Calendar;
  QLineEdit* Edit1;
  QPushButton* PrevYearButton;
  QPushButton* nextyearButton;
  QPushButton* prevMonthButton;
  QPushButton* NextMonthButton;
  QPushButton* Button1;
  QPushButton* Button2;

 protected:
  void reject() override {}  // no close box: only ACCEPT and CANCEL close it

 private:
  void MoveTo(const QDate& date);
  QDate today_;
  bool changing_ = false;
};

// Asks the cut-off date (shows the window through ExecModal): day number, or -1 when cancelled.
int64_t AskCutoffDate(QWidget* parent);
