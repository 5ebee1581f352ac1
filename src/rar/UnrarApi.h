#ifndef TANDOR_RAR_UNRARAPI_H
#define TANDOR_RAR_UNRARAPI_H
/*
 * The C interface of the RAR library (libunrar.so): the open and header records, the result and
 * constant codes and the seven entry points. The records keep the field order and meaning of the
 * published Windows library; pointer fields are pointer-sized with natural alignment (64-bit layout).
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. 10 is the normal end of the archive. */
#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12        /* CRC error or damaged data */
#define ERAR_BAD_ARCHIVE 13     /* not a RAR archive */
#define ERAR_UNKNOWN_FORMAT 14  /* unknown comment format */
#define ERAR_EOPEN 15           /* file (or next volume) open error */
#define ERAR_ECREATE 16         /* output file create error */
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20       /* comment did not fit the buffer */
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22
#define ERAR_BAD_PASSWORD 24      /* the password does not open the entry or the headers */
/* Codes of this library: encryption it cannot undo. */
#define ERAR_ENCRYPTED_ENTRY 30    /* the entry's encryption is not one this library undoes (RAR 2.0) */
#define ERAR_ENCRYPTED_HEADERS 31  /* the archive's headers are encrypted; it cannot be opened */
#define ERAR_UNSUPPORTED_SOLID 32  /* a packed entry of a solid RAR 4 archive after its first; it cannot be unpacked */
#define ERAR_UNSAFE_ENTRY 33       /* refused: the entry or its link would lead outside the destination */
#define ERAR_SPECIAL_FILE 34       /* refused: device files and FIFOs are not created */

/* Open modes. */
#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1

/* RARProcessFile operations. */
#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

/* Modes of the volume callback. */
#define RAR_VOL_ASK 0    /* the next volume was not found: the callback may write another name, 0 stops */
#define RAR_VOL_NOTIFY 1 /* the next volume was opened; 0 stops */

/* Size of the volume name buffer handed to the volume callback, terminating zero included. */
#define RAR_VOLNAME_SIZE 2048

/* RARHeaderData.Flags bits (RAR 4 file header flags; RAR 5 entries are mapped onto them). */
#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_COMMENT 0x08
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0xE0 /* all three bits set: the entry is a folder */

/* RARHeaderData.FileAttr: DOS-style attributes whatever the host. */
#define RAR_ATTR_READONLY 0x01
#define RAR_ATTR_HIDDEN 0x02
#define RAR_ATTR_SYSTEM 0x04
#define RAR_ATTR_DIRECTORY 0x10
#define RAR_ATTR_ARCHIVE 0x20

/* RARHeaderData.HostOS */
#define RAR_HOST_MSDOS 0
#define RAR_HOST_OS2 1
#define RAR_HOST_WIN32 2
#define RAR_HOST_UNIX 3

/* CmtState values besides the error codes ERAR_SMALL_BUF, ERAR_UNKNOWN_FORMAT. */
#define RAR_CMT_NONE 0
#define RAR_CMT_READ 1

typedef void* RarHandle;

/* Open request. ArcName is UTF-8. */
struct RAROpenArchiveData {
  const char* ArcName;
  unsigned int OpenMode;   /* RAR_OM_LIST or RAR_OM_EXTRACT */
  unsigned int OpenResult; /* out: 0 or an error code */
  char* CmtBuf;            /* comment buffer or NULL */
  unsigned int CmtBufSize;
  unsigned int CmtSize;  /* out: comment bytes written, terminating zero included */
  unsigned int CmtState; /* out: RAR_CMT_NONE, RAR_CMT_READ or an error code */
};

/* One entry's header. FileName is UTF-8 with "/" separators, zero-terminated (cut at 259 bytes). */
struct RARHeaderData {
  char ArcName[260];
  char FileName[260];
  unsigned int Flags;    /* RHDF_* */
  unsigned int PackSize; /* low 32 bits of the packed size */
  unsigned int UnpSize;  /* low 32 bits of the unpacked size */
  unsigned int HostOS;
  unsigned int FileCRC;
  unsigned int FileTime; /* DOS date-time, local time */
  unsigned int UnpVer;
  unsigned int Method;
  unsigned int FileAttr;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
};

typedef int (*CHANGEVOLPROC)(char* ArcName, int Mode);          /* ArcName: RAR_VOLNAME_SIZE bytes */
typedef int (*PROCESSDATAPROC)(unsigned char* Addr, int Size);  /* 0 stops the entry */

RarHandle RAROpenArchive(struct RAROpenArchiveData* ArchiveData);
int RARCloseArchive(RarHandle hArcData);
int RARReadHeader(RarHandle hArcData, struct RARHeaderData* HeaderData);
int RARProcessFile(RarHandle hArcData, int Operation, const char* DestPath, const char* DestName);
void RARSetChangeVolProc(RarHandle hArcData, CHANGEVOLPROC ChangeVolProc);
void RARSetProcessDataProc(RarHandle hArcData, PROCESSDATAPROC ProcessDataProc);
void RARSetPassword(RarHandle hArcData, const char* Password);

/* Optional extension (looked up when present): full 64-bit sizes of the last header read. */
int RARGetHeaderSizes64(RarHandle hArcData, unsigned long long* PackSize, unsigned long long* UnpSize);

#ifdef __cplusplus
}

static_assert(sizeof(void*) == 8, "64-bit layout");
static_assert(sizeof(RAROpenArchiveData) == 40);
static_assert(offsetof(RAROpenArchiveData, OpenMode) == 8);
static_assert(offsetof(RAROpenArchiveData, OpenResult) == 12);
static_assert(offsetof(RAROpenArchiveData, CmtBuf) == 16);
static_assert(offsetof(RAROpenArchiveData, CmtBufSize) == 24);
static_assert(offsetof(RAROpenArchiveData, CmtSize) == 28);
static_assert(offsetof(RAROpenArchiveData, CmtState) == 32);
static_assert(sizeof(RARHeaderData) == 584);
static_assert(offsetof(RARHeaderData, FileName) == 260);
static_assert(offsetof(RARHeaderData, Flags) == 520);
static_assert(offsetof(RARHeaderData, PackSize) == 524);
static_assert(offsetof(RARHeaderData, UnpSize) == 528);
static_assert(offsetof(RARHeaderData, HostOS) == 532);
static_assert(offsetof(RARHeaderData, FileCRC) == 536);
static_assert(offsetof(RARHeaderData, FileTime) == 540);
static_assert(offsetof(RARHeaderData, UnpVer) == 544);
static_assert(offsetof(RARHeaderData, Method) == 548);
static_assert(offsetof(RARHeaderData, FileAttr) == 552);
static_assert(offsetof(RARHeaderData, CmtBuf) == 560);
static_assert(offsetof(RARHeaderData, CmtBufSize) == 568);
static_assert(offsetof(RARHeaderData, CmtSize) == 572);
static_assert(offsetof(RARHeaderData, CmtState) == 576);
#endif

#endif
