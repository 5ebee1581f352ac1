#pragma once
// Tags: the comment of a zip archive, written into an existing archive in one rewrite.
#include <string>

#include "ops/Jobs.h"

// Why a gzip header cannot take a tag: RFC 1952 keeps its comment in ISO-8859-1.
extern const char* const kGzipTagCharset;

struct TCommentParams {
  std::string Archive;   // an existing zip archive (a link: the file it names is rewritten)
  std::string Comment;   // UTF-8; stored in CP437 when CP437 holds it, else as UTF-8
  TFileStamp Expected;   // when taken and the archive differs now, nothing is written
};

// Replaces a zip archive's comment. The archive is copied beside itself with the new end record
// and renamed over the old one: its entries and directory stay byte for byte as they were, and a
// failed run leaves the old archive untouched.
class TSetCommentJob : public TRewriteJob {
 public:
  explicit TSetCommentJob(TCommentParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "comment"; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TCommentParams params_;
};
