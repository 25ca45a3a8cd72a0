// Formatting a removable disk for a multi-volume set, with the set's volume label.

#include <atomic>
#include <chrono>
#include <future>

#include "MarlinMessages.h"
#include "MarlinSpan.h"
#include "TMarlin.h"

namespace {

// The component whose format runs; there is one at a time in the whole program.
std::atomic<TMarlin*> gFormatTarget{nullptr};

}  // namespace

int TMarlin::FormatVolume() {
  fFormatState = 0;
  fFormatResult = -3;
  TMarlin* idle = nullptr;
  if (!gFormatTarget.compare_exchange_strong(idle, this)) {
    fFormatState = 2;
    return fFormatResult = -1;
  }
  struct Release {
    ~Release() { gFormatTarget = nullptr; }
  } release;
  auto finish = [this](int result) {
    fFormatResult = result;
    fFormatState = 2;
    return result;
  };

  // A hard disk is never erased, whatever the caller believes it holds.
  if (span::IsHardDisk(volumes_->KindOf(fDriveRoot))) return finish(-3);
  if (fConfirmErase) {
    if (fUnattended) return finish(-1);
    const std::string text =
        FormatMessageText(LoadMessageText(11105, MissingMessageText(11105)), {fDriveRoot, fVolumeLabel});
    switch (ShowBox(text, BoxButtons::YesNoCancel, BoxIcon::Warning, 1)) {
      case boxresult::Yes: break;
      case boxresult::No: return finish(-3);
      case boxresult::None: return finish(-1);
      default: return finish(-2);
    }
  }

  // Formatting can take minutes; it runs on a thread of its own while this one keeps
  // the user interface live.
  std::shared_ptr<VolumeService> service = volumes_;
  const std::string root = fDriveRoot, label = fVolumeLabel;
  std::future<FormatStatus> done = std::async(std::launch::async, [service, root, label] {
    try {
      return service->Format(root, label);
    } catch (...) {
      return FormatStatus::Failed;
    }
  });
  do {
    ProcessEvents();
  } while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready);

  switch (done.get()) {
    case FormatStatus::Done:
      // The new file system may be mounted elsewhere than the old one.
      FollowDrive();
      return finish(0);
    case FormatStatus::Cancelled: return finish(-2);
    case FormatStatus::NotPossible: return finish(-3);
    case FormatStatus::Failed: break;
  }
  return finish(-1);
}
