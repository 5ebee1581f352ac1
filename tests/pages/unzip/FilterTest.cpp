// The unzip page's highlight and its two filters: the name and folder tests as tables, the folder tree
// built from the rows, and the windows driven through the modal hook with the results checked in the
// lists and, after UNZIP, on disk.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "core/Settings.h"
#include "pages/common/FileList.h"
#include "pages/unzip/ArchiveTree.h"
#include "pages/unzip/EntryFilters.h"
#include "pages/unzip/FilterForms.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Launcher.h"

namespace {

TListRow RowOf(const std::string& key) {
  TListRow r;
  const QString k = QString::fromStdString(key);
  const qsizetype slash = k.lastIndexOf('/');
  r.File = k.mid(slash + 1);
  r.Path = k.left(slash + 1);
  return r;
}

TEST(EntryFilters, NameTest) {
  struct Case {
    const char* caption;
    const char* pattern;
    bool wholeWord, caseSensitive, passes;
  } cases[] = {
      {"README.TXT", "read", true, false, true},    {"readme.md", "read", true, false, true},
      {"my_readme.txt", "read", true, false, false}, {"README.TXT", "read", false, false, true},
      {"readme.md", "read", false, false, true},     {"my_readme.txt", "read", false, false, true},
      {"README.TXT", "read", true, true, false},     {"README.TXT", "READ", true, true, true},
      {"my_readme.txt", "README", false, true, false}, {"my_readme.txt", "readme", false, true, true},
      {"ÄRGER.txt", "ärger", false, false, false},  // only A to Z are lowered
      {"", "a", false, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NameTestPasses(c.caption, c.pattern, c.wholeWord, c.caseSensitive), c.passes)
        << c.caption << " " << c.pattern << " " << c.wholeWord << c.caseSensitive;
}

TEST(EntryFilters, FileTypeFilter) {
  struct Case {
    QStringList exts;
    const char* pattern;
    const char* key;
    bool keeps;
  } cases[] = {
      {{".txt"}, "", "a/Notes.TXT", true},  {{".txt"}, "", "a/notes.md", false}, {{".txt", ".md"}, "", "notes.md", true},
      {{".txt"}, "read", "readme.txt", true}, {{".txt"}, "read", "notes.txt", false}, {{}, "read", "x/readme.md", true},
      {{}, "", "readme.md", false},          {{".txt"}, "", "Makefile", false},    {{".gz"}, "", "a.tar.gz", true},
  };
  for (const Case& c : cases) {
    TFileTypeFilter f;
    f.Extensions = c.exts;
    f.Pattern = c.pattern;
    EXPECT_EQ(f.Matches(RowOf(c.key)), c.keeps) << c.key << " " << c.pattern;
  }
}

TEST(EntryFilters, FolderChoicesMatchWholeElements) {
  struct Case {
    const char* folder;
    bool sub;
    const char* type;
    const char* key;
    bool keeps;
  } cases[] = {
      {"docs/sub", false, "", "docs/sub/a.txt", true},
      {"docs/sub", false, "", "docs/sub/deep/a.txt", false},
      {"docs/sub", false, "", "docs/subway/a.txt", false},
      {"docs/sub", true, "", "docs/sub/a.txt", true},
      {"docs/sub", true, "", "docs/sub/deep/a.txt", true},
      {"docs/sub", true, "", "docs/subway/a.txt", false},  // a sibling that only begins alike
      {"docs/sub", true, "", "docs/a.txt", false},
      {"Docs/Sub", true, "", "docs/SUB/a.txt", true},      // A-Z case does not count
      {"docs", true, ".txt", "docs/x/a.TXT", true},
      {"docs", true, ".txt", "docs/x/a.md", false},
      {"docs", true, "{Unknown}", "docs/Makefile", true},
      {"docs", true, "{Unknown}", "docs/a.txt", false},
      {"docs", false, ".md", "docs/a.txt", true},          // folder only: the type is not applied
  };
  for (const Case& c : cases)
    EXPECT_EQ(FolderRowQualifies(RowOf(c.key), {c.folder, c.sub}, c.type), c.keeps) << c.folder << " " << c.key;
}

TEST(EntryFilters, FolderScanKeepsWhatEachChoiceQualifies) {
  // Every chosen folder in turn, the rows it keeps in list order; a folder chosen twice or a row under
  // two chosen folders lists the row twice; the type choice only for folders with their subfolders.
  const char* keys[] = {"docs/a.txt", "docs/sub/b.md", "DOCS/Sub/c", "docs/subway/d.txt", "e.txt", "docs/sub/deep/f.TXT",
                        "x/docs/g.txt", "docs/", "docs/sub/h.txt", "Docs/i.md"};
  std::vector<TListRow> rows;
  for (const char* k : keys) rows.push_back(RowOf(k));
  struct Case {
    std::vector<TFolderChoice> chosen;
    const char* type;
  } cases[] = {
      {{{"docs/sub", true}}, ""},
      {{{"docs/sub", false}, {"docs", true}}, ""},
      {{{"docs", true}, {"docs/sub", true}, {"docs", true}}, ".txt"},
      {{{"docs", false}, {"x", true}}, ".md"},
      {{{"Docs/SUB", true}}, "{Unknown}"},
      {{{"nowhere", true}}, ""},
  };
  for (const Case& c : cases) {
    std::vector<int> want;
    for (const TFolderChoice& choice : c.chosen)
      for (size_t i = 0; i < rows.size(); ++i)
        if (FolderRowQualifies(rows[i], choice, c.type)) want.push_back(static_cast<int>(i));
    TFolderFilterScan scan(c.chosen, c.type);
    for (size_t i = 0; i < rows.size(); ++i) scan.Add(rows[i], static_cast<int>(i));
    EXPECT_EQ(scan.Kept(), want) << c.chosen.front().Folder.toStdString() << " " << c.type;
  }
  TFolderFilterScan twice({{"docs/sub", true}, {"docs", true}}, "");
  for (size_t i = 0; i < rows.size(); ++i) twice.Add(rows[i], static_cast<int>(i));
  EXPECT_EQ(twice.Kept(), (std::vector<int>{1, 2, 5, 8, 0, 1, 2, 3, 5, 7, 8, 9}));
}

TEST(EntryFilters, FolderLabelIsShortenedFromTheFront) {
  struct Case {
    const char* path;
    const char* label;
  } cases[] = {
      {"docs", "docs"},
      {"docs/img", "docs/img"},
      {"aaaaaaaaaa/bbbbbbbbbb/cccccccccc/dddddddddd/eeeeeeeeee", "aaaaaaaaaa/bbbbbbbbbb/cccccccccc/../eeeeeeeeee"},
      {"a/b/c/the-very-long-last-folder-name-that-is-long-itself", "../the-very-long-last-folder-name-that-is-long-itself"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenedFolderLabel(c.path).toStdString(), c.label);
}

TEST(ArchiveTree, FoldersFilesAndOutline) {
  std::vector<TListRow> rows;
  for (const char* k : {"b.txt", "docs/img/p.png", "docs/Readme", "Docs/a.txt", "docs/subway/x", "A.txt", "docs/sub/y",
                        "e/", "z/deep/er/f.txt"})
    rows.push_back(RowOf(k));
  TArchiveTree tree;
  tree.Build("t.zip", rows, true);
  std::vector<std::string> outline;
  for (int n : tree.Outline()) {
    std::string indent;
    for (int p = tree.At(n).Parent; p >= 0; p = tree.At(p).Parent) indent += " ";
    outline.push_back(indent + tree.At(n).Name.toStdString() + (tree.At(n).Folder ? "/" : ""));
  }
  const std::vector<std::string> want = {"t.zip/", " docs/", "  img/", "   p.png", "  sub/", "   y", "  subway/", "   x",
                                         "  a.txt", "  Readme", " e/", " z/", "  deep/", "   er/", "    f.txt", " A.txt",
                                         " b.txt"};
  EXPECT_EQ(outline, want);
  const int docs = tree.FolderNode("DOCS");
  ASSERT_GT(docs, 0);
  EXPECT_EQ(tree.PathOf(tree.FolderNode("docs/img")).toStdString(), "docs/img");
  EXPECT_EQ(tree.RowsBelow(docs), (std::vector<int>{1, 2, 3, 4, 6}));
  EXPECT_EQ(tree.RowsBelow(tree.FolderNode("docs/sub")), (std::vector<int>{6}));
  EXPECT_EQ(tree.RowsBelow(0).size(), 8u);

  TArchiveTree rootOnly;
  rootOnly.Build("r.zip", {RowOf("a.txt"), RowOf("b.txt")}, true);
  EXPECT_FALSE(rootOnly.HasFolders());
  EXPECT_EQ(rootOnly.Outline().size(), 3u);
  TArchiveTreeModel folders(rootOnly, true);
  EXPECT_EQ(folders.rowCount(folders.index(0, 0)), 0) << "an empty folder tree below the root";
}

// ---------------------------------------------------------------------------------------------
// On the page

class FilterPageTest : public UnzipPageTest {
 protected:
  void OpenSample() {
    const fs::path zip = work_ / "f.zip";
    MakePythonZip(zip, {{"README.TXT", "1"},
                        {"readme.md", "2"},
                        {"my_readme.txt", "3"},
                        {"docs/a.txt", "4"},
                        {"docs/sub/b.txt", "5"},
                        {"docs/sub/deep/c.md", "6"},
                        {"docs/subway/d.txt", "7"},
                        {"docs/Makefile", "8"}});
    Open(zip);
    ASSERT_EQ(page_->UnzipListView->Count(), 8);
  }
  std::vector<std::string> FilteredKeys() const {
    std::vector<std::string> out;
    for (const TListRow& r : page_->UnzipFilteredListView->Model()->Rows()) out.push_back(r.Key().toStdString());
    return out;
  }
  std::vector<std::string> Highlighted(TFileListView* list) const {
    std::vector<std::string> out;
    for (int r : list->SelectedRows()) out.push_back(list->Model()->Row(r).Key().toStdString());
    return out;
  }
  // Runs the file-type filter with a pattern (and types).
  void TypeFilter(const QString& pattern, bool wholeWord, bool caseSensitive, QStringList exts = {}, int answer = 255) {
    modalAnswer_ = [=](QDialog& d, const char*) {
      auto* f = dynamic_cast<TUnzipFileTypeform*>(&d);
      if (!f) return int(QDialog::Rejected);
      if (!exts.isEmpty()) {
        f->FileTypeCheckBox->setChecked(true);
        for (const QString& e : exts) EXPECT_TRUE(f->CheckType(e)) << e.toStdString();
      }
      if (!pattern.isEmpty()) {
        f->MatchCheckBox->setChecked(true);
        f->MatchEdit->setText(pattern);
      }
      f->WholeWordCheckBox->setChecked(wholeWord);
      f->CaseCheckBox->setChecked(caseSensitive);
      if (answer == TUnzipFileTypeform::kOk) {
        EXPECT_TRUE(f->OKButton->isEnabled());
      }
      return answer;
    };
    page_->SelectButtonClick();
  }
  // Runs the folder filter with the given choices; returns the window's types.
  std::vector<std::string> FolderFilter(std::vector<TFolderChoice> choices, const QString& type = {}, int answer = 1) {
    std::vector<std::string> types;
    modalAnswer_ = [&, choices, type, answer](QDialog& d, const char*) {
      auto* f = dynamic_cast<TFolderFilterForm*>(&d);
      if (!f) return int(QDialog::Rejected);
      for (int i = 0; i < f->FEComboBox->count(); ++i) types.push_back(f->FEComboBox->itemText(i).toStdString());
      for (const TFolderChoice& c : choices) {
        EXPECT_TRUE(f->SelectFolder(c.Folder)) << c.Folder.toStdString();
        f->IncludeFoldersCheckBox->setChecked(c.WithSubfolders);
        f->AddFolderButtonClick();
      }
      if (!type.isEmpty()) f->FEComboBox->setCurrentText(type);
      return answer;
    };
    page_->FolderFilterButtonClick();
    modalAnswer_ = nullptr;
    return types;
  }
};

TEST_F(FilterPageTest, PatternFilterWholeWordAndCase) {
  OpenSample();
  struct Case {
    QString pattern;
    bool wholeWord, caseSensitive;
    std::vector<std::string> kept;
  } cases[] = {
      {"read", true, false, {"README.TXT", "readme.md"}},
      {"read", false, false, {"README.TXT", "readme.md", "my_readme.txt"}},
      {"read", false, true, {"readme.md", "my_readme.txt"}},
      {"README", true, true, {"README.TXT"}},
  };
  for (const Case& c : cases) {
    TypeFilter(c.pattern, c.wholeWord, c.caseSensitive);
    EXPECT_TRUE(page_->FilteredShown());
    EXPECT_EQ(FilteredKeys(), c.kept) << c.pattern.toStdString();
    // SelectAllOnLoad (on by default): every filtered row highlighted, UNZIP on.
    EXPECT_EQ(Highlighted(page_->UnzipFilteredListView), c.kept);
    EXPECT_TRUE(page_->UnzipButton->isEnabled());
  }
  // Types with a pattern, and a filter that keeps nothing: the message, the last list stays.
  TypeFilter("", false, false, {".txt"});
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"README.TXT", "my_readme.txt", "docs/a.txt", "docs/sub/b.txt",
                                                      "docs/subway/d.txt"}));
  prompt_.Clear();
  TypeFilter("zzz", false, false);
  EXPECT_TRUE(prompt_.Saw("NO ITEMS WERE FOUND THAT MATCHED THE PARAMETERS YOU SPECIFIED."));
  EXPECT_TRUE(page_->FilteredShown());
}

TEST_F(FilterPageTest, AllNoneAndDisplayAllCarryTheHighlight) {
  form_->Settings().SelectAllOnLoad = false;
  OpenSample();
  EXPECT_TRUE(page_->UnzipListView->SelectedRows().empty());
  TypeFilter("read", true, false);
  EXPECT_TRUE(page_->UnzipFilteredListView->SelectedRows().empty()) << "SelectAllOnLoad off";
  EXPECT_FALSE(page_->UnzipButton->isEnabled());
  // ALL on the filtered list: exactly the filtered rows and their sources.
  page_->UnzipListView->SelectRow(3);  // docs/a.txt, not in the filter
  page_->SelectAllButtonClick();
  EXPECT_EQ(Highlighted(page_->UnzipFilteredListView), (std::vector<std::string>{"README.TXT", "readme.md"}));
  EXPECT_EQ(Highlighted(page_->UnzipListView), (std::vector<std::string>{"README.TXT", "readme.md"}));
  EXPECT_TRUE(page_->UnzipButton->isEnabled() && page_->SaveUnzipFileButton->isEnabled() && page_->TAGButton->isEnabled());
  page_->UnSelectAllButtonClick();
  EXPECT_TRUE(page_->UnzipListView->SelectedRows().empty());
  EXPECT_TRUE(page_->UnzipFilteredListView->SelectedRows().empty());
  EXPECT_FALSE(page_->UnzipButton->isEnabled() || page_->SaveUnzipFileButton->isEnabled() || page_->TAGButton->isEnabled());
  // Display All carries the filtered highlight back.
  page_->UnzipFilteredListView->SelectRow(1);
  TypeFilter("", false, false, {}, TUnzipFileTypeform::kDisplayAll);
  EXPECT_FALSE(page_->FilteredShown());
  EXPECT_EQ(page_->UnzipFilteredListView->Count(), 0);
  EXPECT_EQ(Highlighted(page_->UnzipListView), (std::vector<std::string>{"readme.md"}));
  EXPECT_TRUE(page_->UnzipButton->isEnabled());
  // ALL on the full list, then None.
  page_->SelectAllButtonClick();
  EXPECT_EQ(page_->UnzipListView->SelectedRows().size(), 8u);
  page_->UnSelectAllButtonClick();
  EXPECT_FALSE(page_->UnzipButton->isEnabled());
}

TEST_F(FilterPageTest, FileTypeWindowRulesAndTypes) {
  OpenSample();
  std::vector<std::string> texts;
  modalAnswer_ = [&](QDialog& d, const char*) {
    auto* f = dynamic_cast<TUnzipFileTypeform*>(&d);
    if (!f) return -1;
    for (int i = 0; i < f->FileTypeList->count(); ++i) texts.push_back(f->FileTypeList->item(i)->text().section(' ', 0, 0).toStdString());
    EXPECT_FALSE(f->OKButton->isEnabled());
    f->FileTypeCheckBox->setChecked(true);
    EXPECT_FALSE(f->OKButton->isEnabled()) << "no type checked";
    f->CheckType(".md");
    EXPECT_TRUE(f->OKButton->isEnabled());
    f->FileTypeCheckBox->setChecked(false);
    EXPECT_FALSE(f->OKButton->isEnabled());
    f->MatchCheckBox->setChecked(true);
    EXPECT_FALSE(f->OKButton->isEnabled()) << "empty pattern";
    f->MatchEdit->setText("x");
    EXPECT_TRUE(f->OKButton->isEnabled());
    f->MatchEdit->clear();
    EXPECT_FALSE(f->OKButton->isEnabled());
    f->MatchCheckBox->setChecked(false);
    f->FileTypeCheckBox->setChecked(true);
    EXPECT_TRUE(f->OKButton->isEnabled());
    return TUnzipFileTypeform::kOk;
  };
  page_->SelectButtonClick();
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{".md", ".txt"}));
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"readme.md", "docs/sub/deep/c.md"}));
}

TEST_F(FilterPageTest, FolderFilterAndExtractionOnDisk) {
  OpenSample();
  // Types of the window, with {Unknown} for Makefile.
  const std::vector<std::string> types = FolderFilter({{"docs/sub", false}});
  EXPECT_EQ(types, (std::vector<std::string>{".md", ".txt", "{Unknown}"}));
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"docs/sub/b.txt"}));
  FolderFilter({{"docs/sub", true}});
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"docs/sub/b.txt", "docs/sub/deep/c.md"})) << "not docs/subway";
  FolderFilter({{"docs", true}}, "{Unknown}");
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"docs/Makefile"}));
  // A row chosen twice is listed twice.
  FolderFilter({{"docs/sub", false}, {"docs/sub", true}});
  EXPECT_EQ(FilteredKeys().size(), 3u);
  prompt_.Clear();
  FolderFilter({{"docs/sub/deep", false}}, ".txt");
  EXPECT_EQ(FilteredKeys(), (std::vector<std::string>{"docs/sub/deep/c.md"}));
  FolderFilter({{"docs/subway", true}}, ".md");
  EXPECT_TRUE(prompt_.Saw("THERE WERE NO FILES THAT MATCHED THE FOLDER CONFIGURATON YOU SELECTED."));
  EXPECT_FALSE(page_->FilteredShown());

  // The filtered highlight is what UNZIP extracts.
  FolderFilter({{"docs/sub", true}});
  page_->UnzipFilteredListView->SelectNone();
  page_->UnzipFilteredListView->SelectRow(1);
  const fs::path dest = work_ / "out";
  fs::create_directories(dest);
  Unzip(dest);
  EXPECT_EQ(testenv::ListTree(dest), (std::vector<std::string>{"docs/", "docs/sub/", "docs/sub/deep/", "docs/sub/deep/c.md"}));
  EXPECT_FALSE(page_->FilteredShown());
}

TEST_F(FilterPageTest, RootOnlyArchiveHasNoFolders) {
  const fs::path zip = work_ / "root.zip";
  MakePythonZip(zip, {{"a.txt", "1"}, {"b", "2"}});
  Open(zip);
  windows_.clear();
  page_->FolderFilterButtonClick();
  EXPECT_TRUE(prompt_.Saw("THERE ARE NO FOLDERS TO DISPLAY IN THIS FILE."));
  EXPECT_TRUE(windows_.empty()) << "the window is not shown";
  EXPECT_FALSE(page_->FilteredShown());
}

}  // namespace

namespace {

// Clicks the middle of a row's first cell.
void ClickRow(TFileListView* list, int row, Qt::KeyboardModifiers mods = {}) {
  const QRect r = list->visualRect(list->model()->index(row, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, r.center());
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST_F(FilterPageTest, MouseClicksOpenHighlightAndSetTheButtons) {
  TRecordingLauncher recorder;
  SetDesktopLauncher(&recorder);
  form_->Settings().SelectAllOnLoad = false;
  OpenSample();
  form_->show();
  page_->UnzipListView->resize(600, 400);
  struct Case {
    int row;
    Qt::KeyboardModifiers mods;
    std::vector<std::string> opened;  // all opened so far
    size_t highlighted;
  } cases[] = {
      {1, {}, {"2"}, 1},                                   // a plain click opens the clicked entry
      {3, Qt::ControlModifier, {"2"}, 2},                  // Ctrl adds to the highlight, opens nothing
      {5, Qt::ShiftModifier, {"2"}, 4},                    // Shift extends it from the last click (3 to 5)
      {1, Qt::ControlModifier, {"2"}, 3},
      {4, {}, {"2", "5"}, 1},
  };
  for (const Case& c : cases) {
    ClickRow(page_->UnzipListView, c.row, c.mods);
    EXPECT_EQ(recorder.Opened(), c.opened) << c.row;
    EXPECT_EQ(page_->UnzipListView->SelectedRows().size(), c.highlighted) << c.row;
    EXPECT_TRUE(page_->UnzipButton->isEnabled() && page_->SaveUnzipFileButton->isEnabled());
  }
  ClickRow(page_->UnzipListView, 4, Qt::ControlModifier);  // the last highlight goes: the buttons follow
  EXPECT_TRUE(page_->UnzipListView->SelectedRows().empty());
  EXPECT_FALSE(page_->UnzipButton->isEnabled() || page_->SaveUnzipFileButton->isEnabled() || page_->TAGButton->isEnabled());

  // On the filtered list a click carries its row across before opening it.
  TypeFilter("read", false, false);
  page_->UnzipFilteredListView->resize(600, 400);
  ClickRow(page_->UnzipFilteredListView, 2);
  EXPECT_EQ(recorder.Opened().back(), "3");
  EXPECT_EQ(Highlighted(page_->UnzipListView), (std::vector<std::string>{"my_readme.txt"}));
  SetDesktopLauncher(nullptr);
}

}  // namespace
