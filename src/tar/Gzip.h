#pragma once
// TGzip: compresses one file into a gzip file, decompresses a gzip file (all members) into one file,
// and reads the stored name, comment and time of a gzip file. Results are numeric codes; with
// WindowOnError the failures are also shown through the prompt service.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "tar/GzipStream.h"

// Optional header fields that Compress writes.
enum THeaderField : unsigned { ghFilename = 1, ghComment = 2 };
using THeader = unsigned;

class TGzip {
 public:
  std::string FileSource = "data.dat";                  // input file
  std::string FileDestination = "data.dat.gz";          // output file
  THeader GzipHeader = ghFilename;                      // fields Compress writes
  std::string Comments = "Compressed by Tandor File";   // comment written with ghComment
  int CompressionLevel = 6;                             // deflate level 0-9
  TCompressionType CompressionType = TCompressionType::Standard;
  bool DeleteSource = false;                            // delete FileSource after success
  bool WindowOnError = true;                            // show failures as message boxes
  int ProgressStep = 0;                                 // least rise in percent between events; 0 = none
  std::function<void(TGzip& sender)> OnProgress;        // called on the thread running the operation

  std::atomic<int> Progress{0};                         // percent last reported
  std::string HeaderFileName;                           // stored name read by ReadHeader
  std::string HeaderComment;                            // comment read by ReadHeader
  uint32_t HeaderTime = 0;                              // stored time (seconds since 1970, 0 = none)
  std::string ErrorText;                                // what went wrong in the last operation

  // Compresses FileSource into FileDestination: 0, 1 source, 2 destination, 101 read, 102 write, 103 close.
  int Compress();
  // Decompresses FileSource into FileDestination: 0, 1 source, 2 destination, 101 read or inflate,
  // 102 write, 103 bad stream (CRC, length, truncated or corrupt data). A failed output is removed.
  int Decompress();
  // Reads the header of FileSource: 0, 1 can't open, 2 not gzip or cut short, 3 unknown method or flags.
  // Codes 2 and 3 mean the calling action ends silently.
  int ReadHeader();
  // The stream mode text of the current settings ("w6 ", "w9h", "w1f").
  std::string ModeText() const;

 private:
  void Report(const std::string& text);
  void StepProgress(uint64_t done, uint64_t total, bool force);
};

// Level and strategy from a mode text ("w9h"): a digit is the level, "f" filtered, "h" Huffman only.
void ParseGzMode(const std::string& mode, int& level, TCompressionType& type);
