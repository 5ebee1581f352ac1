#include "pages/unzip/ZipSecurityForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TZipSecurityForm::TZipSecurityForm(const QStringList& lines, QWidget* parent) : QDialog(parent), lines_(lines) {
  setWindowTitle("ZIP FILE SECURITY THREAT");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  const QStringList text = {"THERE IS A POSSIBLE SECURITY THREAT IN THIS ZIP FILE...",
                            "",
                            "Certain zip files can write files outside of the folder in which you have ",
                            "decided to  Unzip the Zip file.  ",
                            "",
                            "You can choose to not Unzip these potentially dangerous files.",
                            "",
                            "You can stop the Unzipping process for this zip file.",
                            "",
                            "A list of the files which pose a potential security threat are listed below."};
  auto* label = new QLabel(text.join('\n'), this);
  layout->addWidget(label);
  auto* list = new QPlainTextEdit(this);
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  list->setPlainText(lines.join('\n'));
  layout->addWidget(list, 1);
  auto* buttons = new QHBoxLayout;
  auto* skip = new QPushButton("DO NOT UNZIP THE FILES", this);
  auto* halt = new QPushButton("HALT THE UNZIP PROCESS", this);
  auto* ignore = new QPushButton("IGNORE", this);
  connect(skip, &QPushButton::clicked, this, [this] { done(kDoNotUnzip); });
  connect(halt, &QPushButton::clicked, this, [this] { done(kHalt); });
  connect(ignore, &QPushButton::clicked, this, [this] { done(kIgnore); });
  for (QPushButton* b : {skip, halt, ignore}) buttons->addWidget(b);
  skip->setDefault(true);
  layout->addLayout(buttons);
  resize(560, 420);
}
