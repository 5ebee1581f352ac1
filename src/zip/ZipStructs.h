#pragma once
// Binary interface between TZipKit and the two zip engines (libzipeng.so: add and delete;
// libunzeng.so: extract and test). Both sides include this header; nothing else is shared.
//
// Layout rules: fields in fixed order, natural alignment, every padding spelt out as a named
// reserved field (always 0), pointer and handle fields pointer-sized. The static_asserts below pin
// the x86-64 / AArch64 (LP64) layout; change this header only by appending meaning to reserved
// bytes, never by moving a field.
//
// Conventions:
//   - Records are zero-filled by the caller before use; reserved fields stay 0.
//   - "flag" fields hold kFlagTrue (-1) or kFlagFalse (0).
//   - Strings are zero-terminated UTF-8 buffers owned by the caller (TZipKit) and freed after the
//     call; an engine must not keep a pointer past its return. Paths use "/".
//   - The last field of each parameter record is the check value kParamsCheckValue (7), written just
//     before the call; an engine refuses a record without it.
#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define TANDOR_ENGINE_EXPORT __attribute__((visibility("default")))
#else
#define TANDOR_ENGINE_EXPORT
#endif

// ---------------------------------------------------------------------------------------------
// Common values

constexpr int32_t kFlagTrue = -1;
constexpr int32_t kFlagFalse = 0;
constexpr int32_t kParamsCheckValue = 7;

// Versions are integers: 170 = 1.70. 0 = unusable engine. Engines below 170 are refused.
constexpr int32_t kMinEngineVersion = 170;

// Longest password handed to an engine in a parameter record (characters, terminator not counted).
constexpr int kMaxParamPasswordLen = 81;
// Longest password an answer to a password callback writes into CallbackRecord::Text.
constexpr int kMaxCallbackPasswordLen = 80;
// Size of CallbackRecord::Text in bytes (terminator included).
constexpr int kCallbackTextSize = 512;
// Answer to a file-comment callback: at most this many bytes of comment are written.
constexpr int kMaxCallbackCommentLen = 511;
// A file-comment callback's one-character initial comment sits at this index of Text.
constexpr int kCallbackInitialCommentIndex = 256;

// ZipFileSpec::Encrypt value for a line that carries its own password.
constexpr int32_t kSpecOwnPassword = 65535;

// ZipParams::CodePage value when names are to be stored as OEM (CP437).
constexpr int16_t kCodePageOem = 2;

// Return values of the callback.
constexpr int32_t kCallbackContinue = 0;
constexpr int32_t kCallbackStop = -1;

// ---------------------------------------------------------------------------------------------
// Callback action codes (CallbackRecord::ActionCode). Value1 / Value2 meanings per code:
enum : int32_t {
  kActionNone = 0,        // written by TZipKit into ActionCode to answer a password request with "cancel all"
  kActionNewFile = 1,     // a file starts: Text = name, Value2 = its size in bytes
  kActionProgress = 2,    // Value2 = bytes just processed
  kActionEndBatch = 3,    // the operation ended
  kActionMessage = 4,     // Value1 = engine error code (0 = informational), Text = message
  kActionTotalFiles = 5,  // Value2 = number of files to process
  kActionTotalSize = 6,   // Value2 = bytes to process
  kActionNewName = 7,     // Text = name; answer: Text = new name, Value1 = 1 (changed) or 0
  kActionPassword = 8,    // Value1 bit 0 = a new password is wanted (zip engine), Value2 = repeat count;
                          // answer: Text = password, Value1 = 1 (given) or 0, Value2 = repeat count (max 15),
                          // ActionCode = kActionNone for "cancel all"
  kActionCrcError = 9,    // Text = file, Value1 = CRC found, Value2 = CRC expected (both as uint32);
                          // answer: Value1 = 1 extract anyway, 0 skip, 2 no handler
  kActionOverwrite = 10,  // Text = file, Value1 bit 16 = archive copy is older, bits 0-15 = directory index,
                          // Value2 low byte = proposed answer; answer: Value2 = 1 overwrite, 0 skip
  kActionSkipped = 11,    // Text = file, Value1 = error code (0 = none), Value2 low byte = skip reason + 1
  kActionFileComment = 12,// Text = file; answer: Text = comment (or ""), Value1 = 1 changed / 0, Value2 = length
  kActionStreamSize = 13, // in-memory operations only; never sent by this program's engines
};
constexpr int kActionCodeCount = 13;

// Bits of CallbackRecord::Value1 for kActionPassword and kActionOverwrite.
constexpr int32_t kPasswordWantNew = 0x1;
constexpr int32_t kOverwriteIsOlder = 0x10000;
constexpr int32_t kOverwriteDirIndexMask = 0xFFFF;
// Highest repeat count a password answer hands back.
constexpr uint32_t kMaxPasswordRepeat = 15;

// ---------------------------------------------------------------------------------------------
// Option sets of TZipKit (bit positions). The engines never see these sets; they receive the
// decoded flags of ZipParams / UnzipParams.

enum AddOptsEnum : int {
  AddDirNames = 0,        // store folder names (clear: strip paths)
  AddRecurseDirs = 1,     // recurse into sub-folders
  AddMove = 2,            // delete source files after adding
  AddFreshen = 3,         // replace only existing entries with newer files
  AddUpdate = 4,          // add new and replace with newer; wins over AddFreshen
  AddZipTime = 5,         // archive gets the time of its newest entry
  AddForceDOS = 6,        // store 8.3 names
  AddHiddenFiles = 7,     // include hidden (dot) files
  AddArchiveOnly = 8,     // only files with the archive attribute
  AddResetArchive = 9,    // clear the archive attribute after adding
  AddEncrypt = 10,        // encrypt with the password
  AddSeparateDirs = 11,   // store separate folder entries
  AddVolume = 12,         // store the volume label
  AddFromDate = 13,       // only files dated on or after AddFrom
  AddDiskSpan = 14,       // write a multi-disk set
  AddDiskSpanErase = 15,  // as AddDiskSpan, erasing each disk first
};

enum ExtrOptsEnum : int {
  ExtrDirNames = 0,   // recreate stored folders
  ExtrOverWrite = 1,  // overwrite existing files
  ExtrFreshen = 2,    // only files that exist on disk and are older
  ExtrUpdate = 3,     // new files and newer versions; wins over ExtrFreshen
  ExtrTest = 4,       // test instead of writing
};

enum AddStoreSuffixEnum : int {
  assGIF = 0, assPNG, assZ, assZIP, assZOO, assARC, assLZH, assARJ, assTAZ,
  assTGZ, assLHA, assRAR, assACE, assCAB, assGZ, assGZIP, assJAR, assEXE,
};
constexpr int kStoreSuffixCount = 18;

// ---------------------------------------------------------------------------------------------
// Records

struct CallbackRecord;

// The callback TZipKit hands to the engines. Returns kCallbackContinue or kCallbackStop.
typedef int32_t (*ZipCallbackFn)(CallbackRecord* record);

// One file specification of an add or delete (one line of FSpecArgs).
struct ZipFileSpec {
  const char* FileSpec;    // specification text (marker and password part removed; for delete the whole line)
  uint8_t Reserved1[8];    // 0
  const char* Password;    // password of this line, or null
  int32_t Encrypt;         // the ZipParams encrypt flag; kSpecOwnPassword when the line has its own password; 0 for a line ending in "<"
  int16_t Recurse;         // the ZipParams recurse flag; -1 for a line starting ">", 0 for a line starting "|"
  uint8_t Reserved2[14];   // 0
  uint8_t Pad1[4];         // alignment, 0
  const char* RootDir;     // full path of the base folder relative names are taken from, or null
  uint8_t Reserved3[64];   // 0
};

// Parameters of ZipEngExec (add or delete).
struct ZipParams {
  void* Handle;                // window handle for the engine's own dialogs; null when unattended (engines here show none)
  void* Caller;                // the calling TZipKit; handed back in every CallbackRecord::Caller
  int32_t Version;             // version of the loaded zip engine
  uint8_t Pad1[4];             // alignment, 0
  ZipCallbackFn Callback;      // callback for progress, messages and questions
  int32_t Trace;               // flag: trace messages wanted
  uint8_t Pad2[4];             // alignment, 0
  const char* Password;        // password (at most kMaxParamPasswordLen characters), or null when none
  const char* StoreSuffixes;   // extensions stored without compression, ".gif:.png:.z" form, or null
  int32_t Encrypt;             // flag: encrypt added files (0 for delete)
  int32_t HiddenFiles;         // flag: include hidden files
  int32_t Volume;              // flag: store the volume label
  int32_t Reserved40;          // 0
  int32_t NoDirEntries;        // flag: no separate folder entries
  int32_t UseDate;             // flag: only files dated on or after Date
  int32_t Verbose;             // flag: informational messages wanted
  int32_t Quiet;               // always -1
  int32_t Level;               // compression level 0..9
  int32_t Reserved64;          // 0
  int32_t Reserved68;          // 0
  int32_t JunkDirNames;        // flag: strip paths (0 for delete)
  int16_t Recurse;             // flag (16-bit): recurse into sub-folders (0 for delete)
  int16_t Reserved78;          // 0
  int32_t AddFlag;             // flag: add operation (-1 add, 0 delete)
  int32_t ForceDos;            // flag: store 8.3 names
  int32_t Move;                // flag: delete sources after adding (0 for delete)
  int32_t DeleteFlag;          // flag: delete operation (-1 delete, 0 add)
  int32_t Update;              // flag: add new, replace newer (0 for delete)
  int32_t Freshen;             // flag: replace existing with newer; 0 when Update is set (0 for delete)
  int32_t Reserved104;         // 0
  int32_t LatestTime;          // flag: archive gets the time of its newest entry
  char Date[8];                // cut-off date "mm dd yy" (8 characters, no terminator)
  int32_t SpecCount;           // number of ZipFileSpec records at FileSpecs
  const char* ZipFileName;     // archive path (for a spanned add: the temporary archive)
  const char* TempDir;         // folder for temporary files, or null
  const char* ArchiveComment;  // archive comment as last read, or null when empty
  int16_t ArchiveOnly;         // 1: only files with the archive attribute
  int16_t ResetArchive;        // 1: clear the archive attribute of added files
  uint8_t Pad4[4];             // alignment, 0
  ZipFileSpec* FileSpecs;      // array of SpecCount records
  int32_t Reserved144;         // 0
  int32_t ExclCount;           // number of exclusion specifications at ExclSpecs
  const char* const* ExclSpecs;// array of ExclCount specification strings, or null
  // In-memory operation fields: always 0 from this program.
  int32_t UseOutStream;        // 0
  uint8_t Pad5[4];             // alignment, 0
  void* OutStream;             // null
  int64_t OutStreamSize;       // 0 (bytes)
  int32_t UseInStream;         // 0
  uint8_t Pad6[4];             // alignment, 0
  void* InStream;              // null
  int64_t InStreamSize;        // 0 (bytes)
  uint32_t StrFileAttr;        // 0
  uint32_t StrFileDate;        // 0
  int32_t AllowUndoDelete;     // flag: files the engine deletes go to the trash
  int16_t CodePage;            // kCodePageOem: store names as OEM (CP437); 0: default
  uint8_t Reserved194[18];     // 0
  int32_t CheckValue;          // kParamsCheckValue
  uint8_t Pad7[4];             // alignment, 0
};

// One file specification of an extract or test.
struct UnzipFileSpec {
  const char* FileSpec;    // entry name or wildcard pattern
  uint8_t Reserved[72];    // 0
};

// Parameters of UnzEngExec (extract or test).
struct UnzipParams {
  void* Handle;                // window handle (as in ZipParams)
  void* Caller;                // the calling TZipKit
  int32_t Version;             // version of the loaded unzip engine
  uint8_t Pad1[4];             // alignment, 0
  ZipCallbackFn Callback;      // callback for progress, messages and questions
  int32_t Trace;               // flag: trace messages wanted
  int32_t Reserved20;          // 0
  const char* Password;        // password, always present, possibly "" (at most kMaxParamPasswordLen characters)
  int32_t Test;                // flag: test entries instead of writing them
  int32_t Reserved32;          // 0
  int32_t Reserved36;          // 0
  int32_t Quiet;               // always -1
  int32_t Verbose;             // flag: informational messages wanted
  int32_t Update;              // flag: new files and newer versions
  int32_t Freshen;             // flag: only existing older files; 0 when Update is set
  int32_t DirNames;            // flag: recreate stored folders
  int32_t Overwrite;           // flag: overwrite existing files
  int32_t SpecCount;           // number of UnzipFileSpec records; 0 = all entries
  const char* ZipFileName;     // archive path (for a spanned archive: the temporary single-file copy)
  UnzipFileSpec* FileSpecs;    // array of SpecCount records, or null
  int32_t Reserved76;          // 0
  // In-memory operation fields: always 0 from this program.
  int32_t UseOutStream;        // 0
  void* OutStream;             // null
  int64_t OutStreamSize;       // 0 (bytes)
  int32_t UseInStream;         // 0
  uint8_t Pad2[4];             // alignment, 0
  void* InStream;              // null
  int64_t InStreamSize;        // 0 (bytes)
  int32_t PasswordReqCount;    // how often the engine may ask for a password per file (0..15)
  uint8_t Pad3[4];             // alignment, 0
  const char* ExtractDir;      // destination folder, or null (current folder)
  uint8_t Reserved112[32];     // 0
  int32_t CheckValue;          // kParamsCheckValue
  uint8_t Pad4[4];             // alignment, 0
};

// Filled by an engine for every callback; TZipKit reads it and writes its answers into it.
struct CallbackRecord {
  void* Handle;             // not read
  void* Caller;             // ZipParams::Caller / UnzipParams::Caller of the running call
  int32_t Version;          // not read
  int32_t IsZipOperation;   // non-zero when the zip engine calls
  int32_t ActionCode;       // kAction... code; TZipKit writes kActionNone to answer "cancel all"
  int32_t Value1;           // first value: error code, flags, CRC or result (see action codes)
  int64_t Value2;           // second value: size in bytes, count, repeat count or result
  char Text[kCallbackTextSize];  // file name or message, zero-terminated; answers are written here
};

// ---------------------------------------------------------------------------------------------
// Layout checks (LP64)

static_assert(sizeof(void*) == 8, "the engine records are laid out for 64-bit targets");

static_assert(offsetof(ZipFileSpec, FileSpec) == 0);
static_assert(offsetof(ZipFileSpec, Reserved1) == 8);
static_assert(offsetof(ZipFileSpec, Password) == 16);
static_assert(offsetof(ZipFileSpec, Encrypt) == 24);
static_assert(offsetof(ZipFileSpec, Recurse) == 28);
static_assert(offsetof(ZipFileSpec, Reserved2) == 30);
static_assert(offsetof(ZipFileSpec, Pad1) == 44);
static_assert(offsetof(ZipFileSpec, RootDir) == 48);
static_assert(offsetof(ZipFileSpec, Reserved3) == 56);
static_assert(sizeof(ZipFileSpec) == 120);

static_assert(offsetof(ZipParams, Handle) == 0);
static_assert(offsetof(ZipParams, Caller) == 8);
static_assert(offsetof(ZipParams, Version) == 16);
static_assert(offsetof(ZipParams, Pad1) == 20);
static_assert(offsetof(ZipParams, Callback) == 24);
static_assert(offsetof(ZipParams, Trace) == 32);
static_assert(offsetof(ZipParams, Pad2) == 36);
static_assert(offsetof(ZipParams, Password) == 40);
static_assert(offsetof(ZipParams, StoreSuffixes) == 48);
static_assert(offsetof(ZipParams, Encrypt) == 56);
static_assert(offsetof(ZipParams, HiddenFiles) == 60);
static_assert(offsetof(ZipParams, Volume) == 64);
static_assert(offsetof(ZipParams, Reserved40) == 68);
static_assert(offsetof(ZipParams, NoDirEntries) == 72);
static_assert(offsetof(ZipParams, UseDate) == 76);
static_assert(offsetof(ZipParams, Verbose) == 80);
static_assert(offsetof(ZipParams, Quiet) == 84);
static_assert(offsetof(ZipParams, Level) == 88);
static_assert(offsetof(ZipParams, Reserved64) == 92);
static_assert(offsetof(ZipParams, Reserved68) == 96);
static_assert(offsetof(ZipParams, JunkDirNames) == 100);
static_assert(offsetof(ZipParams, Recurse) == 104);
static_assert(offsetof(ZipParams, Reserved78) == 106);
static_assert(offsetof(ZipParams, AddFlag) == 108);
static_assert(offsetof(ZipParams, ForceDos) == 112);
static_assert(offsetof(ZipParams, Move) == 116);
static_assert(offsetof(ZipParams, DeleteFlag) == 120);
static_assert(offsetof(ZipParams, Update) == 124);
static_assert(offsetof(ZipParams, Freshen) == 128);
static_assert(offsetof(ZipParams, Reserved104) == 132);
static_assert(offsetof(ZipParams, LatestTime) == 136);
static_assert(offsetof(ZipParams, Date) == 140);
static_assert(offsetof(ZipParams, SpecCount) == 148);
static_assert(offsetof(ZipParams, ZipFileName) == 152);
static_assert(offsetof(ZipParams, TempDir) == 160);
static_assert(offsetof(ZipParams, ArchiveComment) == 168);
static_assert(offsetof(ZipParams, ArchiveOnly) == 176);
static_assert(offsetof(ZipParams, ResetArchive) == 178);
static_assert(offsetof(ZipParams, Pad4) == 180);
static_assert(offsetof(ZipParams, FileSpecs) == 184);
static_assert(offsetof(ZipParams, Reserved144) == 192);
static_assert(offsetof(ZipParams, ExclCount) == 196);
static_assert(offsetof(ZipParams, ExclSpecs) == 200);
static_assert(offsetof(ZipParams, UseOutStream) == 208);
static_assert(offsetof(ZipParams, Pad5) == 212);
static_assert(offsetof(ZipParams, OutStream) == 216);
static_assert(offsetof(ZipParams, OutStreamSize) == 224);
static_assert(offsetof(ZipParams, UseInStream) == 232);
static_assert(offsetof(ZipParams, Pad6) == 236);
static_assert(offsetof(ZipParams, InStream) == 240);
static_assert(offsetof(ZipParams, InStreamSize) == 248);
static_assert(offsetof(ZipParams, StrFileAttr) == 256);
static_assert(offsetof(ZipParams, StrFileDate) == 260);
static_assert(offsetof(ZipParams, AllowUndoDelete) == 264);
static_assert(offsetof(ZipParams, CodePage) == 268);
static_assert(offsetof(ZipParams, Reserved194) == 270);
static_assert(offsetof(ZipParams, CheckValue) == 288);
static_assert(offsetof(ZipParams, Pad7) == 292);
static_assert(sizeof(ZipParams) == 296);

static_assert(offsetof(UnzipFileSpec, FileSpec) == 0);
static_assert(offsetof(UnzipFileSpec, Reserved) == 8);
static_assert(sizeof(UnzipFileSpec) == 80);

static_assert(offsetof(UnzipParams, Handle) == 0);
static_assert(offsetof(UnzipParams, Caller) == 8);
static_assert(offsetof(UnzipParams, Version) == 16);
static_assert(offsetof(UnzipParams, Pad1) == 20);
static_assert(offsetof(UnzipParams, Callback) == 24);
static_assert(offsetof(UnzipParams, Trace) == 32);
static_assert(offsetof(UnzipParams, Reserved20) == 36);
static_assert(offsetof(UnzipParams, Password) == 40);
static_assert(offsetof(UnzipParams, Test) == 48);
static_assert(offsetof(UnzipParams, Reserved32) == 52);
static_assert(offsetof(UnzipParams, Reserved36) == 56);
static_assert(offsetof(UnzipParams, Quiet) == 60);
static_assert(offsetof(UnzipParams, Verbose) == 64);
static_assert(offsetof(UnzipParams, Update) == 68);
static_assert(offsetof(UnzipParams, Freshen) == 72);
static_assert(offsetof(UnzipParams, DirNames) == 76);
static_assert(offsetof(UnzipParams, Overwrite) == 80);
static_assert(offsetof(UnzipParams, SpecCount) == 84);
static_assert(offsetof(UnzipParams, ZipFileName) == 88);
static_assert(offsetof(UnzipParams, FileSpecs) == 96);
static_assert(offsetof(UnzipParams, Reserved76) == 104);
static_assert(offsetof(UnzipParams, UseOutStream) == 108);
static_assert(offsetof(UnzipParams, OutStream) == 112);
static_assert(offsetof(UnzipParams, OutStreamSize) == 120);
static_assert(offsetof(UnzipParams, UseInStream) == 128);
static_assert(offsetof(UnzipParams, Pad2) == 132);
static_assert(offsetof(UnzipParams, InStream) == 136);
static_assert(offsetof(UnzipParams, InStreamSize) == 144);
static_assert(offsetof(UnzipParams, PasswordReqCount) == 152);
static_assert(offsetof(UnzipParams, Pad3) == 156);
static_assert(offsetof(UnzipParams, ExtractDir) == 160);
static_assert(offsetof(UnzipParams, Reserved112) == 168);
static_assert(offsetof(UnzipParams, CheckValue) == 200);
static_assert(offsetof(UnzipParams, Pad4) == 204);
static_assert(sizeof(UnzipParams) == 208);

static_assert(offsetof(CallbackRecord, Handle) == 0);
static_assert(offsetof(CallbackRecord, Caller) == 8);
static_assert(offsetof(CallbackRecord, Version) == 16);
static_assert(offsetof(CallbackRecord, IsZipOperation) == 20);
static_assert(offsetof(CallbackRecord, ActionCode) == 24);
static_assert(offsetof(CallbackRecord, Value1) == 28);
static_assert(offsetof(CallbackRecord, Value2) == 32);
static_assert(offsetof(CallbackRecord, Text) == 40);
static_assert(sizeof(CallbackRecord) == 552);

// ---------------------------------------------------------------------------------------------
// Entry points exported by the engines (C linkage, default visibility).
//
// libzipeng.so: GetZipEngVersion, ZipEngExec.   libunzeng.so: GetUnzEngVersion, UnzEngExec.
// Get...Version: the engine's version (170 = 1.70), 0 when unusable.
// ...Exec: runs one operation on the calling thread, calling back through params->Callback on that
// same thread; returns the number of files processed (0 on failure). A kCallbackStop answer ends
// the operation as soon as possible.

typedef int32_t (*GetZipEngVersionFn)();
typedef int32_t (*ZipEngExecFn)(ZipParams* params);
typedef int32_t (*GetUnzEngVersionFn)();
typedef int32_t (*UnzEngExecFn)(UnzipParams* params);

constexpr const char kZipEngineLibrary[] = "libzipeng.so";
constexpr const char kUnzipEngineLibrary[] = "libunzeng.so";
constexpr const char kZipEngExecName[] = "ZipEngExec";
constexpr const char kGetZipEngVersionName[] = "GetZipEngVersion";
constexpr const char kUnzEngExecName[] = "UnzEngExec";
constexpr const char kGetUnzEngVersionName[] = "GetUnzEngVersion";

extern "C" {
TANDOR_ENGINE_EXPORT int32_t GetZipEngVersion();
TANDOR_ENGINE_EXPORT int32_t ZipEngExec(ZipParams* params);
TANDOR_ENGINE_EXPORT int32_t GetUnzEngVersion();
TANDOR_ENGINE_EXPORT int32_t UnzEngExec(UnzipParams* params);
}
