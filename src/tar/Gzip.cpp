#include "tar/Gzip.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/Prompt.h"
#include "core/TextUtil.h"

namespace {

constexpr size_t kChunk = 256 << 10;

}  // namespace

void ParseGzMode(const std::string& mode, int& level, TCompressionType& type) {
  for (char c : mode) {
    if (c >= '0' && c <= '9') level = c - '0';
    else if (c == 'f') type = TCompressionType::Filtered;
    else if (c == 'h') type = TCompressionType::HuffmanOnly;
  }
}

std::string TGzip::ModeText() const {
  std::string m = "w";
  m += std::to_string(CompressionLevel).substr(0, 1);
  m += CompressionType == TCompressionType::Filtered      ? 'f'
       : CompressionType == TCompressionType::HuffmanOnly ? 'h'
                                                          : ' ';
  return m;
}

void TGzip::Report(const std::string& text) {
  if (ErrorText.empty()) ErrorText = text;
  if (WindowOnError) Prompt().ShowMessage("Error", text, TPromptIcon::Error, TPromptButtons::Ok);
}

void TGzip::StepProgress(uint64_t done, uint64_t total, bool force) {
  if (ProgressStep == 0) return;
  int percent = total == 0 ? 100 : static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
  percent = std::min(percent, 100);
  if (force || percent >= Progress + ProgressStep || done == total) {
    if (!force && percent == Progress && done == total && percent == 100) return;  // 100 reported once
    Progress = percent;
    if (OnProgress) OnProgress(*this);
  }
}

int TGzip::Compress() {
  Progress = 0;
  ErrorText.clear();
  std::unique_ptr<TFileInput> in;
  try {
    in = std::make_unique<TFileInput>(FileSource);
  } catch (const ETarError&) {
    Report("Can't open: " + FileSource);
    return 1;
  }
  TGzWriteOptions opt;
  ParseGzMode(ModeText(), opt.Level, opt.Strategy);
  opt.Header.HasName = GzipHeader & ghFilename;
  opt.Header.HasComment = GzipHeader & ghComment;
  opt.Header.Name = ExtractFileName(FileSource);
  opt.Header.Comment = Comments;
  struct stat st {};
  if (::fstat(in->Handle(), &st) == 0 && st.st_mtime > 0) opt.Header.MTime = static_cast<uint32_t>(st.st_mtime);
  std::unique_ptr<TGzWriter> gz;
  try {
    gz = std::make_unique<TGzWriter>(new TAsyncFileOutput(FileDestination), true, opt);
  } catch (const ETarError&) {
    Report("Can't open: " + FileDestination);
    return 2;
  }
  StepProgress(0, 1, true);
  const uint64_t total = in->Size() > 0 ? static_cast<uint64_t>(in->Size()) : 0;
  uint64_t done = 0;
  int loop = 0;
  std::vector<char> buf(kChunk);
  for (;;) {
    size_t got;
    try {
      got = in->Read(buf.data(), buf.size());
    } catch (const ETarError& e) {
      ErrorText = e.what();
      loop = 1;
      break;
    }
    if (got == 0) break;
    try {
      gz->Write(buf.data(), got);
    } catch (const ETarError& e) {
      ErrorText = e.what();
      loop = 2;
      break;
    }
    done += got;
    StepProgress(done, std::max(total, done), false);
  }
  in.reset();
  if (loop == 0) {
    try {
      gz->Close();
    } catch (const ETarError& e) {
      ErrorText = e.what();
      loop = 3;
    }
  }
  gz.reset();
  if (loop != 0) {
    ::unlink(FileDestination.c_str());  // no half-written gzip file is left behind
    return 100 + loop;
  }
  if (DeleteSource) ::unlink(FileSource.c_str());
  return 0;
}

int TGzip::Decompress() {
  ErrorText.clear();
  std::unique_ptr<TGzReader> in;
  try {
    in = std::make_unique<TGzReader>(FileSource);
    in->CrcOnReader = true;
  } catch (const ETarError&) {
    Report("Can't open: " + FileSource);
    return 1;
  }
  const uint64_t total = in->SourceSize() > 0 ? static_cast<uint64_t>(in->SourceSize()) : 0;
  std::unique_ptr<TFileOutput> out;
  try {
    out = std::make_unique<TFileOutput>(FileDestination);
  } catch (const ETarError&) {
    Report("Can't create: " + FileDestination);
    return 2;
  }
  out->SetSparse();
  Progress = 0;
  StepProgress(0, 1, true);
  int loop = 0;
  for (;;) {
    // The reader's thread inflates into its ring of buffers; this thread writes them out.
    const char* place = nullptr;
    size_t got;
    try {
      got = in->Next(place, SIZE_MAX);
    } catch (const ETarError& e) {
      ErrorText = e.what();
      loop = in->Error() == TGzReadError::Io ? 1 : 3;
      break;
    }
    if (got == 0) break;
    try {
      out->Write(place, got);
    } catch (const ETarError& e) {
      ErrorText = e.what();
      loop = 2;
      break;
    }
    StepProgress(static_cast<uint64_t>(in->SourcePosition()), std::max<uint64_t>(total, 1), false);
  }
  if (loop == 3) Report("gzclose Error.");
  if (loop == 0) {
    try {
      out->Close();
    } catch (const ETarError& e) {
      ErrorText = e.what();
      Report("Can't close file " + FileDestination);
      loop = 2;
    }
  }
  out.reset();
  in.reset();
  if (loop != 0) {
    ::unlink(FileDestination.c_str());  // a failed output is never left looking complete
    return 100 + loop;
  }
  StepProgress(total, total, false);
  if (DeleteSource) ::unlink(FileSource.c_str());
  return 0;
}

int TGzip::ReadHeader() {
  HeaderFileName.clear();
  HeaderComment.clear();
  HeaderTime = 0;
  ErrorText.clear();
  FILE* f = std::fopen(FileSource.c_str(), "rb");
  if (!f) {
    Report("Can't open: " + FileSource);
    return 1;
  }
  std::vector<unsigned char> buf(64 << 10);
  size_t have = std::fread(buf.data(), 1, buf.size(), f);
  TGzHeaderInfo info;
  long r;
  for (;;) {
    r = ParseGzHeader(buf.data(), have, &info);
    if (r != 0 || have < buf.size() || buf.size() >= (16u << 20)) break;
    buf.resize(buf.size() * 2);  // a long name or comment: read further
    have += std::fread(buf.data() + have, 1, buf.size() - have, f);
  }
  std::fclose(f);
  if (r == -2) {
    ErrorText = FileSource + ": unknown compression method or flags";
    return 3;
  }
  if (r <= 0) {
    ErrorText = FileSource + ": not a gzip file or its header is cut short";
    return 2;
  }
  HeaderFileName = info.Name;
  HeaderComment = info.Comment;
  HeaderTime = info.MTime;
  return 0;
}
