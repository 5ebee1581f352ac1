#pragma once
// What the window looked like when it was last closed (its size and place, the lists' column widths):
// named byte blocks in a small file beside the settings, read at start and written whole under a
// temporary name when the window closes. A missing or damaged file leaves the defaults.
#include <QByteArray>
#include <QString>
#include <map>
#include <string>

class TWindowState {
 public:
  explicit TWindowState(std::string path) : path_(std::move(path)) {}

  // Reads the file; false when it is missing or unreadable (nothing is known then).
  bool Load();
  // Writes every value; false when the file could not be written (the old one stays).
  bool Save() const;

  // Empty when nothing is stored under `key`.
  QByteArray Value(const QString& key) const;
  // `key` is letters, digits, '.' and '_'.
  void SetValue(const QString& key, const QByteArray& value) { values_[key] = value; }

 private:
  std::string path_;
  std::map<QString, QByteArray> values_;
};
