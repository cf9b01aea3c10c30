#include "fileio/FileIO.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio/FileTree.h"

namespace somnara::fileio {
namespace {

// The tree a path is relative to ("/" or the working directory) and the path within it.
std::pair<std::optional<FileTree>, std::string> treeOf(const std::string& path, IoError* error) {
  const bool absolute = !path.empty() && path.front() == '/';
  const std::size_t start = absolute ? path.find_first_not_of('/') : 0;
  return {FileTree::open(absolute ? "/" : ".", FileTree::Links::Follow, error),
          start == std::string::npos ? std::string() : path.substr(start)};
}

// error with the caller's spelling of the path.
IoError named(IoError error, const std::string& path) {
  error.path = path;
  return error;
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

ReadResult readAll(int fd, std::size_t maxBytes) {
  std::string out;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {std::nullopt, IoError{errno, {}, {}}};
    }
    if (n == 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
    if (out.size() > maxBytes) return {std::nullopt, IoError{EFBIG, {}, {}}};
  }
  return {std::move(out), {}};
}

std::optional<IoError> writeFileAtomically(const std::string& path, std::string_view content, mode_t mode) {
  IoError err;
  auto [tree, relative] = treeOf(path, &err);
  if (!tree) return named(err, path);
  if (auto e = tree->writeAtomically(relative, content, mode)) return named(*e, path);
  return std::nullopt;
}

ReadResult readFile(const std::string& path, std::size_t maxBytes) {
  IoError err;
  auto [tree, relative] = treeOf(path, &err);
  if (!tree) return {std::nullopt, named(IoError{err.error, {}, "read"}, path)};
  ReadResult r = tree->read(relative, maxBytes);
  if (!r.content) r.error = named(r.error, path);
  return r;
}

std::optional<IoError> appendLine(const std::string& path, std::string_view line) {
  IoError err;
  auto [tree, relative] = treeOf(path, &err);
  if (!tree) return named(err, path);
  if (auto e = tree->appendLine(relative, line)) return named(*e, path);
  return std::nullopt;
}

std::optional<IoError> removeFileIfPresent(const std::string& path) {
  IoError err;
  auto [tree, relative] = treeOf(path, &err);
  if (!tree) return named(err, path);
  if (auto e = tree->remove(relative)) return named(*e, path);
  return std::nullopt;
}

std::optional<IoError> renameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return IoError{errno, from, "rename"};
  return std::nullopt;
}

std::optional<IoError> moveAside(const std::string& path, std::time_t now, std::string* movedTo) {
  IoError err;
  auto [tree, relative] = treeOf(path, &err);
  if (!tree) return named(err, path);
  std::string aside;
  if (auto e = tree->moveAside(relative, now, &aside)) return named(*e, path);
  if (movedTo) *movedTo = path.substr(0, path.size() - relative.size()) + aside;
  return std::nullopt;
}

}  // namespace somnara::fileio
