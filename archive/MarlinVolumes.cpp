// Volumes of a multi-volume set: checking the drive, asking for a disk, recognising it.

#include <string>

#include "MarlinMessages.h"
#include "TMarlin.h"

namespace {

constexpr const char* kSetLabelPrefix = "PKBACK# ";

bool IsHardDisk(DriveKind kind) { return kind == DriveKind::Fixed || kind == DriveKind::Remote; }

}  // namespace

std::string TMarlin::VolumeNumberText() const {
  const std::string n = std::to_string(1001 + fCurrentDiskNo);
  return n.substr(n.size() - 3);
}

bool TMarlin::FollowDrive() {
  if (fDriveRoot != fDriveIdRoot) {
    fDriveId = volumes_->DriveExists(fDriveRoot) ? volumes_->DriveIdOf(fDriveRoot) : std::string();
    fDriveIdRoot = fDriveRoot;
  }
  // A root that still holds a file system is never left: it is what the caller chose.
  if (volumes_->DriveExists(fDriveRoot)) return true;
  if (fDriveId.empty()) return false;
  const std::string now = volumes_->MountPointOf(fDriveId, true);
  if (now.empty()) return false;
  // The names of this operation move with the disk; ZipFilename too, so that the next
  // operation finds the archive where the disk now is.
  const std::string old = fDriveRoot;
  for (std::string* name : {&fReadName, &fWriteName, &fZipFilename})
    if (name->rfind(old, 0) == 0) name->replace(0, old.size(), now);
  fDriveRoot = fDriveIdRoot = now;
  return true;
}

bool TMarlin::CheckDrive() {
  fVolumeSizeBytes = 0;
  fVolumeLabel.clear();
  if (fDriveRoot.empty() || fDriveRoot.front() != '/') throw EMarlin(11003, fDriveRoot);
  if (!FollowDrive()) {
    // A drive known by its device but with no disk mounted: ask for one.
    if (!fDriveId.empty()) return false;
    throw EMarlin(11004, fDriveRoot);
  }

  VolumeInfo info;
  const VolumeStatus status = volumes_->ReadVolumeInfo(fDriveRoot, info);
  if (status != VolumeStatus::Ok) {
    // An unreadable disk is fine when it is about to be formatted anyway.
    return status == VolumeStatus::GeneralFailure && fAddOptions.Contains(AddOptsEnum::AddDiskSpanErase);
  }
  fVolumeLabel = info.Label.substr(0, 255);
  fVolumeSerial = info.Serial;
  QueryDiskSpace(DiskSpaceWanted::Both);
  if (volumes_->KindOf(fDriveRoot) == DriveKind::Remote) return true;
  return fVolumeSizeBytes != -1;
}

DriveKind TMarlin::AskForDisk() {
  int answer = boxresult::Ok;
  ProcessEvents();
  FollowDrive();
  const DriveKind kind = volumes_->KindOf(fDriveRoot);
  while ((answer == boxresult::Ok && !CheckDrive()) || fNewDiskRequested) {
    // On a hard disk the volumes are files whose names carry their numbers.
    if (IsHardDisk(kind)) {
      fNewDiskRequested = false;
      break;
    }
    if (fUnattended) throw EMarlin(11025, true);

    std::string text;
    BoxIcon icon = BoxIcon::None;
    if (fCurrentDiskNo < 0) {
      text = LoadMessageText(11033, "Please insert last disk in set");
      icon = BoxIcon::Stop;
    } else if (fKilnBusy) {
      // While writing, the count of volumes is estimated from the archive's size.
      int64_t size = fVolumeSizeBytes;
      if (fMaxVolumeSize != 0 && fMaxVolumeSize < size) size = fMaxVolumeSize;
      fLastDiskNo = fCurrentDiskNo;
      if (size > 0) {
        const int64_t estimate = (int64_t(fLogicalSize) + 4 + fKeepFreeOnDisk1) / size;
        if (fLastDiskNo < estimate) fLastDiskNo = int(estimate);
        text = FormatMessageText(LoadMessageText(11034, MissingMessageText(11034)),
                                 {std::to_string(fCurrentDiskNo + 1), std::to_string(fLastDiskNo + 1)});
      } else {
        text = FormatMessageText(LoadMessageText(11046, MissingMessageText(11046)),
                                 {std::to_string(fCurrentDiskNo + 1)});
      }
    } else {
      text = FormatMessageText(LoadMessageText(11034, MissingMessageText(11034)),
                               {std::to_string(fCurrentDiskNo + 1), std::to_string(fLastDiskNo + 1)});
    }
    text += FormatMessageText(LoadMessageText(11035, MissingMessageText(11035)), {fDriveRoot});
    answer = ShowBox(text, BoxButtons::OkCancel, icon);
    fNewDiskRequested = false;
  }
  if (answer == boxresult::None) throw EMarlin(11006, true);
  if (answer != boxresult::Ok) throw EMarlin(11007, false);
  return kind;
}

bool TMarlin::IsRightDisk(DriveKind kind) {
  if (IsHardDisk(kind)) {
    // Volume N of a set on a hard disk is the file whose name ends in N's three digits.
    const size_t slash = fReadName.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = fReadName.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = fReadName.size();
    const size_t digits = std::min<size_t>(3, dot - nameStart);
    fReadName.replace(dot - digits, digits, VolumeNumberText());
    return true;
  }
  return fVolumeLabel == kSetLabelPrefix + VolumeNumberText();
}

void TMarlin::OpenVolume(int n) {
  fReadHandle.Close();
  fCurrentDiskNo = n;
  for (;;) {
    DriveKind kind;
    do {
      fNewDiskRequested = true;
      kind = AskForDisk();
    } while (!IsRightDisk(kind));
    if (fReadHandle.OpenRead(fReadName)) return;
    if (IsHardDisk(kind)) throw EMarlin(11001, true);
    ReportMessage(11001);
  }
}
