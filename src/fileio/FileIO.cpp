#include "fileio/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace somnara::fileio {
namespace {

std::string parentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

IoError errorFor(const std::string& action, const std::string& path) {
  return IoError{errno, path, action};
}

// Makes a completed rename durable; failures here are not reported because
// the new content is already in place.
void syncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string IoError::message() const {
  return "cannot " + action + " " + path + ": " + std::strerror(error);
}

bool IoError::isPermissionDenied() const {
  return error == EACCES || error == EPERM || error == EROFS;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<IoError> makeDirectories(const std::string& dir) {
  if (dir.empty() || isDirectory(dir)) return std::nullopt;
  std::string parent = parentOf(dir);
  if (parent != dir) {
    if (auto err = makeDirectories(parent)) return err;
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errorFor("create directory", dir);
  if (!isDirectory(dir)) return IoError{ENOTDIR, dir, "create directory"};
  return std::nullopt;
}

std::optional<IoError> writeFileAtomically(const std::string& path, std::string_view content,
                                           mode_t mode) {
  const std::string dir = parentOf(path);
  if (auto err = makeDirectories(dir)) return err;

  std::string name = path.substr(path.find_last_of('/') + 1);
  std::string tmpl = dir + "/." + name + ".XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return errorFor("write", path);
  const std::string tmp(buf.data());

  auto fail = [&](const char* action, const std::string& which) {
    IoError err = errorFor(action, which);
    if (fd >= 0) ::close(fd);
    ::unlink(tmp.c_str());
    return err;
  };
  if (::fchmod(fd, mode) != 0) return fail("set mode of", tmp);
  if (!writeAll(fd, content)) return fail("write", tmp);
  if (::fsync(fd) != 0) return fail("sync", tmp);
  int rc = ::close(fd);
  fd = -1;
  if (rc != 0) return fail("write", tmp);
  if (::rename(tmp.c_str(), path.c_str()) != 0) return fail("replace", path);
  syncDirectory(dir);
  return std::nullopt;
}

std::optional<IoError> appendLine(const std::string& path, std::string_view line) {
  if (auto err = makeDirectories(parentOf(path))) return err;
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return errorFor("open", path);
  std::string text(line);
  text.push_back('\n');
  if (!writeAll(fd, text)) {
    IoError err = errorFor("append to", path);
    ::close(fd);
    return err;
  }
  if (::close(fd) != 0) return errorFor("append to", path);
  return std::nullopt;
}

ReadResult readFile(const std::string& path, std::size_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {std::nullopt, errorFor("read", path)};
  std::string out;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      IoError err = errorFor("read", path);
      ::close(fd);
      return {std::nullopt, err};
    }
    if (n == 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
    if (out.size() > maxBytes) {
      ::close(fd);
      errno = EFBIG;
      return {std::nullopt, errorFor("read", path)};
    }
  }
  ::close(fd);
  return {std::move(out), {}};
}

std::optional<IoError> removeFileIfPresent(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errorFor("remove", path);
  return std::nullopt;
}

std::optional<IoError> renameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return errorFor("move aside", from);
  return std::nullopt;
}

}  // namespace somnara::fileio
