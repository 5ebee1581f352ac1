#pragma once
// The shared file-type icon lists. Icons 0 to 3 are fixed (0 the Path column's folder, 1 a file
// without an icon, 2 a program, 3 an archive); entry i of IconExtensionCache describes icon i + 4.
#include <QIcon>
#include <string>
#include <vector>

class TIconLists {
 public:
  TIconLists();

  // The icon index for a file name, looking each extension up once.
  int FindFilesIcon(const std::string& name);
  QIcon Icon(int index) const;
  int Count() const { return static_cast<int>(icons_.size()); }
  // Drops every looked-up icon (the fixed four stay).
  void ClearCache();

  std::vector<std::string> IconExtensionCache;
  int Lookups = 0;  // desktop look-ups made, for tests

 private:
  std::vector<QIcon> icons_;
};
