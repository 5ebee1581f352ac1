#pragma once
// The tests behind the unzip page's two filters, on the rows of the full list: the file-type filter
// (extensions and a name pattern) and the folder filter (folders alone or with their subfolders, and
// a file type). Folder names match whole path elements: docs/sub keeps docs/sub/... but not
// docs/subway/.
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

struct TListRow;

// The marker of names without an extension in the folder filter's type list.
inline const QString kUnknownType = QStringLiteral("{Unknown}");

// A-Z lowered, nothing else (as the filters compare).
QString AsciiLower(const QString& s);
// The caption's extension from its last ".", lowered; empty when it has none.
QString RowExtension(const QString& caption);

// The pattern test on a caption: anywhere in it, or (Whole Word) at its start; exact case or not.
bool NameTestPasses(const QString& caption, const QString& pattern, bool wholeWord, bool caseSensitive);

struct TFileTypeFilter {
  QStringList Extensions;  // lowered, with the dot; empty: any
  QString Pattern;         // empty: none
  bool WholeWord = false;
  bool CaseSensitive = false;
  bool Matches(const TListRow& row) const;
};

struct TFolderChoice {
  QString Folder;               // relative to the archive's root, "/" separators, no trailing "/"
  bool WithSubfolders = false;  // "Include Folders"
};

// The folder filter's type choice: empty (no choice) passes every name.
bool FolderFileTypeMatches(const QString& caption, const QString& typeChoice);
// True when the row lies in the chosen folder (or below it, with its subfolders and the type choice).
bool FolderRowQualifies(const TListRow& row, const TFolderChoice& choice, const QString& typeChoice);

// The folder filter over the rows in one pass: for every chosen folder in turn, the rows it keeps in
// list order (a row kept by two chosen folders is there twice), as FolderRowQualifies decides. Each
// distinct Path text is judged against the chosen folders once, so many chosen folders cost little.
class TFolderFilterScan {
 public:
  TFolderFilterScan(std::vector<TFolderChoice> chosen, QString typeChoice);
  void Add(const TListRow& row, int index);
  // The kept rows' indices in the filter's order.
  std::vector<int> Kept() const;

 private:
  const std::vector<int>& ChoicesOf(const QString& path);
  std::vector<TFolderChoice> chosen_;
  std::vector<QString> keys_;  // lowered folder with its "/"
  QString type_;
  QHash<QString, std::vector<int>> byPath_;
  QString lastPath_;
  const std::vector<int>* lastChoices_ = nullptr;
  std::vector<std::vector<int>> kept_;
};

// The label text of a folder: the leading elements while the text stays under `limit` characters,
// "../" when some were left out, then the last element.
QString ShortenedFolderLabel(const QString& path, int limit = 40);
