#pragma once
// The outcome of an output step: what went wrong (if anything), the system's errno when it was the
// system, and a short reason for messages (the caller names the entry).
#include <string>

namespace safeout {

enum class TFault {
  None,
  Refused,         // unsafe input: the name or link would lead outside the destination
  Exists,          // something is at the name and replacing was not allowed
  FolderInTheWay,  // a folder is at the name of a file or link
  NoSpace,         // the file system is full or the entries would not fit
  System,          // any other failure of the system; `err` tells which
};

struct TResult {
  TFault fault = TFault::None;
  int err = 0;       // errno (positive) for TFault::System and where the system said why
  std::string text;  // why, in a few words ("a link on the way leads outside the destination")

  bool Ok() const { return fault == TFault::None; }
  explicit operator bool() const { return Ok(); }

  static TResult Success() { return {}; }
  static TResult Fail(TFault fault, std::string text, int err = 0) { return {fault, err, std::move(text)}; }
  // A system failure: `what` ("cannot create folder a/b") followed by the errno text.
  static TResult FromErrno(int err, const std::string& what);
};

}  // namespace safeout
