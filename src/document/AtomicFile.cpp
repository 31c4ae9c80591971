#include "document/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace ondrevo {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw std::system_error(err, std::generic_category(), what + " " + path);
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view data) {
  const std::string folder = FolderOf(path);
  std::string tmp = folder + "/.ondrevo-XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) Fail("Cannot create a file in", folder, errno);

  auto abandon = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    Fail(what, path, err);
  };

  // Keep the permissions of the file we replace; a new file gets the usual 0666 & ~umask.
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) abandon("Cannot write", errno);

  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon("Cannot write", errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) abandon("Cannot write", errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    Fail("Cannot write", path, err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    Fail("Cannot write", path, err);
  }
  // Make the rename itself durable.
  int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("Cannot open", path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    Fail("Cannot read", path, err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    Fail("Cannot read", path, EISDIR);
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      Fail("Cannot read", path, err);
    }
    if (n == 0) break;
    if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      Fail("Cannot read", path, EFBIG);
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

}  // namespace ondrevo
