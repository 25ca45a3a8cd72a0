// The records shared with the compression libraries, field by field in the order and at the
// offsets of the published interface. A field moved in the header would still agree with
// everything built from it here, and only disagree with libraries built elsewhere.

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "CompressionLibraries.h"

namespace {

struct Field {
  const char* name;
  size_t offset, size, align;  // as built here
  size_t offset32, width32;    // as published, for 4-byte addresses
  bool address;                // pointer-sized here
};

#define FIELD(T, f, at, width, kind)                                                                  \
  Field {                                                                                             \
    #f, offsetof(T, f), sizeof(static_cast<T*>(nullptr)->f), alignof(decltype(static_cast<T*>(nullptr)->f)), \
        at, width, kind == 'A'                                                                        \
  }

#define KILN_COMMON(T)                                                                                         \
  FIELD(T, Common.WindowHandle, 0, 4, 'A'), FIELD(T, Common.Caller, 4, 4, 'A'),                                \
      FIELD(T, Common.RecordVersion, 8, 4, 'I'), FIELD(T, Common.CallbackProc, 12, 4, 'A'),                    \
      FIELD(T, Common.TraceOn, 16, 4, 'I'), FIELD(T, Common.PasswordText, 20, 4, 'A'),                         \
      FIELD(T, Common.NameCodePage, 24, 4, 'I'), FIELD(T, Common.EncryptOn, 28, 4, 'I'),                         \
      FIELD(T, Common.HiddenFilesOn, 32, 4, 'I'), FIELD(T, Common.Reserved36, 36, 4, 'I'),                     \
      FIELD(T, Common.Reserved40, 40, 4, 'I'), FIELD(T, Common.NoDirEntriesOn, 44, 4, 'I'),                    \
      FIELD(T, Common.Reserved48, 48, 4, 'I'), FIELD(T, Common.VerboseOn, 52, 4, 'I'),                         \
      FIELD(T, Common.AlwaysOn, 56, 4, 'I'), FIELD(T, Common.Level, 60, 4, 'I'),                               \
      FIELD(T, Common.Reserved64, 64, 4, 'I'), FIELD(T, Common.Reserved68, 68, 4, 'I'),                        \
      FIELD(T, Common.NoDirNamesOn, 72, 4, 'I'), FIELD(T, Common.RecurseOn, 76, 2, 'I'),                       \
      FIELD(T, Common.Reserved78, 78, 2, 'I'), FIELD(T, Common.AppendOn, 80, 4, 'I'),                          \
      FIELD(T, Common.ForceDosOn, 84, 4, 'I'), FIELD(T, Common.MoveOn, 88, 4, 'I'),                            \
      FIELD(T, Common.DeleteOn, 92, 4, 'I'), FIELD(T, Common.UpdateOn, 96, 4, 'I'),                            \
      FIELD(T, Common.FreshenOn, 100, 4, 'I'), FIELD(T, Common.Reserved104, 104, 4, 'I'),                      \
      FIELD(T, Common.ZipTimeOn, 108, 4, 'I'), FIELD(T, Common.Reserved112, 112, 4, 'I'),                      \
      FIELD(T, Common.Reserved116, 116, 4, 'I'), FIELD(T, Common.SpecCount, 120, 4, 'I'),                      \
      FIELD(T, Common.ArchivePath, 124, 4, 'A')

#define SLUICE_COMMON(T)                                                                                       \
  FIELD(T, Common.WindowHandle, 0, 4, 'A'), FIELD(T, Common.Caller, 4, 4, 'A'),                                \
      FIELD(T, Common.RecordVersion, 8, 4, 'I'), FIELD(T, Common.CallbackProc, 12, 4, 'A'),                    \
      FIELD(T, Common.TraceOn, 16, 4, 'I'), FIELD(T, Common.Reserved20, 20, 4, 'I'),                           \
      FIELD(T, Common.PasswordText, 24, 4, 'A'), FIELD(T, Common.TestOn, 28, 4, 'I'),                          \
      FIELD(T, Common.NameCodePage, 32, 4, 'I'), FIELD(T, Common.Reserved36, 36, 4, 'I'),                        \
      FIELD(T, Common.AlwaysOn, 40, 4, 'I'), FIELD(T, Common.VerboseOn, 44, 4, 'I'),                           \
      FIELD(T, Common.UpdateOn, 48, 4, 'I'), FIELD(T, Common.FreshenOn, 52, 4, 'I'),                           \
      FIELD(T, Common.DirNamesOn, 56, 4, 'I'), FIELD(T, Common.OverwriteOn, 60, 4, 'I'),                       \
      FIELD(T, Common.SpecCount, 64, 4, 'I'), FIELD(T, Common.ArchivePath, 68, 4, 'A')

size_t AlignUp(size_t at, size_t align) { return (at + align - 1) / align * align; }

// Fields follow one another in the published order with nothing between them but what
// each one's alignment asks, and are as wide as published (addresses as wide as here).
void ExpectLayout(const char* record, const std::vector<Field>& fields, size_t size, size_t align,
                  size_t publishedSize) {
  SCOPED_TRACE(record);
  size_t end = 0, end32 = 0;
  for (const Field& f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.offset32, end32);  // the table itself is the published one
    EXPECT_EQ(f.size, f.address ? f.width32 / 4 * sizeof(void*) : f.width32);
    EXPECT_EQ(f.offset, AlignUp(end, f.align));
    if (sizeof(void*) == 4) {
      EXPECT_EQ(f.offset, f.offset32);
    }
    end = f.offset + f.size;
    end32 = f.offset32 + f.width32;
  }
  EXPECT_EQ(end32, publishedSize);
  EXPECT_EQ(size, AlignUp(end, align));
}

#define EXPECT_LAYOUT(T, publishedSize, ...) ExpectLayout(#T, {__VA_ARGS__}, sizeof(T), alignof(T), publishedSize)

}  // namespace

TEST(LibraryRecords, FieldsInThePublishedOrder) {
  EXPECT_LAYOUT(KilnParams, 216, KILN_COMMON(KilnParams), FIELD(KilnParams, TempDirText, 128, 4, 'A'),
                FIELD(KilnParams, Reserved132, 132, 8, 'I'), FIELD(KilnParams, FileData, 140, 4, 'A'),
                FIELD(KilnParams, Reserved144, 144, 68, 'I'), FIELD(KilnParams, Marker, 212, 4, 'I'));
  EXPECT_LAYOUT(KilnParamsOlder, 16520, KILN_COMMON(KilnParamsOlder), FIELD(KilnParamsOlder, Marker, 128, 4, 'I'),
                FIELD(KilnParamsOlder, SpecTexts, 132, 4 * OLDER_LAYOUT_SPEC_SLOTS, 'A'));
  EXPECT_LAYOUT(KilnFileData, 104, FIELD(KilnFileData, Text, 0, 4, 'A'), FIELD(KilnFileData, Reserved, 4, 100, 'I'));

  EXPECT_LAYOUT(SluiceParams, 148, SLUICE_COMMON(SluiceParams), FIELD(SluiceParams, FileData, 72, 4, 'A'),
                FIELD(SluiceParams, Reserved76, 76, 68, 'I'), FIELD(SluiceParams, Marker, 144, 4, 'I'));
  EXPECT_LAYOUT(SluiceParamsOlder, 16464, SLUICE_COMMON(SluiceParamsOlder),
                FIELD(SluiceParamsOlder, Marker, 72, 4, 'I'),
                FIELD(SluiceParamsOlder, SpecTexts, 76, 4 * OLDER_LAYOUT_SPEC_SLOTS, 'A'));
  EXPECT_LAYOUT(SluiceFileData, 72, FIELD(SluiceFileData, Text, 0, 4, 'A'),
                FIELD(SluiceFileData, Reserved, 4, 68, 'I'));

  EXPECT_LAYOUT(CallbackRecord, 540, FIELD(CallbackRecord, Unused0, 0, 4, 'I'),
                FIELD(CallbackRecord, Caller, 4, 4, 'A'), FIELD(CallbackRecord, FileSize64, 8, 8, 'I'),
                FIELD(CallbackRecord, ActionCode, 16, 4, 'I'), FIELD(CallbackRecord, ErrorCode, 20, 4, 'I'),
                FIELD(CallbackRecord, FileSize, 24, 4, 'I'), FIELD(CallbackRecord, Text, 28, CALLBACK_TEXT_SIZE, 'I'));
}
