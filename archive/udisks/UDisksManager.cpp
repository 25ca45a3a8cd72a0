#include "UDisksManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <cctype>
#include <filesystem>

namespace {

constexpr const char* kUDisks = "org.freedesktop.UDisks2";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";

// UDisks2 names a block device's object after its kernel name, escaping every byte
// other than letters, digits and '_' as _xx.
QString BlockObjectPath(const std::string& device) {
  std::error_code ec;
  const std::string name = std::filesystem::canonical(device, ec).filename().string();
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

class UDisksManager : public DiskManager {
 public:
  bool SetLabel(const std::string& device, const std::string& label) override {
    const QString object = BlockObjectPath(device);
    if (object.isEmpty() || !QDBusConnection::systemBus().isConnected()) return false;
    return !Failed(Call(object, kFilesystem, "SetLabel", {QString::fromStdString(label), QVariantMap()}, 120000));
  }

  // Mounted where the desktop would mount it (/media/USER/LABEL); UDisks2 refuses a device
  // without a file system, and one already mounted.
  bool Mount(const std::string& device) override {
    const QString object = BlockObjectPath(device);
    if (object.isEmpty() || !QDBusConnection::systemBus().isConnected()) return false;
    const QDBusMessage reply = Call(object, kFilesystem, "Mount", {QVariantMap()}, 120000);
    return !Failed(reply) && !reply.arguments().value(0).toString().isEmpty();
  }

  FormatStatus Format(const std::string& device, const std::string& label) override {
    const QString object = BlockObjectPath(device);
    if (object.isEmpty()) return FormatStatus::NotPossible;
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
};

}  // namespace

std::shared_ptr<DiskManager> MakeUDisksManager() { return std::make_shared<UDisksManager>(); }
