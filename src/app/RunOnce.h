#pragma once
// TRunOnce: one running instance per program file name and user. A second start hands its whole
// argument list to the running instance and ends; the running instance gets it on its main thread
// as OnOtherInstance.
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TInstanceChannel;

// The hand-over block: 65,536 bytes holding the arguments (element 0 first) as consecutive texts,
// each ended by a zero byte, then one more zero byte.
constexpr int kHandOverBlockSize = 65536;
// Arguments that do not fit whole are left out (with all after them); empty ones are skipped, since
// an empty text ends the list.
QByteArray EncodeHandOverBlock(const QStringList& arguments);
// The texts up to the first empty one.
QStringList DecodeHandOverBlock(const QByteArray& block);

class TRunOnce : public QObject {
  Q_OBJECT
 public:
  // Takes the instance lock for the program at `programPath`.
  explicit TRunOnce(const std::string& programPath);
  ~TRunOnce() override;

  // The upper-cased file name of the program ("TANDORFILE").
  const std::string& InstanceName() const { return instanceName_; }
  bool IsSecondStart() const;
  // First start: accept hand-overs. False when that is not possible (the program then runs alone).
  bool Listen();
  // Stops accepting hand-overs (the window is closing).
  void Close();
  // Second start: sends `arguments` (element 0 the program path) to the running instance and waits
  // until it has handled them. False when no instance answered within `timeoutMs`.
  bool HandOver(const QStringList& arguments, int timeoutMs = 8000);

  // Sender, number of arguments after element 0, the arguments. Hand-overs that arrive before it is
  // set (the window is still being made) wait for DeliverPending.
  std::function<void(QObject* sender, int paramCount, const QStringList& paramStr)> OnOtherInstance;
  void DeliverPending();

  std::string SocketPath() const;

 private:
  void Received(const QByteArray& block);
  std::string instanceName_;
  std::unique_ptr<TInstanceChannel> channel_;
  bool destroying_ = false;
  std::vector<QStringList> pending_;
};
