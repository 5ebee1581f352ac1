#pragma once
// The transport of the single-instance hand-over: a lock file that the running instance holds for
// its whole life (released by the kernel when it dies) and a local socket beside it that receives
// fixed-size blocks. Both live in a folder private to the user.
#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;

// A folder only this user can enter, for sockets and locks: $XDG_RUNTIME_DIR when it is ours and
// closed to others, else "tandorfile-<uid>" made with mode 0700 in $TMPDIR or /tmp. Empty when no
// safe folder can be had.
std::string PrivateRuntimeFolder();

class TInstanceChannel : public QObject {
  Q_OBJECT
 public:
  // `name` identifies the instance (file-name safe); `blockSize` is the size of every block.
  TInstanceChannel(const std::string& name, int blockSize);
  ~TInstanceChannel() override;

  // True when this process holds the instance lock (or no lock could be made: then every start runs
  // on its own).
  bool IsFirst() const { return first_; }
  // First instance: removes a socket left by a crashed instance and starts accepting blocks. False
  // (and the lock released) when the socket cannot be made.
  bool Listen();
  // Stops accepting blocks.
  void Close();
  // Second start: connects to the running instance (retrying while it is still starting), sends one
  // block and waits until it has been handled. False when nobody answered within `timeoutMs`, or
  // when the running instance ended meanwhile (IsFirst() is then true: this start takes its place).
  bool Send(const QByteArray& block, int timeoutMs);

  // Called on the channel's thread with each complete block.
  std::function<void(const QByteArray& block)> OnBlock;

  std::string SocketPath() const { return socketPath_; }
  std::string LockPath() const { return lockPath_; }

 private:
  void Accept();
  void ReadFrom(QLocalSocket* socket);
  void ReleaseLock();
  int blockSize_;
  bool first_ = true;
  int lockFd_ = -1;
  std::string socketPath_;
  std::string lockPath_;
  QLocalServer* server_ = nullptr;
};
