#include "zip/ZipKitTypes.h"

#include "zip/ZipMessages.h"

const char* const kStoreSuffixNames[kStoreSuffixCount] = {"gif", "png", "z",   "zip", "zoo", "arc",
                                                          "lzh", "arj", "taz", "tgz", "lha", "rar",
                                                          "ace", "cab", "gz",  "gzip", "jar", "exe"};

EZipKit::EZipKit(int32_t id) : EZipKit(id, ZipKitMessageText(id), id != kMsgUserCanceled) {}
EZipKit::EZipKit(int32_t id, int64_t value) : EZipKit(id, ZipKitFormat(id, value), id != kMsgUserCanceled) {}
EZipKit::EZipKit(int32_t id, const std::string& value)
    : EZipKit(id, ZipKitFormat(id, value), id != kMsgUserCanceled) {}
EZipKit::EZipKit(int32_t id, std::string text, bool display)
    : std::runtime_error(std::move(text)), id_(id), display_(display) {}
