#include "core/Status.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

const char* StatusCodeName(TStatusCode code) {
  switch (code) {
    case TStatusCode::Ok: return "ok";
    case TStatusCode::Warning: return "warning";
    case TStatusCode::Cancelled: return "cancelled";
    case TStatusCode::NotFound: return "not found";
    case TStatusCode::Unreadable: return "unreadable";
    case TStatusCode::Damaged: return "damaged";
    case TStatusCode::Unsupported: return "unsupported";
    case TStatusCode::Unsafe: return "unsafe";
    case TStatusCode::NoSpace: return "no space left";
    case TStatusCode::WrongPassword: return "wrong password";
    case TStatusCode::WriteFailed: return "write failed";
    case TStatusCode::Failed: return "failed";
  }
  return "failed";
}

TStatusCode TStatus::CodeForErrno(int err, TStatusCode fallback) {
  switch (err) {
    case 0: return TStatusCode::Ok;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return TStatusCode::NoSpace;
    case ENOENT:
    case ENOTDIR: return TStatusCode::NotFound;
    case ECANCELED: return TStatusCode::Cancelled;
    default: return fallback;
  }
}

TStatus TStatus::FromErrno(int err, const std::string& what, TStatusCode fallback) {
  const TStatusCode code = CodeForErrno(err, fallback);
  std::string text = what;
  if (err != 0) {
    char buf[256];
    // The GNU strerror_r returns its text; the XSI one fills the buffer.
    auto r = strerror_r(err, buf, sizeof buf);
    if constexpr (std::is_same_v<decltype(r), char*>) {
      text += (text.empty() ? "" : ": ") + std::string(r);
    } else {
      text += (text.empty() ? "" : ": ") + std::string(r == 0 ? buf : "error " + std::to_string(err));
    }
  }
  return {code == TStatusCode::Ok ? fallback : code, text};
}

std::string TStatus::Text() const { return message_.empty() ? std::string(StatusCodeName(code_)) : message_; }

int TStatus::Severity(TStatusCode code) {
  switch (code) {
    case TStatusCode::Ok: return 0;
    case TStatusCode::Warning: return 1;
    case TStatusCode::Cancelled: return 2;
    default: return 3;
  }
}

void TStatus::Merge(const TStatus& other) {
  if (Severity(other.code_) > Severity(code_)) *this = other;
}
