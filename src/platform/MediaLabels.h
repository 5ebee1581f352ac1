#pragma once
// File-system labels of block devices: read and set through udisks2 on the system bus when it
// answers; read from /dev/disk/by-label otherwise.
#include <string>

// The label of the file system on `device` ("/dev/sdb1"); empty when none or unknown.
std::string FileSystemLabelOf(const std::string& device);
// Sets the label through udisks2; false when the service is missing or refuses.
bool SetFileSystemLabelOf(const std::string& device, const std::string& label);
