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
    bool Remount = false;
    int Inserted = -1;
    std::string Mount;  // where the inserted disk's files are, empty while not mounted
  };
  struct Disk {
    std::string DrivePath;
    std::string Storage;  // the disk's folder while it is not mounted
    std::string Label;
    int64_t Capacity = 0;
    bool Formatted = true;
  };

  std::shared_ptr<VolumeService> Fallback;
  FormatStatus FormatOutcome = FormatStatus::Done;
  int Formats = 0;
  int Mounts = 0;
  bool Automount = true;
  std::map<std::string, Drive> Drives;  // by path without trailing '/'
  std::vector<Disk> Disks;

  static std::string Normal(const std::string& p) {
    std::string s = fs::path(p).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  }
  // Where a drive's files are reached: the drive path itself, or where its disk is
  // mounted on a drive that remounts.
  static std::string RootOf(const std::string& path, const Drive& drive) { return drive.Remount ? drive.Mount : path; }
  Drive* DriveAt(const std::string& root) {
    const std::string want = Normal(root);
    for (auto& [path, drive] : Drives)
      if (RootOf(path, drive) == want) return &drive;
    return nullptr;
  }
  Drive& DriveById(const std::string& path) {
    auto it = Drives.find(Normal(path));
    if (it == Drives.end()) throw std::invalid_argument("no such simulated drive: " + path);
    return it->second;
  }
  Disk& DiskAt(int disk) {
    if (disk < 0 || size_t(disk) >= Disks.size()) throw std::out_of_range("no such simulated disk");
    return Disks[size_t(disk)];
  }
  void MountDisk(const std::string& path, Drive& drive) {
    if (drive.Inserted < 0 || !drive.Mount.empty()) return;
    drive.Mount = drive.Remount ? path + "." + std::to_string(++Mounts) : path;
    if (!drive.Remount) ++Mounts;
    fs::rename(DiskAt(drive.Inserted).Storage, drive.Mount);
  }
  void Unmount(Drive& drive) {
    if (drive.Inserted < 0 || drive.Mount.empty()) return;
    fs::rename(drive.Mount, DiskAt(drive.Inserted).Storage);
    drive.Mount.clear();
  }
};

SimulatedVolumeService::SimulatedVolumeService(std::shared_ptr<VolumeService> fallback) : d(new Impl) {
  d->Fallback = std::move(fallback);
}

SimulatedVolumeService::~SimulatedVolumeService() = default;

void SimulatedVolumeService::AddDrive(const std::string& path, DriveKind kind, bool remount) {
  d->Drives[Impl::Normal(path)] = Impl::Drive{kind, remount, -1, {}};
}

void SimulatedVolumeService::SetAutomount(bool on) { d->Automount = on; }

int SimulatedVolumeService::MountCount() const { return d->Mounts; }

int SimulatedVolumeService::AddDisk(const std::string& path, const std::string& label, int64_t capacity,
                                    bool formatted) {
  const std::string drive = Impl::Normal(path);
  d->DriveById(drive);
  const int number = int(d->Disks.size());
  Impl::Disk disk{drive, drive + ".disk" + std::to_string(number), label, capacity, formatted};
  fs::create_directories(disk.Storage);
  d->Disks.push_back(disk);
  return number;
}

void SimulatedVolumeService::Eject(const std::string& path) {
  Impl::Drive& drive = d->DriveById(path);
  d->Unmount(drive);
  drive.Inserted = -1;
}

void SimulatedVolumeService::Insert(int disk) {
  Impl::Disk& dk = d->DiskAt(disk);
  Impl::Drive& drive = d->DriveById(dk.DrivePath);
  if (drive.Inserted == disk) return;
  Eject(dk.DrivePath);
  drive.Inserted = disk;
  // A file system that cannot be read is not mounted by a desktop.
  if (!drive.Remount || (d->Automount && dk.Formatted)) d->MountDisk(dk.DrivePath, drive);
}

int SimulatedVolumeService::InsertedDisk(const std::string& path) const {
  auto it = d->Drives.find(Impl::Normal(path));
  return it == d->Drives.end() ? -1 : it->second.Inserted;
}

std::string SimulatedVolumeService::DiskFolder(int disk) const {
  const Impl::Disk& dk = d->DiskAt(disk);
  const Impl::Drive& drive = d->Drives.at(dk.DrivePath);
  return drive.Inserted == disk && !drive.Mount.empty() ? drive.Mount : dk.Storage;
}

std::string SimulatedVolumeService::Label(int disk) const { return d->DiskAt(disk).Label; }
void SimulatedVolumeService::SetLabel(int disk, const std::string& label) { d->DiskAt(disk).Label = label; }
bool SimulatedVolumeService::Formatted(int disk) const { return d->DiskAt(disk).Formatted; }
void SimulatedVolumeService::SetFormatted(int disk, bool formatted) { d->DiskAt(disk).Formatted = formatted; }
int64_t SimulatedVolumeService::Capacity(int disk) const { return d->DiskAt(disk).Capacity; }

std::string SimulatedVolumeService::DriveRootOf(const std::string& absolutePath) {
  const std::string path = Impl::Normal(absolutePath);
  for (const auto& [id, drive] : d->Drives) {
    const std::string root = Impl::RootOf(id, drive);
    if (!root.empty() && (path == root || path.rfind(root + "/", 0) == 0)) return root + "/";
  }
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
  for (const auto& e : fs::recursive_directory_iterator(DiskFolder(drive->Inserted), ec))
    if (e.is_regular_file(ec)) used += int64_t(e.file_size(ec));
  totalBytes = disk.Capacity;
  freeBytes = std::max<int64_t>(0, disk.Capacity - used);
  return true;
}

std::string SimulatedVolumeService::DriveIdOf(const std::string& root) {
  for (const auto& [id, drive] : d->Drives)
    if (Impl::RootOf(id, drive) == Impl::Normal(root)) return id;
  return d->Fallback->DriveIdOf(root);
}

std::string SimulatedVolumeService::MountPointOf(const std::string& id, bool mount) {
  auto it = d->Drives.find(Impl::Normal(id));
  if (it == d->Drives.end()) return d->Fallback->MountPointOf(id, mount);
  Impl::Drive& drive = it->second;
  if (drive.Inserted < 0) return {};
  if (drive.Mount.empty() && mount && d->DiskAt(drive.Inserted).Formatted) d->MountDisk(it->first, drive);
  return drive.Mount.empty() ? std::string() : drive.Mount + "/";
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
  // As the disk service does: unmount, make the file system, mount it again, which on a
  // drive that remounts is a new path.
  const std::string id = disk.DrivePath;
  if (drive->Remount) d->Unmount(*drive);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(DiskFolder(drive->Inserted), ec)) fs::remove_all(e.path(), ec);
  if (!ec) {
    disk.Label = label;
    disk.Formatted = true;
  }
  d->MountDisk(id, *drive);
  return ec ? FormatStatus::Failed : FormatStatus::Done;
}

void SimulatedVolumeService::SetFormatOutcome(FormatStatus outcome) { d->FormatOutcome = outcome; }

int SimulatedVolumeService::FormatCount() const { return d->Formats; }
