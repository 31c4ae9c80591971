#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace ondrevo {

// A target that is refused before anything is written: read-only, or not a regular file.
// Reason() is the translated sentence to show.
class EFileRefused : public std::system_error {
 public:
  EFileRefused(int err, const std::string& path, std::string reason);
  const std::string& Reason() const { return reason_; }

 private:
  std::string reason_;
};

// Replaces `path` with `data` atomically: temp file in the same folder, flush, fsync, rename.
// A symbolic link is followed and its final target replaced in that target's folder. A target
// that is read-only for this user or not a regular file raises EFileRefused; other failures
// raise std::system_error naming the file. On failure the old file is untouched. Temporary files
// are removed when SIGINT or SIGTERM ends the process during the write, and those left by a
// process that died earlier are removed by the next write of the same file.
void WriteFileAtomically(const std::string& path, std::string_view data);

// The file a path leads to once symbolic links are followed (the path itself when it is none;
// the path a dangling link names). Raises std::system_error for a loop of links.
std::string ResolveLinks(const std::string& path);

// What tells a changed file from the one read: its modification time, size and identity. A save
// that replaces the file (atomically, so a new inode) changes it as well.
struct TFileStamp {
  bool Exists = false;
  long long ModifiedNs = 0, Size = 0;
  unsigned long long Inode = 0, DeviceId = 0;
  bool operator==(const TFileStamp&) const = default;
};
TFileStamp StampOf(const std::string& path);  // Exists false when it cannot be found

// Reads a whole regular file without blocking (a FIFO or device in its place raises EFileRefused);
// raises std::system_error naming the file. A file above maxBytes raises EFBIG before it is read.
std::string ReadWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace ondrevo
