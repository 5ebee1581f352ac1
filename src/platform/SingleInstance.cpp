#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr int kStalledClientMs = 5000;  // a client that does not finish its block in this time is dropped

bool IsPrivateFolder(const std::string& dir) {
  struct stat st {};
  if (dir.empty() || lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Makes (or re-uses) "<base>/tandorfile-<uid>" when it is a real folder of ours; closes it to others.
std::string MakePrivateFolder(const std::string& base) {
  if (base.empty()) return {};
  const std::string dir = base + "/tandorfile-" + std::to_string(geteuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return {};
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return {};
  return IsPrivateFolder(dir) ? dir : std::string();
}

}  // namespace

std::string PrivateRuntimeFolder() {
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r && IsPrivateFolder(r)) return r;
  if (const char* t = std::getenv("TMPDIR"); t && *t)
    if (std::string d = MakePrivateFolder(t); !d.empty()) return d;
  return MakePrivateFolder("/tmp");
}

TInstanceChannel::TInstanceChannel(const std::string& name, int blockSize) : blockSize_(blockSize) {
  const std::string folder = PrivateRuntimeFolder();
  if (folder.empty()) return;  // no safe place: run on our own
  socketPath_ = folder + "/" + name + ".sock";
  lockPath_ = folder + "/" + name + ".lock";
  lockFd_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) return;
  if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    first_ = (errno != EWOULDBLOCK);
    if (first_) ReleaseLock();
  }
}

TInstanceChannel::~TInstanceChannel() {
  Close();
  ReleaseLock();
}

void TInstanceChannel::ReleaseLock() {
  if (lockFd_ >= 0) close(lockFd_);  // closing drops the lock
  lockFd_ = -1;
}

bool TInstanceChannel::Listen() {
  if (!first_ || socketPath_.empty() || lockFd_ < 0) return false;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString path = QString::fromStdString(socketPath_);
  QLocalServer::removeServer(path);  // we hold the lock: whatever is there was left by a dead instance
  if (!server_->listen(path)) {
    delete server_;
    server_ = nullptr;
    ReleaseLock();
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, &TInstanceChannel::Accept);
  return true;
}

void TInstanceChannel::Close() {
  if (!server_) return;
  server_->close();  // also removes the socket file
  delete server_;
  server_ = nullptr;
}

void TInstanceChannel::Accept() {
  while (server_ && server_->hasPendingConnections()) {
    QLocalSocket* socket = server_->nextPendingConnection();
    socket->setParent(this);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kStalledClientMs, socket, [socket] {
      socket->abort();
      socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0) ReadFrom(socket);
  }
}

void TInstanceChannel::ReadFrom(QLocalSocket* socket) {
  if (socket->property("done").toBool()) {
    socket->readAll();
    return;
  }
  QByteArray block = socket->property("block").toByteArray();
  block += socket->read(blockSize_ - block.size());
  if (block.size() < blockSize_) {
    socket->setProperty("block", block);
    return;
  }
  socket->setProperty("done", true);
  socket->setProperty("block", QVariant());
  if (OnBlock) OnBlock(block);
  socket->write("\1", 1);  // handled: the sender may end
  socket->flush();
  socket->disconnectFromServer();
}

bool TInstanceChannel::Send(const QByteArray& block, int timeoutMs) {
  if (socketPath_.empty() || block.size() != blockSize_) return false;
  QDeadlineTimer deadline(timeoutMs);
  const QString path = QString::fromStdString(socketPath_);
  while (!deadline.hasExpired()) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(int(std::min<qint64>(1000, deadline.remainingTime())))) {
      if (lockFd_ >= 0 && flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        first_ = true;  // the running instance has ended meanwhile: this start takes its place
        return false;
      }
      QThread::msleep(100);  // the running instance may still be starting
      continue;
    }
    socket.write(block);
    while (socket.bytesToWrite() > 0)
      if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) return false;
    while (socket.bytesAvailable() < 1)
      if (!socket.waitForReadyRead(int(deadline.remainingTime()))) return false;
    return socket.read(1) == "\1";
  }
  return false;
}
