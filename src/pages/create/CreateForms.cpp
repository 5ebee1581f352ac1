#include "pages/create/CreateForms.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

TZipTypeForm::TZipTypeForm(bool oneRow, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select the File type to create...");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox("Create the following file type ...", this);
  auto* bl = new QVBoxLayout(box);
  TypeGroup = new QButtonGroup(this);
  QStringList items{"Create a standard ZIP file ( .zip)", "Create a GZipped Tar Ball ( *.tar.gz)",
                    "Create a Tar Ball ( *.tar)"};
  if (oneRow) items << "Create a GZ file ( *.gz)";
  for (int i = 0; i < items.size(); ++i) {
    auto* r = new QRadioButton(items[i], box);
    TypeGroup->addButton(r, i);
    bl->addWidget(r);
  }
  TypeGroup->button(0)->setChecked(true);
  layout->addWidget(box);
  DefaultCheckBox = new QCheckBox("Set this file type as the default and do not ask again", this);
  layout->addWidget(DefaultCheckBox);
  layout->addWidget(new QLabel("You can change this setting later on the Properties menu", this));
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

int TZipTypeForm::ChosenType() const { return std::max(0, TypeGroup->checkedId()) + 1; }
bool TZipTypeForm::MakeDefault() const { return DefaultCheckBox->isChecked(); }

namespace {
const struct {
  const char* Text;
  int64_t Size;
} kSpanSizes[] = {{"A Standard CD (650 MB)", 678000000},
                  {"A 70 minute CD (700 MB)", 732000000},
                  {"A Rewritable CD (520 MB)", 542000000},
                  {"A standard Floppy disk (1.44 MB)", 1508000},
                  {"A custom size", 0}};
}  // namespace

TSpanSizeForm::TSpanSizeForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Choose the maximuim size for each segment of the zip file ");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  SizeGroup = new QButtonGroup(this);
  for (int i = 0; i < 5; ++i) {
    auto* r = new QRadioButton(kSpanSizes[i].Text, this);
    SizeGroup->addButton(r, i);
    layout->addWidget(r);
  }
  SizeGroup->button(0)->setChecked(true);
  CustomEdit = new QSpinBox(this);
  CustomEdit->setRange(65536, 2000000000);
  CustomEdit->setValue(65536);
  CustomEdit->setVisible(false);
  layout->addWidget(CustomEdit);
  connect(SizeGroup, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (id == 4) CustomEdit->setVisible(on);
  });
  auto* accept = new QPushButton("ACCEPT", this);
  connect(accept, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(accept, 0, Qt::AlignRight);
}

int64_t TSpanSizeForm::ChosenSize() const {
  const int id = std::max(0, SizeGroup->checkedId());
  return id == 4 ? CustomEdit->value() : kSpanSizes[id].Size;
}

uint16_t TTarOptions::Permissions() const {
  const bool flags[] = {ReadByOwner, WriteByOwner, ExecuteByOwner, ReadByGroup, WriteByGroup,
                        ExecuteByGroup, ReadByAll, WriteByAll, ExecuteByAll};
  uint16_t bits = 0;
  for (int i = 0; i < 9; ++i)
    if (flags[i]) bits |= uint16_t(1u << i);
  return bits;
}

TTarArchiveOptionsForm::TTarArchiveOptionsForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Tar Archive Options");
  const TTarOptions defaults;
  auto check = [this](const char* text, bool on) {
    auto* c = new QCheckBox(text, this);
    c->setChecked(on);
    return c;
  };
  RBOCheckBox = check("Read By Owner", defaults.ReadByOwner);
  WBOCheckBox = check("Write by Owner", defaults.WriteByOwner);
  EBOCheckBox = check("Execute by Owner", defaults.ExecuteByOwner);
  RBGCheckBox = check("Read by Group", defaults.ReadByGroup);
  WBGCheckBox = check("Write by Group", defaults.WriteByGroup);
  EBGCheckBox = check("Execute by Group", defaults.ExecuteByGroup);
  RBACheckBox = check("Read by All", defaults.ReadByAll);
  WBACheckBox = check("Write by All", defaults.WriteByAll);
  EBACheckBox = check("Execute by All", defaults.ExecuteByAll);
  CheckBox10 = check("Contiguous", defaults.Contiguous);
  auto line = [this] {
    auto* e = new QLineEdit(this);
    e->setMaxLength(255);
    return e;
  };
  VHEdit = line();
  UserNameEdit = line();
  GroupNameEdit = line();
  MagicEdit = line();
  auto spin = [this] {
    auto* s = new QSpinBox(this);
    s->setRange(INT_MIN, INT_MAX);
    s->setValue(0);
    return s;
  };
  UIDSpinEdit = spin();
  GIDSpinEdit = spin();

  auto* grid = new QGridLayout;
  QCheckBox* boxes[] = {RBOCheckBox, WBOCheckBox, EBOCheckBox, RBGCheckBox, WBGCheckBox,
                        EBGCheckBox, RBACheckBox, WBACheckBox, EBACheckBox};
  for (int i = 0; i < 9; ++i) grid->addWidget(boxes[i], i % 3, i / 3);
  grid->addWidget(CheckBox10, 3, 0);
  auto* form = new QFormLayout;
  form->addRow("Volume Header ", VHEdit);
  form->addRow("UID", UIDSpinEdit);
  form->addRow("GID", GIDSpinEdit);
  form->addRow("User Name", UserNameEdit);
  form->addRow("Group Name", GroupNameEdit);
  form->addRow("Magic", MagicEdit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText("OK");
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void TTarArchiveOptionsForm::Store(TTarOptions& o) const {
  o.ReadByOwner = RBOCheckBox->isChecked();
  o.WriteByOwner = WBOCheckBox->isChecked();
  o.ExecuteByOwner = EBOCheckBox->isChecked();
  o.ReadByGroup = RBGCheckBox->isChecked();
  o.WriteByGroup = WBGCheckBox->isChecked();
  o.ExecuteByGroup = EBGCheckBox->isChecked();
  o.ReadByAll = RBACheckBox->isChecked();
  o.WriteByAll = WBACheckBox->isChecked();
  o.ExecuteByAll = EBACheckBox->isChecked();
  o.Contiguous = CheckBox10->isChecked();
  o.VolumeHeader = VHEdit->text().left(255).toStdString();
  o.UserId = UIDSpinEdit->value();
  o.GroupId = GIDSpinEdit->value();
  o.UserName = UserNameEdit->text().left(255).toStdString();
  o.GroupName = GroupNameEdit->text().left(255).toStdString();
  o.Magic = MagicEdit->text().left(255).toStdString();
}
