#pragma once
// TStatus: the one status type inside the program, a code from a small set plus a message for the
// user. Components keep their own numeric result codes at their surface; the layer above them
// translates those once into a TStatus.
#include <cstdint>
#include <string>

enum class TStatusCode : uint8_t {
  Ok,
  Warning,        // done, but something was skipped, renamed or is worth saying
  Cancelled,      // stopped by the user or the caller
  NotFound,       // the archive or a named file is not there
  Unreadable,     // a file or the archive could not be read
  Damaged,        // broken structure, CRC or length error, truncated data
  Unsupported,    // a format, method or operation this program does not handle
  Unsafe,         // refused because it would write outside the destination (or the like)
  NoSpace,        // the file system is full
  WrongPassword,  // no password, or not the right one
  WriteFailed,    // a file, folder or archive could not be written
  Failed,         // any other failure
};

// The code's name in English ("no space", "damaged", ...).
const char* StatusCodeName(TStatusCode code);

class TStatus {
 public:
  TStatus() = default;  // Ok
  TStatus(TStatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static TStatus Ok() { return {}; }
  static TStatus Warning(std::string message) { return {TStatusCode::Warning, std::move(message)}; }
  static TStatus Cancelled(std::string message = "Cancelled") { return {TStatusCode::Cancelled, std::move(message)}; }
  // A failure from an errno value: "what: system text", with the code the value calls for (ENOSPC is
  // NoSpace, ENOENT NotFound, ...) and `fallback` for the others.
  static TStatus FromErrno(int err, const std::string& what, TStatusCode fallback = TStatusCode::Failed);
  // The code an errno value calls for; `fallback` when none in particular.
  static TStatusCode CodeForErrno(int err, TStatusCode fallback);

  TStatusCode Code() const { return code_; }
  const std::string& Message() const { return message_; }
  // The message, or the code's name when there is none.
  std::string Text() const;

  bool IsOk() const { return code_ == TStatusCode::Ok; }
  // Ok or Warning: the work was done.
  bool Succeeded() const { return code_ == TStatusCode::Ok || code_ == TStatusCode::Warning; }
  bool Failed() const { return !Succeeded(); }
  bool IsCancelled() const { return code_ == TStatusCode::Cancelled; }

  // Keeps the more serious of the two (failure over cancel over warning over ok); on a tie the
  // first one stays.
  void Merge(const TStatus& other);
  // 0 ok, 1 warning, 2 cancelled, 3 failure.
  static int Severity(TStatusCode code);

  bool operator==(const TStatus&) const = default;

 private:
  TStatusCode code_ = TStatusCode::Ok;
  std::string message_;
};
