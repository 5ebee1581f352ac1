#include "platform/MediaLabels.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr int kReadTimeoutMs = 2000;
constexpr int kLabelTimeoutMs = 20000;  // the service runs fatlabel, e2label and the like

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::canonical(path, ec);
  return ec ? std::string() : p.string();
}

// udisks2 names a block device's object after its kernel name, with every byte that is not a
// letter, digit or "_" written as "_xx".
QString UdisksObjectPath(const std::string& device) {
  const std::string real = Canonical(device);
  if (real.rfind("/dev/", 0) != 0) return {};
  std::string name = fs::path(real).filename().string(), escaped;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '_') {
      escaped.push_back(static_cast<char>(c));
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "_%02x", c);
      escaped += buf;
    }
  }
  return QString::fromStdString("/org/freedesktop/UDisks2/block_devices/" + escaped);
}

// udisks2 is asked only inside a Qt application (the bus connection needs its event loop) with a
// system bus that answers.
bool UdisksReachable() {
  if (!QCoreApplication::instance()) return false;
  QDBusConnection bus = QDBusConnection::systemBus();
  return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

// "\x20" escapes of udev's link names.
std::string UnescapeUdev(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out.push_back(static_cast<char>(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

}  // namespace

std::string FileSystemLabelOf(const std::string& device) {
  if (UdisksReachable()) {
    const QString path = UdisksObjectPath(device);
    if (!path.isEmpty()) {
      QDBusInterface block(kService, path, "org.freedesktop.UDisks2.Block", QDBusConnection::systemBus());
      block.setTimeout(kReadTimeoutMs);
      const QVariant label = block.property("IdLabel");
      if (label.isValid()) return label.toString().toStdString();
    }
  }
  const std::string real = Canonical(device);
  std::error_code ec;
  if (real.empty() || !fs::is_directory("/dev/disk/by-label", ec)) return {};
  for (const fs::directory_entry& e : fs::directory_iterator("/dev/disk/by-label", ec))
    if (Canonical(e.path().string()) == real) return UnescapeUdev(e.path().filename().string());
  return {};
}

bool SetFileSystemLabelOf(const std::string& device, const std::string& label) {
  if (!UdisksReachable()) return false;
  const QString path = UdisksObjectPath(device);
  if (path.isEmpty()) return false;
  QDBusInterface fsys(kService, path, "org.freedesktop.UDisks2.Filesystem", QDBusConnection::systemBus());
  if (!fsys.isValid()) return false;
  fsys.setTimeout(kLabelTimeoutMs);
  const QDBusMessage reply = fsys.call("SetLabel", QString::fromStdString(label), QVariantMap());
  return reply.type() == QDBusMessage::ReplyMessage;
}
