#pragma once
// Writing entries below a destination folder and nowhere else: names lose leading "/", drive
// prefixes, "." and ".." elements; folders on the way are opened without following symbolic links;
// a link is made only when its target stays inside the destination.
#include <cstdint>
#include <string>
#include <vector>

namespace rarout {

// The name's elements that are safe to create below the destination (empty: nothing to write).
std::vector<std::string> SafeElements(const std::string& name);
// True when a link at `linkElements` with `target` resolves inside the destination.
bool LinkTargetStaysInside(const std::vector<std::string>& linkElements, const std::string& target);

// An open destination folder. Calls return 0 or an errno value.
class TDestination {
 public:
  explicit TDestination(const std::string& folder);
  ~TDestination();
  TDestination(const TDestination&) = delete;
  TDestination& operator=(const TDestination&) = delete;
  bool Ok() const { return rootFd_ >= 0; }

  int MakeFolder(const std::vector<std::string>& elements);
  // Opens a new regular file for writing (replacing a file or link of that name); returns an fd or -errno.
  int CreateFile(const std::vector<std::string>& elements);
  int MakeSymlink(const std::vector<std::string>& elements, const std::string& target);
  // Opens an existing regular file below the destination for reading; an fd or -errno.
  int OpenExisting(const std::vector<std::string>& elements);
  // Removes a file written by CreateFile (after a data error).
  void Remove(const std::vector<std::string>& elements);

 private:
  // The folder holding the last element, created as needed; -errno on failure.
  int OpenParent(const std::vector<std::string>& elements, bool create);
  int rootFd_ = -1;
};

}  // namespace rarout
