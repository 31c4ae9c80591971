#include "document/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw std::system_error(err, std::generic_category(), what + " " + EscapeControls(path));
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files being written, removed by the signal handler when the process is ended. Fixed
// slots: the handler may only touch what needs no allocation.
constexpr int kSlots = 16;
constexpr std::size_t kPathMax = 4096;
struct TempSlot {
  std::atomic<bool> used{false};
  std::atomic<bool> ready{false};
  char path[kPathMax];
};
TempSlot gSlots[kSlots];
std::once_flag gHandlersOnce;

// Installed only where the default action (end the process) was in effect.
extern "C" void RemoveTempsOnSignal(int sig) {
  for (TempSlot& slot : gSlots)
    if (slot.ready.load()) ::unlink(slot.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void InstallHandlers() {
  std::call_once(gHandlersOnce, [] {
    struct sigaction action {};
    action.sa_handler = RemoveTempsOnSignal;
    sigemptyset(&action.sa_mask);
    // A program with a handler of its own (or that ignores the signal) keeps it.
    for (int sig : {SIGINT, SIGTERM}) {
      struct sigaction current {};
      if (::sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
          (current.sa_flags & SA_SIGINFO))
        continue;
      ::sigaction(sig, &action, nullptr);
    }
  });
}

// Registers a temporary path for the signal handler while it exists.
class TempGuard {
 public:
  explicit TempGuard(const std::string& path) {
    if (path.size() >= kPathMax) return;
    for (TempSlot& slot : gSlots) {
      bool expected = false;
      if (slot.used.compare_exchange_strong(expected, true)) {
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.ready = true;
        slot_ = &slot;
        return;
      }
    }
  }
  ~TempGuard() {
    if (!slot_) return;
    slot_->ready = false;
    slot_->used = false;
  }
  TempGuard(const TempGuard&) = delete;
  TempGuard& operator=(const TempGuard&) = delete;

 private:
  TempSlot* slot_ = nullptr;
};

// Temporary files are named ".<file>.<pid>.ondrevo-XXXXXX": one left by a process that no longer
// exists is stale.
std::string TempPrefix(const std::string& base) {
  return "." + base + ".";
}

void RemoveStaleTemps(const std::string& folder, const std::string& base) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::string prefix = TempPrefix(base);
  const std::string marker = ".ondrevo-";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + marker.size() || name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const std::string rest = name.substr(prefix.size());
    const auto dot = rest.find(marker);
    if (dot == std::string::npos || dot == 0 || rest.size() != dot + marker.size() + 6) continue;
    const std::string pidText = rest.substr(0, dot);
    if (pidText.find_first_not_of("0123456789") != std::string::npos || pidText.size() > 9)
      continue;
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid <= 0 || (::kill(pid, 0) == 0 || errno != ESRCH)) continue;
    const std::string full = folder + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
      ::unlink(full.c_str());
  }
  ::closedir(dir);
}

}  // namespace

EFileRefused::EFileRefused(int err, const std::string& path, std::string reason)
    : std::system_error(err, std::generic_category(), reason + " " + path),
      reason_(std::move(reason)) {}

std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) Fail("Cannot read the link", current, errno);
    target.resize(static_cast<std::size_t>(n));
    current = target.starts_with('/') ? target : FolderOf(current) + "/" + target;
  }
  Fail("Cannot write", path, ELOOP);
}

void WriteFileAtomically(const std::string& requested, std::string_view data) {
  // Saving onto a link saves the file it leads to and keeps the link.
  const std::string path = ResolveLinks(requested);
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    throw EFileRefused(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, requested,
                       _("The file cannot be saved there: it is not a regular file."));
  // The rename would replace a file this user may not write; no write bit counts even for root.
  if (exists && ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0))
    throw EFileRefused(EACCES, requested, _("The file is read-only."));

  const std::string folder = FolderOf(path);
  const std::string base = BaseOf(path);
  RemoveStaleTemps(folder, base);
  InstallHandlers();
  std::string tmp =
      folder + "/" + TempPrefix(base) + std::to_string(::getpid()) + ".ondrevo-XXXXXX";
  int fd = -1;
  std::optional<TempGuard> guard;
  {
    // No signal between creating the file and registering it.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    fd = mkostemp(tmp.data(), O_CLOEXEC);
    const int err = errno;
    if (fd >= 0) guard.emplace(tmp);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (fd < 0) Fail("Cannot create a file in", folder, err);
  }

  auto abandon = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    Fail(what, path, err);
  };

  // Keep the permissions of the file we replace; a new file gets the usual 0666 & ~umask.
  mode_t mode;
  if (exists) {
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

TFileStamp StampOf(const std::string& path) {
  TFileStamp stamp;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp.Exists = true;
  stamp.ModifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  stamp.Size = static_cast<long long>(st.st_size);
  stamp.Inode = static_cast<unsigned long long>(st.st_ino);
  stamp.DeviceId = static_cast<unsigned long long>(st.st_dev);
  return stamp;
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  // Without blocking: a FIFO or a device in place of the file must not hang the caller.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EFileRefused(EINVAL, EscapeControls(path),
                       _("The file cannot be read: it is not a regular file."));
  }
  // A file over the cap is refused before a byte of it is read.
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    Fail("Cannot read", path, EFBIG);
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
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
    // The file may grow while it is read.
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
