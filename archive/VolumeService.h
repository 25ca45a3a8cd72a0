#pragma once
// Drives and volumes as the component sees them: which file system holds a path, what
// kind of drive it is, its label, serial number and space. LinuxVolumeService reads the
// running system; SimulatedVolumeService adds removable drives whose disks are folders.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The platform's drive kinds, numbered as the archive component reports them.
enum class DriveKind : int { Unknown = 0, NoRootDir = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6 };

enum class VolumeStatus {
  Ok,
  NotReady,          // no disk in the drive
  GeneralFailure,    // a disk that cannot be read as a file system, such as an unformatted one
  Failed
};

// How formatting a disk ended.
enum class FormatStatus {
  Done,
  Cancelled,    // by the user, e.g. at the authorisation question
  Failed,
  NotPossible   // no disk, or not a disk that can be formatted
};

// Relabels and formats block devices. The component itself needs nothing beyond QtCore;
// the program installs a manager that talks to the system's disk service.
class DiskManager {
 public:
  virtual ~DiskManager() = default;
  virtual bool SetLabel(const std::string& device, const std::string& label) = 0;
  virtual FormatStatus Format(const std::string& device, const std::string& label) = 0;
  // Mounts the file system on `device` where the system chooses; true when it is mounted.
  virtual bool Mount(const std::string& device) { (void)device; return false; }
};

struct VolumeInfo {
  std::string Label;
  uint32_t Serial = 0;
};

class VolumeService {
 public:
  virtual ~VolumeService() = default;
  // Root of the file system holding `absolutePath` (a mount point with a trailing '/').
  virtual std::string DriveRootOf(const std::string& absolutePath) = 0;
  // Whether `root` is the root of a drive this service knows.
  virtual bool DriveExists(const std::string& root) = 0;
  virtual DriveKind KindOf(const std::string& root) = 0;
  virtual VolumeStatus ReadVolumeInfo(const std::string& root, VolumeInfo& info) = 0;
  // Bytes available to this user and total bytes; false when unknown.
  virtual bool DiskSpace(const std::string& root, int64_t& freeBytes, int64_t& totalBytes) = 0;

  // A desktop mounts each disk under a path of its own (/media/USER/LABEL), so a removable
  // drive is known by its device rather than by where its current disk is mounted.
  // The drive holding `root` when it is a removable drive with a device, else empty.
  virtual std::string DriveIdOf(const std::string& root);
  // Where the disk now in drive `id` is mounted (a root with a trailing '/'); with `mount`
  // an unmounted disk is mounted first. Empty when the drive holds no usable disk.
  virtual std::string MountPointOf(const std::string& id, bool mount);

  // Labelling and formatting removable disks (multi-volume sets). Format may take long
  // and is called off the user-interface thread. Without a back end both fail.
  virtual bool SetLabel(const std::string& root, const std::string& label);
  virtual FormatStatus Format(const std::string& root, const std::string& label);
};

class LinuxVolumeService : public VolumeService {
 public:
  static std::shared_ptr<LinuxVolumeService> Instance();

  std::string DriveRootOf(const std::string& absolutePath) override;
  bool DriveExists(const std::string& root) override;
  DriveKind KindOf(const std::string& root) override;
  VolumeStatus ReadVolumeInfo(const std::string& root, VolumeInfo& info) override;
  bool DiskSpace(const std::string& root, int64_t& freeBytes, int64_t& totalBytes) override;
  // The port link (/dev/disk/by-path) of a removable drive, else its whole-disk device
  // (/dev/sdb for /dev/sdb1).
  std::string DriveIdOf(const std::string& root) override;
  // Mounting goes through the installed disk manager.
  std::string MountPointOf(const std::string& id, bool mount) override;
  // Through the installed disk manager; without one both fail.
  bool SetLabel(const std::string& root, const std::string& label) override;
  FormatStatus Format(const std::string& root, const std::string& label) override;
  static void SetDiskManager(std::shared_ptr<DiskManager> manager);

  struct Mount {
    std::string Root;    // with a trailing '/'
    std::string Source;  // device or remote source
    std::string FsType;
  };
  // Mounted file systems from /proc/self/mountinfo; the last mount on a point wins.
  static std::vector<Mount> Mounts();
  // The mount entry for `root`. Where no entry holds "/" (a chroot, a minimal container,
  // no /proc), "/" is a fixed drive with no source.
  static bool FindMount(const std::string& root, Mount& out);
};

// Removable drives made of folders, for tests: a drive is a folder path; each disk is a
// folder with its own label and capacity that is moved onto the drive path when it is
// inserted and moved away when ejected. Paths outside every simulated drive go to the
// fallback service.
// A drive added with `remount` behaves as a desktop does: every disk inserted (and every
// disk formatted) is mounted under a new path, "<drive>.<n>", and the drive path itself
// is only the drive's id. Without automount an inserted disk stays unmounted until
// MountPointOf is asked to mount it.
class SimulatedVolumeService : public VolumeService {
 public:
  explicit SimulatedVolumeService(std::shared_ptr<VolumeService> fallback = LinuxVolumeService::Instance());
  ~SimulatedVolumeService() override;

  // Registers a drive at `path` (which must not exist yet), empty.
  void AddDrive(const std::string& path, DriveKind kind = DriveKind::Removable, bool remount = false);
  void SetAutomount(bool on);
  int MountCount() const;
  // Creates a disk for drive `path`, not inserted, and returns its number.
  int AddDisk(const std::string& path, const std::string& label, int64_t capacity, bool formatted = true);
  // Ejects whatever is in the disk's drive, then inserts the disk.
  void Insert(int disk);
  void Eject(const std::string& path);
  // The disk in drive `path`, or -1.
  int InsertedDisk(const std::string& path) const;
  // Where the disk's files are now: its mount point while mounted, else its own folder.
  std::string DiskFolder(int disk) const;
  std::string Label(int disk) const;
  void SetLabel(int disk, const std::string& label);
  bool Formatted(int disk) const;
  void SetFormatted(int disk, bool formatted);
  int64_t Capacity(int disk) const;

  std::string DriveRootOf(const std::string& absolutePath) override;
  bool DriveExists(const std::string& root) override;
  DriveKind KindOf(const std::string& root) override;
  VolumeStatus ReadVolumeInfo(const std::string& root, VolumeInfo& info) override;
  bool DiskSpace(const std::string& root, int64_t& freeBytes, int64_t& totalBytes) override;
  std::string DriveIdOf(const std::string& root) override;
  std::string MountPointOf(const std::string& id, bool mount) override;

  // Formatting empties the disk's folder, sets its label and marks it formatted, unless
  // an outcome other than Done is set for the formats to come.
  bool SetLabel(const std::string& root, const std::string& label) override;
  FormatStatus Format(const std::string& root, const std::string& label) override;
  void SetFormatOutcome(FormatStatus outcome);
  int FormatCount() const;
  // Runs on the formatting thread at the start of each format.
  std::function<void()> OnFormat;

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
