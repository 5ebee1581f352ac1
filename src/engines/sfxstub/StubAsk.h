#pragma once
// How the extractor talks to its user: on the terminal it was started from, through zenity or
// kdialog on a desktop without a terminal, or not at all (every question gets its default answer
// and what happened is written to standard error).
#include <memory>
#include <string>
#include <vector>

namespace sfxstub {

enum class TButtons { Ok, OkCancel, YesNo };
enum class TReplace { Yes, No, YesToAll, NoToAll };
enum class TMode { Confirm, Always, Never };

class IAsk {
 public:
  virtual ~IAsk() = default;
  // False when nobody can be asked: every question returns its default.
  virtual bool Interactive() const = 0;
  // A message; true for OK or Yes.
  virtual bool Message(const std::string& text, TButtons buttons) = 0;
  virtual void Error(const std::string& text) = 0;
  // The folder to extract into, `proposed` first; empty when cancelled.
  virtual std::string Folder(const std::string& proposed) = 0;
  virtual TMode OverwriteMode(TMode proposed) = 0;
  // Which of `names` to extract (indexes); false when cancelled.
  virtual bool Choose(const std::vector<std::string>& names, std::vector<size_t>& chosen) = 0;
  virtual TReplace Replace(const std::string& name) = 0;
  // The password for an encrypted entry; empty when none is given.
  virtual std::string Password(const std::string& name) = 0;
  // A line of progress ("extracting: name"), shown where it does not slow the run.
  virtual void Note(const std::string& text) = 0;
};

// The front end for this run: `quiet` asks nothing; otherwise a terminal on standard input, else a
// dialog program when a desktop is there, else none.
std::unique_ptr<IAsk> MakeAsk(const std::string& caption, bool quiet);

// Parses "1-3,7" or "all" (empty = all) against `count` entries into 0-based indexes.
bool ParseChoice(const std::string& text, size_t count, std::vector<size_t>& chosen);

}  // namespace sfxstub
