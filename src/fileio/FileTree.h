#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "fileio/FileIO.h"

namespace somnara::fileio {

/// File operations on paths relative to one directory, the tree's top.
/// Relative paths use '/' between components; empty components are
/// skipped; where links are refused, "." and ".." are too (EINVAL). Error messages name the full
/// path (top + "/" + relative). Not thread-safe; owns one descriptor.
class FileTree {
 public:
  /// Whether a symbolic link below the top may be followed. The top itself
  /// is always resolved as given.
  enum class Links { Follow, Refuse };

  /// The tree whose top is the directory at path; nullopt with *error set
  /// when it cannot be opened.
  static std::optional<FileTree> open(const std::string& path, Links links, IoError* error);

  FileTree(FileTree&& other) noexcept;
  FileTree& operator=(FileTree&& other) noexcept;
  FileTree(const FileTree&) = delete;
  FileTree& operator=(const FileTree&) = delete;
  ~FileTree();

  const std::string& top() const { return top_; }
  /// The full path of relative, as error messages name it.
  std::string pathOf(const std::string& relative) const;

  /// Whole content of a regular file (at most maxBytes; a longer file is an
  /// EFBIG error). A missing file is error ENOENT.
  ReadResult read(const std::string& relative, std::size_t maxBytes = 64 << 20) const;

  /// Replaces the file with content so readers see either the old or the
  /// new file, creating missing directories (mode 0755 before umask). The
  /// content goes into an unnamed file (O_TMPFILE where the file system has
  /// it) that is fsynced and only then given a name: a process killed while
  /// writing leaves no file behind. Where the target exists, the new file is
  /// linked under a temporary name and renamed over it, then the directory
  /// is fsynced.
  std::optional<IoError> writeAtomically(const std::string& relative, std::string_view content,
                                         mode_t mode = 0644) const;

  /// Appends line and a newline to a regular file with one link, creating
  /// it (0644) and its directories.
  std::optional<IoError> appendLine(const std::string& relative, std::string_view line) const;

  /// Opens for reading and writing a regular file with one link, creating
  /// it (mode 0600) and its directories: a descriptor the caller owns
  /// (close-on-exec), or -1 with *error set.
  int openPrivateFile(const std::string& relative, IoError* error) const;

  /// Removes the file; one that does not exist is not an error.
  std::optional<IoError> remove(const std::string& relative) const;

  /// Renames the file to "<name>.corrupt-<now>", or to
  /// "<name>.corrupt-<now>-<n>" with the first n = 2, 3, … that is free: a
  /// file moved aside earlier is never replaced. *movedTo gets the new
  /// relative path.
  std::optional<IoError> moveAside(const std::string& relative, std::time_t now, std::string* movedTo) const;

  /// True when relative names a directory.
  bool isDirectory(const std::string& relative) const;

 private:
  FileTree(int fd, std::string top, Links links) : fd_(fd), top_(std::move(top)), links_(links) {}

  struct Place;  // an opened parent directory and the last component
  std::optional<Place> place(const std::string& relative, bool create, IoError* error) const;

  int fd_ = -1;  // O_PATH descriptor of the top
  std::string top_;
  Links links_ = Links::Follow;
};

}  // namespace somnara::fileio
