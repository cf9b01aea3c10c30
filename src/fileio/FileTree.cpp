#include "fileio/FileTree.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace somnara::fileio {

/// A directory opened by descriptor and the name of an entry in it.
struct FileTree::Place {
  int dir = -1;  // O_PATH descriptor, owned
  std::string name;
  Place(int d, std::string n) : dir(d), name(std::move(n)) {}
  Place(Place&& o) noexcept : dir(o.dir), name(std::move(o.name)) { o.dir = -1; }
  Place(const Place&) = delete;
  ~Place() {
    if (dir >= 0) ::close(dir);
  }
};

namespace {

std::vector<std::string> components(const std::string& relative) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) out.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// A name for a temporary link next to name; nobody else creates names of this form.
std::string temporaryName(const std::string& name) {
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random) {
    const auto now = static_cast<unsigned long>(::time(nullptr)) ^ static_cast<unsigned long>(::getpid());
    for (std::size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(now >> (8 * i));
  }
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string out = "." + name + ".";
  for (unsigned char c : random) out.push_back(kChars[c % (sizeof kChars - 1)]);
  return out;
}

// Gives the unnamed file fd the name target in dir.
int linkUnnamed(int fd, int dir, const char* target) {
  if (::linkat(fd, "", dir, target, AT_EMPTY_PATH) == 0) return 0;
  // AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH; the descriptor's /proc entry does not.
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, dir, target, AT_SYMLINK_FOLLOW);
}

// Sets fd's mode, writes content and fsyncs it; false with errno set on failure.
bool fill(int fd, std::string_view content, mode_t mode) {
  return ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
}

// Gives the unnamed file fd the name name in dir, replacing what is there
// (through a temporary name, removed again on failure). 0 or an errno value.
int nameUnnamed(int fd, int dir, const std::string& name) {
  if (linkUnnamed(fd, dir, name.c_str()) == 0) return 0;
  if (errno != EEXIST) return errno;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = temporaryName(name);
    if (linkUnnamed(fd, dir, tmp.c_str()) == 0) {
      if (::renameat(dir, tmp.c_str(), dir, name.c_str()) == 0) return 0;
      const int error = errno;
      ::unlinkat(dir, tmp.c_str(), 0);
      return error;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Writes content into a new file under a temporary name and renames it over
// name; the temporary file is removed on failure. 0 or an errno value.
int writeNamed(int dir, const std::string& name, std::string_view content, mode_t mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = temporaryName(name);
    int fd = ::openat(dir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return errno;
    bool ok = fill(fd, content, mode);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      error = errno;
    }
    if (ok && ::renameat(dir, tmp.c_str(), dir, name.c_str()) == 0) return 0;
    if (ok) error = errno;
    ::unlinkat(dir, tmp.c_str(), 0);
    return error;
  }
  return EEXIST;
}

void syncDirectory(int dir) {
  int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the change is in place; only its durability is unconfirmed
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

std::optional<FileTree> FileTree::open(const std::string& path, Links links, IoError* error) {
  int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = IoError{errno, path, "open directory"};
    return std::nullopt;
  }
  std::string top = path;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  return FileTree(fd, std::move(top), links);
}

FileTree::FileTree(FileTree&& other) noexcept : fd_(other.fd_), top_(std::move(other.top_)), links_(other.links_) {
  other.fd_ = -1;
}

FileTree& FileTree::operator=(FileTree&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
    top_ = std::move(other.top_);
    links_ = other.links_;
  }
  return *this;
}

FileTree::~FileTree() {
  if (fd_ >= 0) ::close(fd_);
}

std::string FileTree::pathOf(const std::string& relative) const {
  return (top_ == "/" ? "" : top_) + "/" + relative;
}

std::optional<FileTree::Place> FileTree::place(const std::string& relative, bool create, IoError* error) const {
  auto fail = [&](int err, int dir) {
    if (dir >= 0) ::close(dir);
    *error = IoError{err, pathOf(relative), create ? "create directory for" : "open"};
    return std::nullopt;
  };
  const std::vector<std::string> parts = components(relative);
  if (parts.empty()) return fail(EINVAL, -1);
  if (links_ == Links::Refuse)
    for (const auto& p : parts)
      if (p == "." || p == "..") return fail(EINVAL, -1);
  if (links_ == Links::Follow && !create) {
    // The kernel resolves the directory, links and all, in one call.
    const std::size_t slash = relative.find_last_of('/', relative.find_last_not_of('/'));
    const std::string parent = slash == std::string::npos ? "." : relative.substr(0, slash + 1);
    const int dir = ::openat(fd_, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return fail(errno, -1);
    return Place(dir, parts.back());
  }
  const int noFollow = links_ == Links::Refuse ? O_NOFOLLOW : 0;
  int dir = ::openat(fd_, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail(errno, -1);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const char* name = parts[i].c_str();
    int next = ::openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC | noFollow);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(dir, name, 0755) != 0 && errno != EEXIST) return fail(errno, dir);
      next = ::openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC | noFollow);
    }
    // A symbolic link opened with O_PATH | O_NOFOLLOW | O_DIRECTORY fails with ENOTDIR.
    if (next < 0) return fail(errno, dir);
    ::close(dir);
    dir = next;
  }
  return Place(dir, parts.back());
}

ReadResult FileTree::read(const std::string& relative, std::size_t maxBytes) const {
  IoError err;
  auto at = place(relative, false, &err);
  if (!at) return {std::nullopt, IoError{err.error, err.path, "read"}};
  const int noFollow = links_ == Links::Refuse ? O_NOFOLLOW : 0;
  int fd = ::openat(at->dir, at->name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | noFollow);
  if (fd < 0) return {std::nullopt, IoError{errno, pathOf(relative), "read"}};
  auto result = readAll(fd, maxBytes);
  if (!result.content) result.error = IoError{result.error.error, pathOf(relative), "read"};
  ::close(fd);
  return result;
}

std::optional<IoError> FileTree::writeAtomically(const std::string& relative, std::string_view content,
                                                 mode_t mode) const {
  IoError err;
  auto at = place(relative, true, &err);
  if (!at) return err;
  int error = 0;
  int fd = ::openat(at->dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) {
    error = fill(fd, content, mode) ? nameUnnamed(fd, at->dir, at->name) : errno;
    ::close(fd);
    // Neither CAP_DAC_READ_SEARCH nor /proc: the unnamed file cannot be named.
    if (error == ENOENT || error == EPERM) error = writeNamed(at->dir, at->name, content, mode);
  } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
    error = writeNamed(at->dir, at->name, content, mode);  // no unnamed files on this file system
  } else {
    error = errno;
  }
  if (error != 0) return IoError{error, pathOf(relative), "write"};
  syncDirectory(at->dir);
  return std::nullopt;
}

std::optional<IoError> FileTree::appendLine(const std::string& relative, std::string_view line) const {
  IoError err;
  auto at = place(relative, true, &err);
  if (!at) return err;
  int fd = ::openat(at->dir, at->name.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
  if (fd < 0) return IoError{errno, pathOf(relative), "open"};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    return IoError{EPERM, pathOf(relative), "append to (not a regular file with one link)"};
  }
  std::string text(line);
  text.push_back('\n');
  if (!writeAll(fd, text)) {
    IoError e{errno, pathOf(relative), "append to"};
    ::close(fd);
    return e;
  }
  if (::close(fd) != 0) return IoError{errno, pathOf(relative), "append to"};
  return std::nullopt;
}

int FileTree::openPrivateFile(const std::string& relative, IoError* error) const {
  auto at = place(relative, true, error);
  if (!at) return -1;
  const int fd = ::openat(at->dir, at->name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                          0600);
  if (fd < 0) {
    *error = IoError{errno, pathOf(relative), "open"};
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    *error = IoError{EPERM, pathOf(relative), "open (not a regular file with one link)"};
    return -1;
  }
  return fd;
}

std::optional<IoError> FileTree::remove(const std::string& relative) const {
  IoError err;
  auto at = place(relative, false, &err);
  if (!at) return err.error == ENOENT ? std::nullopt : std::optional(IoError{err.error, err.path, "remove"});
  if (::unlinkat(at->dir, at->name.c_str(), 0) != 0 && errno != ENOENT)
    return IoError{errno, pathOf(relative), "remove"};
  return std::nullopt;
}

std::optional<IoError> FileTree::moveAside(const std::string& relative, std::time_t now,
                                           std::string* movedTo) const {
  IoError err;
  auto at = place(relative, false, &err);
  if (!at) return IoError{err.error, err.path, "move aside"};
  const std::string stamp = ".corrupt-" + std::to_string(static_cast<long long>(now));
  for (int n = 1; n <= 1000; ++n) {
    const std::string aside = at->name + stamp + (n == 1 ? "" : "-" + std::to_string(n));
    int rc = ::renameat2(at->dir, at->name.c_str(), at->dir, aside.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
      // No RENAME_NOREPLACE on this file system: a second link never replaces either.
      rc = ::linkat(at->dir, at->name.c_str(), at->dir, aside.c_str(), 0);
      if (rc == 0 && ::unlinkat(at->dir, at->name.c_str(), 0) != 0) {
        IoError e{errno, pathOf(relative), "move aside"};
        ::unlinkat(at->dir, aside.c_str(), 0);
        return e;
      }
    }
    if (rc == 0) {
      syncDirectory(at->dir);
      if (movedTo) {
        const auto slash = relative.find_last_of('/');
        *movedTo = (slash == std::string::npos ? std::string() : relative.substr(0, slash + 1)) + aside;
      }
      return std::nullopt;
    }
    if (errno != EEXIST) return IoError{errno, pathOf(relative), "move aside"};
  }
  return IoError{EEXIST, pathOf(relative), "move aside"};
}

bool FileTree::isDirectory(const std::string& relative) const {
  IoError err;
  auto at = place(relative, false, &err);
  if (!at) return false;
  struct stat st {};
  const int flags = links_ == Links::Refuse ? AT_SYMLINK_NOFOLLOW : 0;
  return ::fstatat(at->dir, at->name.c_str(), &st, flags) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace somnara::fileio
