#pragma once
/* The binary interface between the archive component and its two run-time loaded
 * libraries, libkiln.so (add, delete) and libsluice.so (extract, test).
 *
 * Every record is zero-filled by whoever allocates it; reserved fields stay 0. A flag is
 * -1 for true and 0 for false. Integers keep their historic widths; fields that hold an
 * address (window, caller, callback, texts, arrays) are pointer-sized, so the byte offsets
 * of the 32-bit layouts hold only on a 32-bit build. The field order is the contract.
 *
 * C only: the libraries are C-linkage shared objects. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Versions at or above these select the current layouts; below, the older ones. */
#define KILN_CURRENT_LAYOUT_VERSION 151
#define SLUICE_CURRENT_LAYOUT_VERSION 152
/* What the component writes into RecordVersion. */
#define KILN_RECORD_VERSION 154
#define SLUICE_RECORD_VERSION 152
/* The older layouts carry the specifications inline, in this many slots. */
#define OLDER_LAYOUT_SPEC_SLOTS 4097
#define PARAMS_MARKER 7

#define LIBRARY_FLAG_TRUE (-1)
#define LIBRARY_FLAG_FALSE 0

/* What a callback reports. */
enum LibraryAction {
  kActionNewFile = 1,      /* Text: entry or file name; FileSize: its size */
  kActionProgress = 2,     /* FileSize: bytes processed since the last report */
  kActionEndOfBatch = 3,
  kActionMessage = 4,      /* Text: message; ErrorCode: 0, or nonzero for an error */
  kActionTotalFiles = 5,   /* FileSize: number of files of the batch */
  kActionTotalSize = 6,    /* FileSize: number of bytes of the batch */
  kActionPassword = 7      /* Text: entry name in; the password out (at most 80 chars) */
};

#define CALLBACK_TEXT_SIZE 512
#define PASSWORD_BUFFER_SIZE 81 /* 80 characters and the zero byte */

typedef struct CallbackRecord {
  int32_t Unused0;
  void* Caller;          /* the Caller of the parameter record, handed back */
  /* Not read by older components. Ours fill it with the full value of FileSize, which
   * 32 bits cannot hold for files and batches of 2 GiB and more. */
  int64_t FileSize64;
  int32_t ActionCode;    /* LibraryAction */
  int32_t ErrorCode;
  int32_t FileSize;
  char Text[CALLBACK_TEXT_SIZE]; /* zero-terminated unless it fills all 512 bytes */
} CallbackRecord;

/* Result -1 asks the library to stop at once, 0 to go on. */
typedef int32_t (*LibraryCallback)(CallbackRecord* record);

/* ---- libkiln.so ---- */

typedef struct KilnParamsCommon {
  uintptr_t WindowHandle;  /* nonzero when a user can be asked; 0 unattended */
  void* Caller;
  int32_t RecordVersion;
  LibraryCallback CallbackProc;
  int32_t TraceOn;
  char* PasswordText;      /* PASSWORD_BUFFER_SIZE bytes */
  int32_t NameCodePage;    /* as in SluiceParamsCommon: how delete reads stored names */
  int32_t EncryptOn;
  int32_t HiddenFilesOn;
  int32_t Reserved36;
  int32_t Reserved40;
  int32_t NoDirEntriesOn;
  int32_t Reserved48;
  int32_t VerboseOn;
  int32_t AlwaysOn;
  int32_t Level;           /* 0 stores, 1 to 9 deflate */
  int32_t Reserved64;
  int32_t Reserved68;
  int32_t NoDirNamesOn;
  int16_t RecurseOn;       /* 16-bit flag: (int16_t)0xFFFF or 0 */
  int16_t Reserved78;
  int32_t AppendOn;
  int32_t ForceDosOn;
  int32_t MoveOn;
  int32_t DeleteOn;
  int32_t UpdateOn;
  int32_t FreshenOn;
  int32_t Reserved104;
  int32_t ZipTimeOn;
  int32_t Reserved112;
  int32_t Reserved116;
  int32_t SpecCount;
  char* ArchivePath;
} KilnParamsCommon;

typedef struct KilnFileData {
  char* Text;              /* one file specification */
  uint8_t Reserved[100];
} KilnFileData;

/* Current layout (GetKilnVersion() >= KILN_CURRENT_LAYOUT_VERSION). */
typedef struct KilnParams {
  KilnParamsCommon Common;
  char* TempDirText;       /* 0 when no temporary folder is set */
  uint8_t Reserved132[8];
  KilnFileData* FileData;  /* SpecCount records */
  uint8_t Reserved144[68];
  int32_t Marker;          /* PARAMS_MARKER */
} KilnParams;

/* Older layout. */
typedef struct KilnParamsOlder {
  KilnParamsCommon Common;
  int32_t Marker;          /* PARAMS_MARKER */
  char* SpecTexts[OLDER_LAYOUT_SPEC_SLOTS]; /* unused slots 0 */
} KilnParamsOlder;

/* ---- libsluice.so ---- */

typedef struct SluiceParamsCommon {
  uintptr_t WindowHandle;
  void* Caller;
  int32_t RecordVersion;
  LibraryCallback CallbackProc;
  int32_t TraceOn;
  int32_t Reserved20;
  char* PasswordText;      /* PASSWORD_BUFFER_SIZE bytes */
  int32_t TestOn;
  /* The code page of names and comments stored without the UTF-8 flag, as the component
   * listed them: a Windows code page number, 65001 for UTF-8. Entry specifications name
   * entries in that reading. 0 (older components) keeps the rule they listed by: code
   * page 437 for names made on DOS, OS/2 and Windows NT 5.0, other names as stored. */
  int32_t NameCodePage;
  int32_t Reserved36;
  int32_t AlwaysOn;
  int32_t VerboseOn;
  int32_t UpdateOn;
  int32_t FreshenOn;
  int32_t DirNamesOn;
  int32_t OverwriteOn;
  int32_t SpecCount;       /* 0: every entry */
  char* ArchivePath;
} SluiceParamsCommon;

typedef struct SluiceFileData {
  char* Text;
  uint8_t Reserved[68];
} SluiceFileData;

/* Current layout (GetSluiceVersion() >= SLUICE_CURRENT_LAYOUT_VERSION). */
typedef struct SluiceParams {
  SluiceParamsCommon Common;
  SluiceFileData* FileData; /* SpecCount records, 0 when SpecCount is 0 */
  uint8_t Reserved76[68];
  int32_t Marker;
} SluiceParams;

/* Older layout. */
typedef struct SluiceParamsOlder {
  SluiceParamsCommon Common;
  int32_t Marker;
  char* SpecTexts[OLDER_LAYOUT_SPEC_SLOTS];
} SluiceParamsOlder;

/* Entry points. The parameter record is the layout the library's own version selects;
 * the result is the number of files processed. */
typedef int32_t (*KilnExecFn)(KilnParamsCommon* params);
typedef int32_t (*GetKilnVersionFn)(void);
typedef int32_t (*SluiceExecFn)(SluiceParamsCommon* params);
typedef int32_t (*GetSluiceVersionFn)(void);

/* Error codes of action 4 messages (the component keeps the low byte as LastErrCode). */
enum LibraryError {
  kLibOk = 0,
  kLibErrRead = 1,          /* a source file or the archive could not be read */
  kLibErrWrite = 2,         /* a file or the archive could not be written */
  kLibErrDiskFull = 3,
  kLibErrNoMatch = 4,       /* a specification matched nothing */
  kLibErrBadArchive = 5,    /* not an archive, truncated or damaged */
  kLibErrCrc = 6,
  kLibErrPassword = 7,      /* missing or wrong password */
  kLibErrUnsupported = 8,   /* compression or encryption method */
  kLibErrUnsafeName = 9,    /* a name that would write outside the target */
  kLibErrExists = 10,       /* not overwritten */
  kLibErrSkipped = 11,      /* special file, or refused name at add */
  kLibErrCancelled = 12,
  kLibErrMemory = 13,
  kLibErrParams = 14        /* a malformed parameter record */
};

#define KILN_LIBRARY_NAME "libkiln.so"
#define SLUICE_LIBRARY_NAME "libsluice.so"

#ifdef __cplusplus
}
#endif
