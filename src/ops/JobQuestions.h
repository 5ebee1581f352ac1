#pragma once
// The questions a running job may ask, typed. A job asks only through this interface and only on
// its own thread; the default implementation puts each question to the prompt service, which
// carries calls from a worker to the user-interface thread and back. Pages and the command line
// may install their own (their texts, their terminal), and tests answer by script.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Status.h"
#include "ops/FormatRegistry.h"

enum class TOverwriteChoice : uint8_t { Yes, No, YesToAll, NoToAll, Cancel };
enum class TPasswordChoice : uint8_t { Ok, Cancel, CancelAll, Abort };
enum class TSecurityChoice : uint8_t { SkipUnsafe, Halt, Ignore };
enum class TDamagedChoice : uint8_t { Skip, Keep, Stop };

// An existing file that an entry would replace.
struct TOverwriteQuestion {
  TArchiveFormat Format = TArchiveFormat::Unknown;
  std::string EntryName;     // as stored
  std::string DiskPath;      // the file on disk
  uint64_t EntrySize = 0;
  int64_t EntryTime = 0;     // seconds since 1970, 0 when unknown
  uint32_t EntryDosTime = 0; // zip and RAR
  bool EntryIsOlder = false; // the entry is older than the file on disk (when the format says)
};

// An entry whose name the extraction would change to keep it inside the destination.
struct TUnsafeName {
  std::string EntryName;     // as stored
  std::string CleanedName;   // what would be written; empty when nothing is left
};

class IJobQuestions {
 public:
  virtual ~IJobQuestions() = default;
  // Replace an existing file? YesToAll and NoToAll hold for the rest of the run.
  virtual TOverwriteChoice AskOverwrite(const TOverwriteQuestion& question) = 0;
  // The password for an encrypted entry (`entryName`); Ok with `password` filled to go on,
  // Cancel to skip the entry, CancelAll to skip every encrypted entry, Abort to stop the run.
  virtual TPasswordChoice AskPassword(const std::string& entryName, std::string& password) = 0;
  // Entries whose names cleaning changes: skip them, halt before anything is written, or extract
  // them under their cleaned names.
  virtual TSecurityChoice AskSecurity(const std::vector<TUnsafeName>& names) = 0;
  // A damaged entry (CRC or length error): skip it (no file left), keep what was written, or stop.
  virtual TDamagedChoice AskDamaged(const std::string& entryName, const TStatus& why) = 0;
};

// The default questions, through the prompt service (Prompt()). Damaged entries are skipped
// without a question unless AskOnDamage is set: the component's own message already tells.
class TPromptQuestions : public IJobQuestions {
 public:
  bool AskOnDamage = false;

  TOverwriteChoice AskOverwrite(const TOverwriteQuestion& question) override;
  TPasswordChoice AskPassword(const std::string& entryName, std::string& password) override;
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>& names) override;
  TDamagedChoice AskDamaged(const std::string& entryName, const TStatus& why) override;
};

// The answers of an unattended run (the batch create queue): nothing is replaced, no password is
// guessed, unsafe names halt the run and a damaged entry stops it. No question reaches a window.
class TUnattendedQuestions : public IJobQuestions {
 public:
  TOverwriteChoice AskOverwrite(const TOverwriteQuestion&) override { return TOverwriteChoice::NoToAll; }
  TPasswordChoice AskPassword(const std::string&, std::string&) override { return TPasswordChoice::Abort; }
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override { return TSecurityChoice::Halt; }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Stop; }
};
