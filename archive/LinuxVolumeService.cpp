#include <sys/statvfs.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

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

namespace {

bool FindMount(const std::string& root, LinuxVolumeService::Mount& out) {
  const std::string want = WithSlash(root);
  for (auto& m : LinuxVolumeService::Mounts())
    if (m.Root == want) {
      out = m;
      return true;
    }
  return false;
}

}  // namespace

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

// ---- labelling and formatting through UDisks2 ----

bool VolumeService::SetLabel(const std::string&, const std::string&) { return false; }

FormatStatus VolumeService::Format(const std::string&, const std::string&) { return FormatStatus::Failed; }

namespace {

constexpr const char* kUDisks = "org.freedesktop.UDisks2";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";

// UDisks2 names a block device's object after its kernel name, escaping every byte
// other than letters, digits and '_' as _xx.
QString BlockObjectPath(const std::string& root) {
  LinuxVolumeService::Mount m;
  if (!FindMount(root, m) || m.Source.rfind("/dev/", 0) != 0) return {};
  std::error_code ec;
  const std::string name = fs::canonical(m.Source, ec).filename().string();
  if (ec || name.empty()) return {};
  QString path = "/org/freedesktop/UDisks2/block_devices/";
  for (const unsigned char c : name) {
    if (std::isalnum(c) || c == '_') path += QChar(c);
    else path += QString::asprintf("_%02x", c);
  }
  return path;
}

// A blocking call that may wait for the user to authorise it.
QDBusMessage Call(const QString& object, const char* interface, const char* method, const QVariantList& args,
                  int timeoutMs) {
  QDBusMessage call = QDBusMessage::createMethodCall(kUDisks, object, interface, method);
  call.setArguments(args);
  call.setInteractiveAuthorizationAllowed(true);
  return QDBusConnection::systemBus().call(call, QDBus::Block, timeoutMs);
}

bool Failed(const QDBusMessage& reply) { return reply.type() != QDBusMessage::ReplyMessage; }

FormatStatus StatusOf(const QDBusMessage& reply) {
  const QString error = reply.errorName();
  if (error.endsWith(".Cancelled") || error.endsWith(".NotAuthorizedDismissed")) return FormatStatus::Cancelled;
  return FormatStatus::Failed;
}

}  // namespace

// Only removable disks are ever relabelled or formatted, whoever asks.
bool LinuxVolumeService::SetLabel(const std::string& root, const std::string& label) {
  if (KindOf(root) != DriveKind::Removable) return false;
  const QString object = BlockObjectPath(root);
  if (object.isEmpty() || !QDBusConnection::systemBus().isConnected()) return false;
  return !Failed(Call(object, kFilesystem, "SetLabel", {QString::fromStdString(label), QVariantMap()}, 120000));
}

FormatStatus LinuxVolumeService::Format(const std::string& root, const std::string& label) {
  const QString object = BlockObjectPath(root);
  if (object.isEmpty() || KindOf(root) != DriveKind::Removable) return FormatStatus::NotPossible;
  if (!QDBusConnection::systemBus().isConnected()) return FormatStatus::Failed;
  // A mounted file system cannot be formatted; afterwards it is mounted again, where the
  // system's automounter puts it.
  QDBusMessage reply = Call(object, kFilesystem, "Unmount", {QVariantMap()}, 120000);
  if (Failed(reply)) return StatusOf(reply);
  QVariantMap options;
  options["label"] = QString::fromStdString(label);
  reply = Call(object, kBlock, "Format", {QString("vfat"), options}, 6 * 3600 * 1000);
  const FormatStatus status = Failed(reply) ? StatusOf(reply) : FormatStatus::Done;
  Call(object, kFilesystem, "Mount", {QVariantMap()}, 120000);
  return status;
}
