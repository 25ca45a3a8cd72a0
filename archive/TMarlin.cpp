#include "TMarlin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <cerrno>

#include "MarlinMessages.h"

TMarlin::TMarlin(MarlinUi* ui, std::shared_ptr<VolumeService> volumes)
    : ui_(ui), volumes_(volumes ? std::move(volumes) : LinuxVolumeService::Instance()) {}

TMarlin::~TMarlin() { ClearContents(); }

void TMarlin::SetVolumeService(std::shared_ptr<VolumeService> volumes) {
  volumes_ = volumes ? std::move(volumes) : LinuxVolumeService::Instance();
}

void TMarlin::SetZipFilename(const std::string& v) {
  fZipFilename = v;
  if (!designing_) List();
}

void TMarlin::SetPassword(const std::string& v) {
  // At most 255 bytes, never ending inside a UTF-8 character.
  size_t n = std::min<size_t>(v.size(), 255);
  if (n < v.size())
    while (n > 0 && (uint8_t(v[n]) & 0xC0) == 0x80) --n;
  fPassword = v.substr(0, n);
}

void TMarlin::SetDLLDirectory(const std::string& v) {
  if (v == fDLLDirectory) return;
  fDLLDirectory = v;
  // The root folder keeps its only separator.
  if (fDLLDirectory.size() > 1 && fDLLDirectory.back() == '/') fDLLDirectory.pop_back();
}

int TMarlin::EntryCount() const { return fZipFilename.empty() ? 0 : int(fContents.size()); }

std::string TMarlin::ApplicationTitle() {
  if (QCoreApplication::instance()) {
    const QString name = QCoreApplication::applicationName();
    if (!name.isEmpty()) return name.toStdString();
  }
  return "Tessera";
}

int TMarlin::ShowBox(const std::string& text, BoxButtons buttons, BoxIcon icon, int defaultButton) {
  if (!ui_) return boxresult::None;
  return ui_->ShowBox(BoxRequest{text, ApplicationTitle(), buttons, icon, defaultButton});
}

void TMarlin::ProcessEvents() {
  if (ui_) ui_->ProcessEvents();
}

TMarlin::BusyCursor::BusyCursor(TMarlin& m) : m_(m) {
  if (m_.ui_) m_.ui_->SetBusyCursor(true);
}

TMarlin::BusyCursor::~BusyCursor() {
  if (m_.ui_) m_.ui_->SetBusyCursor(false);
}

std::string TMarlin::LoadMessageText(int id, const std::string& defaultText) const {
  const std::string_view text = MessageTableText(id);
  return text.empty() ? defaultText : std::string(text);
}

void TMarlin::ReportMessage(int id, const std::string& extra) {
  const std::string message = LoadMessageText(id, MissingMessageText(id)) + extra;
  fLastMessage = message;
  fLastErrCode = id;
  if (!fUnattended) ShowBox(message, BoxButtons::Ok, BoxIcon::Information);
  if (OnMessage) OnMessage(this, 0, message);
}

void TMarlin::ReportException(const EMarlin& e) {
  if (e.Display && !fUnattended) ShowBox(e.what(), BoxButtons::Ok, BoxIcon::Stop);
  fLastErrCode = e.MsgId;
  fLastMessage = e.what();
  if (OnMessage) OnMessage(this, 0, fLastMessage);
}

int TMarlin::ReportTrapped(const Trapped& t, int otherId) {
  switch (t.kind) {
    case Trapped::Kind::Marlin: ReportException(*t.error); return -7;
    case Trapped::Kind::Memory: ReportMessage(10103); return -8;
    case Trapped::Kind::Other: ReportMessage(otherId); return -9;
    case Trapped::Kind::None: break;
  }
  return 0;
}

void TMarlin::ClearContents() {
  fContents.clear();
}

int TMarlin::RemoveFile(const std::string& name, DeleteOpts mode) {
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0) return -1;
  if (mode == DeleteOpts::htdAllowUndo) {
    // Without a usable trash the file stays: deleting it for good would take the undo
    // the caller asked for.
    // Qt does not create a missing home trash by itself and then misplaces the file.
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QDir().mkpath(trash + "/files");
    QDir().mkpath(trash + "/info");
    return QFile::moveToTrash(QString::fromStdString(name)) ? 0 : EIO;
  }
  return ::unlink(name.c_str()) == 0 ? 0 : errno;
}

bool TMarlin::DirExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void TMarlin::QueryDiskSpace(DiskSpaceWanted which) {
  int64_t freeBytes = -1, sizeBytes = -1;
  if (!volumes_->DiskSpace(fDriveRoot, freeBytes, sizeBytes)) freeBytes = sizeBytes = -1;
  if (which != DiskSpaceWanted::Size) fVolumeFreeBytes = freeBytes;
  if (which != DiskSpaceWanted::Free) fVolumeSizeBytes = sizeBytes;
}
