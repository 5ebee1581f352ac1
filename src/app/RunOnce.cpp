#include "app/RunOnce.h"

#include <QFile>
#include <unistd.h>

#include "core/TextUtil.h"
#include "platform/SingleInstance.h"

QByteArray EncodeHandOverBlock(const QStringList& arguments) {
  QByteArray block(kHandOverBlockSize, '\0');
  int at = 0;
  for (const QString& a : arguments) {
    const QByteArray text = QFile::encodeName(a);
    if (text.isEmpty()) continue;
    if (text.contains('\0') || at + text.size() + 1 > kHandOverBlockSize - 1) break;  // keep the final zero
    memcpy(block.data() + at, text.constData(), size_t(text.size()));
    at += int(text.size()) + 1;
  }
  return block;
}

QStringList DecodeHandOverBlock(const QByteArray& block) {
  QStringList texts;
  qsizetype at = 0;
  while (at < block.size()) {
    const qsizetype end = block.indexOf('\0', at);
    if (end < 0 || end == at) break;  // an unterminated tail is not a text
    texts << QFile::decodeName(block.mid(at, end - at));
    at = end + 1;
  }
  return texts;
}

namespace {

// Program file name and user: "TANDORFILE-1000".
std::string ChannelName(const std::string& instanceName) {
  std::string name;
  for (char c : instanceName) name += (c == '/' || c == '\0') ? '_' : c;
  return name + "-" + std::to_string(geteuid());
}

std::string UpperCase(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

}  // namespace

TRunOnce::TRunOnce(const std::string& programPath) : instanceName_(UpperCase(ExtractFileName(programPath))) {
  channel_ = std::make_unique<TInstanceChannel>(ChannelName(instanceName_), kHandOverBlockSize);
  channel_->OnBlock = [this](const QByteArray& block) { Received(block); };
}

TRunOnce::~TRunOnce() {
  destroying_ = true;
  channel_.reset();
}

bool TRunOnce::IsSecondStart() const { return !channel_->IsFirst(); }

bool TRunOnce::Listen() { return channel_->Listen(); }

void TRunOnce::Close() { channel_->Close(); }

bool TRunOnce::HandOver(const QStringList& arguments, int timeoutMs) {
  return channel_->Send(EncodeHandOverBlock(arguments), timeoutMs);
}

std::string TRunOnce::SocketPath() const { return channel_->SocketPath(); }

void TRunOnce::Received(const QByteArray& block) {
  const QStringList paramStr = DecodeHandOverBlock(block);
  if (paramStr.isEmpty() || destroying_) return;
  if (!OnOtherInstance) {
    pending_.push_back(paramStr);
    return;
  }
  OnOtherInstance(this, int(paramStr.size()) - 1, paramStr);
}

void TRunOnce::DeliverPending() {
  std::vector<QStringList> pending;
  pending.swap(pending_);
  for (const QStringList& paramStr : pending)
    if (OnOtherInstance && !destroying_) OnOtherInstance(this, int(paramStr.size()) - 1, paramStr);
}
