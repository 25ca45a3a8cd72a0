#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <vector>

#include "VolumeService.h"

namespace fs = std::filesystem;

struct SimulatedVolumeService::Impl {
  struct Drive {
    DriveKind Kind = DriveKind::Removable;
    int Inserted = -1;
  };
  struct Disk {
    std::string DrivePath;
    std::string Storage;  // the disk's folder while it is out of the drive
    std::string Label;
    int64_t Capacity = 0;
    bool Formatted = true;
  };

  std::shared_ptr<VolumeService> Fallback;
  FormatStatus FormatOutcome = FormatStatus::Done;
  int Formats = 0;
  std::map<std::string, Drive> Drives;  // by path without trailing '/'
  std::vector<Disk> Disks;

  static std::string Normal(const std::string& p) {
    std::string s = fs::path(p).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  }
  Drive* DriveAt(const std::string& root) {
    auto it = Drives.find(Normal(root));
    return it == Drives.end() ? nullptr : &it->second;
  }
  Disk& DiskAt(int disk) {
    if (disk < 0 || size_t(disk) >= Disks.size()) throw std::out_of_range("no such simulated disk");
    return Disks[size_t(disk)];
  }
};

SimulatedVolumeService::SimulatedVolumeService(std::shared_ptr<VolumeService> fallback) : d(new Impl) {
  d->Fallback = std::move(fallback);
}

SimulatedVolumeService::~SimulatedVolumeService() = default;

void SimulatedVolumeService::AddDrive(const std::string& path, DriveKind kind) {
  d->Drives[Impl::Normal(path)] = Impl::Drive{kind, -1};
}

int SimulatedVolumeService::AddDisk(const std::string& path, const std::string& label, int64_t capacity,
                                    bool formatted) {
  const std::string drive = Impl::Normal(path);
  if (!d->Drives.count(drive)) throw std::invalid_argument("no such simulated drive: " + path);
  const int number = int(d->Disks.size());
  Impl::Disk disk{drive, drive + ".disk" + std::to_string(number), label, capacity, formatted};
  fs::create_directories(disk.Storage);
  d->Disks.push_back(disk);
  return number;
}

void SimulatedVolumeService::Eject(const std::string& path) {
  Impl::Drive* drive = d->DriveAt(path);
  if (!drive || drive->Inserted < 0) return;
  fs::rename(Impl::Normal(path), d->DiskAt(drive->Inserted).Storage);
  drive->Inserted = -1;
}

void SimulatedVolumeService::Insert(int disk) {
  Impl::Disk& dk = d->DiskAt(disk);
  Impl::Drive* drive = d->DriveAt(dk.DrivePath);
  if (drive->Inserted == disk) return;
  Eject(dk.DrivePath);
  fs::rename(dk.Storage, dk.DrivePath);
  drive->Inserted = disk;
}

int SimulatedVolumeService::InsertedDisk(const std::string& path) const {
  auto it = d->Drives.find(Impl::Normal(path));
  return it == d->Drives.end() ? -1 : it->second.Inserted;
}

std::string SimulatedVolumeService::DiskFolder(int disk) const {
  const Impl::Disk& dk = d->DiskAt(disk);
  return d->Drives.at(dk.DrivePath).Inserted == disk ? dk.DrivePath : dk.Storage;
}

std::string SimulatedVolumeService::Label(int disk) const { return d->DiskAt(disk).Label; }
void SimulatedVolumeService::SetLabel(int disk, const std::string& label) { d->DiskAt(disk).Label = label; }
bool SimulatedVolumeService::Formatted(int disk) const { return d->DiskAt(disk).Formatted; }
void SimulatedVolumeService::SetFormatted(int disk, bool formatted) { d->DiskAt(disk).Formatted = formatted; }
int64_t SimulatedVolumeService::Capacity(int disk) const { return d->DiskAt(disk).Capacity; }

std::string SimulatedVolumeService::DriveRootOf(const std::string& absolutePath) {
  const std::string path = Impl::Normal(absolutePath);
  for (const auto& [drive, info] : d->Drives)
    if (path == drive || path.rfind(drive + "/", 0) == 0) return drive + "/";
  return d->Fallback->DriveRootOf(absolutePath);
}

bool SimulatedVolumeService::DriveExists(const std::string& root) {
  return d->DriveAt(root) != nullptr || d->Fallback->DriveExists(root);
}

DriveKind SimulatedVolumeService::KindOf(const std::string& root) {
  if (Impl::Drive* drive = d->DriveAt(root)) return drive->Kind;
  return d->Fallback->KindOf(root);
}

VolumeStatus SimulatedVolumeService::ReadVolumeInfo(const std::string& root, VolumeInfo& info) {
  Impl::Drive* drive = d->DriveAt(root);
  if (!drive) return d->Fallback->ReadVolumeInfo(root, info);
  if (drive->Inserted < 0) return VolumeStatus::NotReady;
  const Impl::Disk& disk = d->DiskAt(drive->Inserted);
  if (!disk.Formatted) return VolumeStatus::GeneralFailure;
  info.Label = disk.Label;
  info.Serial = 0x51D00000u + uint32_t(drive->Inserted);
  return VolumeStatus::Ok;
}

bool SimulatedVolumeService::DiskSpace(const std::string& root, int64_t& freeBytes, int64_t& totalBytes) {
  Impl::Drive* drive = d->DriveAt(root);
  if (!drive) return d->Fallback->DiskSpace(root, freeBytes, totalBytes);
  if (drive->Inserted < 0) return false;
  const Impl::Disk& disk = d->DiskAt(drive->Inserted);
  if (!disk.Formatted) return false;
  int64_t used = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(disk.DrivePath, ec))
    if (e.is_regular_file(ec)) used += int64_t(e.file_size(ec));
  totalBytes = disk.Capacity;
  freeBytes = std::max<int64_t>(0, disk.Capacity - used);
  return true;
}

// ---- labelling and formatting ----

bool SimulatedVolumeService::SetLabel(const std::string& root, const std::string& label) {
  Impl::Drive* drive = d->DriveAt(root);
  if (!drive) return d->Fallback->SetLabel(root, label);
  if (drive->Inserted < 0) return false;
  Impl::Disk& disk = d->DiskAt(drive->Inserted);
  if (!disk.Formatted) return false;
  disk.Label = label;
  return true;
}

FormatStatus SimulatedVolumeService::Format(const std::string& root, const std::string& label) {
  Impl::Drive* drive = d->DriveAt(root);
  if (!drive) return d->Fallback->Format(root, label);
  if (OnFormat) OnFormat();
  ++d->Formats;
  if (drive->Inserted < 0) return FormatStatus::NotPossible;
  if (d->FormatOutcome != FormatStatus::Done) return d->FormatOutcome;
  Impl::Disk& disk = d->DiskAt(drive->Inserted);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(disk.DrivePath, ec)) fs::remove_all(e.path(), ec);
  if (ec) return FormatStatus::Failed;
  disk.Label = label;
  disk.Formatted = true;
  return FormatStatus::Done;
}

void SimulatedVolumeService::SetFormatOutcome(FormatStatus outcome) { d->FormatOutcome = outcome; }

int SimulatedVolumeService::FormatCount() const { return d->Formats; }
