#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "VolumeService.h"

namespace fs = std::filesystem;

namespace {

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string UnescapeOctal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(uint8_t(s[i + 1])) && std::isdigit(uint8_t(s[i + 2])) &&
        std::isdigit(uint8_t(s[i + 3]))) {
      out += char(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// udev escapes blanks in /dev/disk/by-label names as \x20.
std::string UnescapeHex(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(uint8_t(s[i + 2])) &&
        std::isxdigit(uint8_t(s[i + 3]))) {
      out += char(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string Canonical(const std::string& p) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(fs::path(p), ec);
  return ec ? fs::path(p).lexically_normal().string() : c.string();
}

bool IsRemoteFs(const std::string& type) {
  static const std::array<const char*, 14> kRemote = {
      "nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "fuse.sshfs", "sshfs", "afs", "ncpfs",
      "ceph", "glusterfs", "fuse.glusterfs", "davfs"};
  for (const char* r : kRemote)
    if (type == r) return true;
  return false;
}

// The sysfs flag of the block device behind `source`, or of the disk it is a partition of.
bool IsRemovableDevice(const std::string& source) {
  if (source.rfind("/dev/", 0) != 0) return false;
  std::error_code ec;
  const fs::path dev = fs::canonical(source, ec);
  if (ec) return false;
  const fs::path sys = fs::canonical(fs::path("/sys/class/block") / dev.filename(), ec);
  if (ec) return false;
  for (const fs::path& p : {sys, sys.parent_path()}) {
    std::ifstream in(p / "removable");
    int flag = 0;
    if (in >> flag) return flag == 1;
  }
  return false;
}

// The whole disk a partition belongs to (/dev/sdb for /dev/sdb1); a disk is its own.
std::string WholeDisk(const std::string& device) {
  std::error_code ec;
  const fs::path dev = fs::canonical(device, ec);
  if (ec || dev.parent_path() != "/dev") return {};
  const fs::path sys = fs::canonical(fs::path("/sys/class/block") / dev.filename(), ec);
  if (ec) return dev.string();
  if (!fs::exists(sys / "partition", ec)) return dev.string();
  return (fs::path("/dev") / sys.parent_path().filename()).string();
}

// The disk itself and then its partitions: where a file system may be.
std::vector<std::string> DeviceAndPartitions(const std::string& disk) {
  std::vector<std::string> out{disk};
  std::error_code ec;
  const std::string name = fs::path(disk).filename().string();
  std::vector<std::string> parts;
  for (const auto& e : fs::directory_iterator(fs::path("/sys/class/block") / name, ec)) {
    std::error_code ec2;
    if (e.path().filename().string().rfind(name, 0) == 0 && fs::exists(e.path() / "partition", ec2))
      parts.push_back("/dev/" + e.path().filename().string());
  }
  std::sort(parts.begin(), parts.end());
  out.insert(out.end(), parts.begin(), parts.end());
  return out;
}

// The name under /dev/disk/<folder> whose link resolves to `source`.
std::string DiskLinkName(const std::string& folder, const std::string& source) {
  std::error_code ec;
  const fs::path dev = fs::canonical(source, ec);
  if (ec) return {};
  for (const auto& e : fs::directory_iterator(fs::path("/dev/disk") / folder, ec)) {
    std::error_code ec2;
    if (fs::canonical(e.path(), ec2) == dev && !ec2) return UnescapeHex(e.path().filename().string());
  }
  return {};
}

}  // namespace

std::shared_ptr<LinuxVolumeService> LinuxVolumeService::Instance() {
  static auto instance = std::make_shared<LinuxVolumeService>();
  return instance;
}

std::vector<LinuxVolumeService::Mount> LinuxVolumeService::Mounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, devno, root, point, word;
    if (!(fields >> id >> parent >> devno >> root >> point)) continue;
    while (fields >> word && word != "-") {
    }
    Mount m;
    if (!(fields >> m.FsType >> m.Source)) continue;
    m.Root = WithSlash(UnescapeOctal(point));
    m.Source = UnescapeOctal(m.Source);
    std::erase_if(mounts, [&](const Mount& o) { return o.Root == m.Root; });
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool LinuxVolumeService::FindMount(const std::string& root, Mount& out) {
  const std::string want = WithSlash(root);
  bool rootListed = false;
  for (auto& m : Mounts()) {
    if (m.Root == want) {
      out = m;
      return true;
    }
    rootListed = rootListed || m.Root == "/";
  }
  // Inside a chroot, /proc/self/mountinfo lists only the mounts below the new root (or
  // cannot be read at all); the file system that holds "/" is still there.
  if (want != "/" || rootListed) return false;
  out = Mount{"/", {}, {}};
  return true;
}

std::string LinuxVolumeService::DriveRootOf(const std::string& absolutePath) {
  const std::string path = WithSlash(Canonical(absolutePath));
  std::string best = "/";
  for (const auto& m : Mounts())
    if (path.rfind(m.Root, 0) == 0 && m.Root.size() > best.size()) best = m.Root;
  return best;
}

bool LinuxVolumeService::DriveExists(const std::string& root) {
  Mount m;
  return FindMount(root, m);
}

DriveKind LinuxVolumeService::KindOf(const std::string& root) {
  Mount m;
  if (!FindMount(root, m)) return DriveKind::NoRootDir;
  if (IsRemoteFs(m.FsType)) return DriveKind::Remote;
  if (IsRemovableDevice(m.Source)) return DriveKind::Removable;
  return DriveKind::Fixed;
}

VolumeStatus LinuxVolumeService::ReadVolumeInfo(const std::string& root, VolumeInfo& info) {
  Mount m;
  if (!FindMount(root, m)) return VolumeStatus::Failed;
  struct statvfs st {};
  if (::statvfs(root.c_str(), &st) != 0) return VolumeStatus::NotReady;
  if (m.Source.empty()) {
    info.Label.clear();
    info.Serial = 0;
    return VolumeStatus::Ok;
  }
  info.Label = DiskLinkName("by-label", m.Source);
  // FAT serials read as XXXX-XXXX; other UUIDs give their first eight hex digits.
  std::string uuid = DiskLinkName("by-uuid", m.Source);
  std::erase(uuid, '-');
  info.Serial = uuid.size() >= 8 ? uint32_t(std::strtoul(uuid.substr(0, 8).c_str(), nullptr, 16))
                                 : uint32_t(st.f_fsid);
  return VolumeStatus::Ok;
}

bool LinuxVolumeService::DiskSpace(const std::string& root, int64_t& freeBytes, int64_t& totalBytes) {
  struct statvfs st {};
  if (::statvfs(root.c_str(), &st) != 0) return false;
  freeBytes = int64_t(st.f_bavail) * int64_t(st.f_frsize);
  totalBytes = int64_t(st.f_blocks) * int64_t(st.f_frsize);
  return true;
}

// ---- labelling and formatting, through the program's disk manager ----

bool VolumeService::SetLabel(const std::string&, const std::string&) { return false; }

FormatStatus VolumeService::Format(const std::string&, const std::string&) { return FormatStatus::Failed; }

std::string VolumeService::DriveIdOf(const std::string&) { return {}; }

std::string VolumeService::MountPointOf(const std::string&, bool) { return {}; }

namespace {

std::shared_ptr<DiskManager>& InstalledDiskManager() {
  static std::shared_ptr<DiskManager> manager;
  return manager;
}

// The device behind a removable drive, or empty.
std::string RemovableDevice(LinuxVolumeService& volumes, const std::string& root) {
  LinuxVolumeService::Mount m;
  if (volumes.KindOf(root) != DriveKind::Removable || !LinuxVolumeService::FindMount(root, m) || m.Source.rfind("/dev/", 0) != 0) return {};
  return m.Source;
}

}  // namespace

std::string LinuxVolumeService::DriveIdOf(const std::string& root) {
  Mount m;
  if (KindOf(root) != DriveKind::Removable || !FindMount(root, m)) return {};
  const std::string disk = WholeDisk(m.Source);
  // A stick plugged in again, or the next one in the same port, comes back under another
  // device name: the port's link names the drive for as long as it is in use.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/dev/disk/by-path", ec)) {
    std::error_code ec2;
    if (fs::canonical(e.path(), ec2) == disk && !ec2) return e.path().string();
  }
  return disk;
}

std::string LinuxVolumeService::MountPointOf(const std::string& id, bool mount) {
  std::error_code ec;
  const std::string disk = id.empty() ? std::string() : fs::canonical(id, ec).string();
  if (ec || disk.empty()) return {};
  auto mounted = [&]() -> std::string {
    for (const auto& m : Mounts())
      if (m.Source.rfind("/dev/", 0) == 0 && WholeDisk(m.Source) == disk) return m.Root;
    return {};
  };
  std::string root = mounted();
  const auto& manager = InstalledDiskManager();
  if (!root.empty() || !mount || !manager) return root;
  for (const std::string& device : DeviceAndPartitions(disk))
    if (manager->Mount(device) && !(root = mounted()).empty()) return root;
  return {};
}

void LinuxVolumeService::SetDiskManager(std::shared_ptr<DiskManager> manager) {
  InstalledDiskManager() = std::move(manager);
}

// Only removable disks are ever relabelled or formatted, whoever asks.
bool LinuxVolumeService::SetLabel(const std::string& root, const std::string& label) {
  const std::string device = RemovableDevice(*this, root);
  const auto& manager = InstalledDiskManager();
  return !device.empty() && manager && manager->SetLabel(device, label);
}

FormatStatus LinuxVolumeService::Format(const std::string& root, const std::string& label) {
  const std::string device = RemovableDevice(*this, root);
  if (device.empty()) return FormatStatus::NotPossible;
  const auto& manager = InstalledDiskManager();
  return manager ? manager->Format(device, label) : FormatStatus::Failed;
}
