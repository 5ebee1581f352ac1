#include "pages/create/DatePickForm.h"

#include <QCalendarWidget>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/TextUtil.h"
#include "pages/common/PromptService.h"

namespace {
const QDate kFirstDate(1945, 1, 1);
const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
}  // namespace

TDatePickForm::TDatePickForm(QWidget* parent, QDate today)
    : QDialog(parent), today_(today.isValid() ? today : QDate::currentDate()) {
  setWindowTitle("Select the cut off date for selecting files to include in the Zip File");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setReadOnly(true);
  Memo1->setPlainText(
      "You have chosen to only include files in your zip file which are newer \n"
      "than a certain date (perhaps for backup purposes).  Select the cut off \n"
      "date using the calendar below.  Only files which are newer than the cut \n"
      "off date will be included in the zip file...");
  Memo1->setMaximumHeight(90);
  Calendar = new QCalendarWidget(this);
  Calendar->setFirstDayOfWeek(Qt::Sunday);
  Calendar->setNavigationBarVisible(false);
  Calendar->setMinimumDate(kFirstDate);
  Calendar->setSelectedDate(today_);
  Edit1 = new QLineEdit(this);
  Edit1->setReadOnly(true);
  Edit1->setFrame(false);
  PrevYearButton = new QPushButton("<", this);
  nextyearButton = new QPushButton(">", this);
  prevMonthButton = new QPushButton("<", this);
  NextMonthButton = new QPushButton(">", this);
  Button1 = new QPushButton("ACCEPT", this);
  Button2 = new QPushButton("CANCEL", this);

  auto* yearBox = new QGroupBox("YEAR", this);
  auto* yl = new QHBoxLayout(yearBox);
  yl->addWidget(PrevYearButton);
  yl->addWidget(nextyearButton);
  auto* monthBox = new QGroupBox("MONTH", this);
  auto* ml = new QHBoxLayout(monthBox);
  ml->addWidget(prevMonthButton);
  ml->addWidget(NextMonthButton);
  auto* moves = new QHBoxLayout;
  moves->addWidget(yearBox);
  moves->addWidget(monthBox);
  moves->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1);
  layout->addWidget(Calendar);
  layout->addWidget(Edit1);
  layout->addLayout(moves);
  layout->addLayout(buttons);

  connect(Calendar, &QCalendarWidget::selectionChanged, this, &TDatePickForm::CalendarChange);
  connect(Calendar, &QCalendarWidget::currentPageChanged, this, [this](int y, int m) {
    if (changing_) return;
    const QDate d = ShownDate();
    MoveTo(QDate(y, m, std::min(d.day(), QDate(y, m, 1).daysInMonth())));
  });
  connect(PrevYearButton, &QPushButton::clicked, this, &TDatePickForm::PrevYearButtonClick);
  connect(nextyearButton, &QPushButton::clicked, this, &TDatePickForm::nextyearButtonClick);
  connect(prevMonthButton, &QPushButton::clicked, this, &TDatePickForm::prevMonthButtonClick);
  connect(NextMonthButton, &QPushButton::clicked, this, &TDatePickForm::NextMonthButtonClick);
  connect(Button1, &QPushButton::clicked, this, &TDatePickForm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TDatePickForm::Button2Click);
  Button1->setDefault(true);
  FormCreate();
}

QString TDatePickForm::DateText(const QDate& date) {
  return QString("%1 %2, %3").arg(kMonths[date.month() - 1]).arg(date.day()).arg(date.year(), 4, 10, QChar('0'));
}

void TDatePickForm::FormCreate() {
  Edit1->setText(DateText(today_));
  nextyearButton->setEnabled(false);
  NextMonthButton->setEnabled(false);
  CalendarChange();
}

QDate TDatePickForm::ShownDate() const { return Calendar->selectedDate(); }

void TDatePickForm::SetShownDate(const QDate& date) { MoveTo(date); }

void TDatePickForm::MoveTo(const QDate& date) {
  QDate d = date < kFirstDate ? kFirstDate : date;
  changing_ = true;
  // The grid may hold a later day of today's month for a moment; CalendarChange clamps it.
  Calendar->setMaximumDate(QDate(9999, 12, 31));
  Calendar->setSelectedDate(d);
  Calendar->setCurrentPage(d.year(), d.month());
  changing_ = false;
  CalendarChange();
}

void TDatePickForm::CalendarChange() {
  if (changing_) return;
  QDate d = ShownDate();
  const bool todaysMonth = d.year() == today_.year() && d.month() == today_.month();
  if (todaysMonth && d.day() > today_.day()) d = today_;
  if (d > today_) d = today_;  // a later month of a later year cannot be shown either
  if (d != ShownDate()) {
    changing_ = true;
    Calendar->setSelectedDate(d);
    Calendar->setCurrentPage(d.year(), d.month());
    changing_ = false;
  }
  Edit1->setText(DateText(d));
  if (d.year() != today_.year()) {
    nextyearButton->setEnabled(true);
    NextMonthButton->setEnabled(true);
  } else {
    nextyearButton->setEnabled(false);
  }
  PrevYearButton->setEnabled(d.year() > kFirstDate.year());
  prevMonthButton->setEnabled(!(d.year() == kFirstDate.year() && d.month() == 1));
  NextMonthButton->setEnabled(!(d.year() == today_.year() && d.month() == today_.month()));
}

void TDatePickForm::PrevYearButtonClick() { MoveTo(ShownDate().addYears(-1)); }
void TDatePickForm::nextyearButtonClick() { MoveTo(ShownDate().addYears(1)); }
void TDatePickForm::prevMonthButtonClick() { MoveTo(ShownDate().addMonths(-1)); }

void TDatePickForm::NextMonthButtonClick() {
  const QDate d = ShownDate();
  if (d.year() == today_.year() && d.month() == today_.month()) {
    NextMonthButton->setEnabled(false);
    return;
  }
  MoveTo(d.addMonths(1));
}

void TDatePickForm::Button1Click() {
  const QDate d = ShownDate();
  done(static_cast<int>(DayNumberOf(d.year(), d.month(), d.day())));
}

void TDatePickForm::Button2Click() { done(-1); }

int64_t AskCutoffDate(QWidget* parent) {
  TDatePickForm form(parent);
  return ExecModal(form, "TDatePickForm");
}
