#pragma once
// Enumerations and option sets of the archive component.

#include "OptionSet.h"

enum class AddOptsEnum {
  AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS,
  AddHiddenFiles, AddEncrypt, AddSeparateDirs, AddDiskSpan, AddDiskSpanErase
};
enum class ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };
enum class SFXOptsEnum { SFXAskCmdLine, SFXAskFiles, SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize };
enum class OvrOpts { OvrConfirm, OvrAlways, OvrNever };
enum class CodePageOpts { cpAuto, cpNone, cpOEM };
enum class DeleteOpts { htdFinal, htdAllowUndo };
enum class ProgressType {
  ProgrNewFile = 0, ProgrUpdate = 1, ProgrEndOfBatch = 2, ProgrTotalFiles = 3, ProgrTotalSize = 4
};

using AddOpts = OptionSet<AddOptsEnum>;
using ExtrOpts = OptionSet<ExtrOptsEnum>;
using SFXOpts = OptionSet<SFXOptsEnum>;

// Which values QueryDiskSpace fetches.
enum class DiskSpaceWanted { Free, Size, Both };
