#pragma once
// One adapter per archive format over the component that handles it (TZipKit, TRarKit, the tar
// classes, TGzip), behind one interface. An adapter owns its component instance and translates
// the component's result codes and events into TStatus, entry records and the job context's
// questions and progress, once. What a format cannot do its capability flags say; the calls then
// return Unsupported.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Status.h"
#include "ops/ArchiveEntry.h"
#include "ops/FormatRegistry.h"
#include "ops/JobContext.h"
#include "ops/JobParams.h"

enum TAdapterCapability : uint32_t {
  capList = 1 << 0,
  capTest = 1 << 1,
  capExtract = 1 << 2,
  capSelect = 1 << 3,        // extract or test a chosen set of entries
  capCreate = 1 << 4,
  capAdd = 1 << 5,           // add to (and replace entries of) an existing archive
  capDelete = 1 << 6,
  capReadComment = 1 << 7,
  capWriteComment = 1 << 8,  // change the comment of an existing archive
  capEncrypt = 1 << 9,       // encrypted entries can be written
};

using TEntryCallback = std::function<void(const TArchiveEntry& entry)>;

class IArchiveAdapter {
 public:
  virtual ~IArchiveAdapter() = default;

  virtual TArchiveFormat Format() const = 0;
  virtual uint32_t Capabilities() const = 0;
  bool Can(uint32_t capability) const { return (Capabilities() & capability) == capability; }

  // Opens an existing archive and reads what listing needs (directory, first header). Every call
  // below but Create works on the archive opened here.
  virtual TStatus Open(const std::string& path, TJobContext& ctx) = 0;
  // The number of entries List will report when known after Open (zip), else -1.
  virtual int64_t EntryCountHint() const { return -1; }
  // Calls `onEntry` for every entry in archive order (one record, reused).
  virtual TStatus List(TJobContext& ctx, const TEntryCallback& onEntry) = 0;
  // Reads and checks the selected entries; writes nothing anywhere.
  virtual TStatus Test(TJobContext& ctx, const TTestParams& params) = 0;
  // Extracts the selected entries into params.Destination.
  virtual TStatus Extract(TJobContext& ctx, const TExtractParams& params) = 0;
  // Makes a new archive at `path` (a temporary name: the job renames it).
  virtual TStatus Create(TJobContext& ctx, const std::string& path, const TCreateParams& params);
  // The file a Create made when it is not the path it was given (the last part of a multi-disk set);
  // empty otherwise.
  virtual std::string CreatedPath() const { return {}; }
  // Adds files to the open archive; entries of the same stored name are replaced in the same rewrite.
  virtual TStatus Add(TJobContext& ctx, const TUpdateParams& params);
  virtual TStatus Delete(TJobContext& ctx, const TSelection& selection);
  virtual TStatus Comment(std::string& text);
  virtual TStatus SetComment(TJobContext& ctx, const std::string& text);

 protected:
  TStatus NotSupported(const char* what) const;
};

// The adapter of a format; null for Unknown.
std::unique_ptr<IArchiveAdapter> MakeArchiveAdapter(TArchiveFormat format);
