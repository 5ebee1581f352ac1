#pragma once
// The unzip page's options: the "UNZIP" and "Tar GZ " pages of the program's properties.
#include <QDialog>

class QCheckBox;
class QTabWidget;
class TSettings;

class TUnzipOptionsForm : public QDialog {
  Q_OBJECT
 public:
  // Opens on the page captioned `startPage` ("UNZIP", "Tar GZ "); the first page when empty.
  TUnzipOptionsForm(TSettings& settings, const QString& startPage, QWidget* parent = nullptr);
  QString CurrentPageCaption() const;
  // Writes the boxes back into the settings (done on OK).
  void Apply();

  QCheckBox* UnzipFoldersCheckbox;
  QCheckBox* OverwriteCheckBox;
  QCheckBox* UpdateFilesCheckBox;
  QCheckBox* FreshenFilesCheckBox;
  QCheckBox* OpenTarCheckBox;
  QCheckBox* ShortGZPathCheckBox;
  QCheckBox* TarAttrCheckBox;
  QCheckBox* SelectAllCheckBox;

 private:
  TSettings& settings_;
  QTabWidget* pages_;
};
