#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace somnara::fileio {

/// A failed file operation: errno value, the path and what was being done.
struct IoError {
  int error = 0;
  std::string path;
  std::string action;  // e.g. "write", "create directory for"

  /// "cannot <action> <path>: <strerror>"
  std::string message() const;
  /// True for failures that mean the caller lacks privileges
  /// (EACCES, EPERM, EROFS).
  bool isPermissionDenied() const;
};

/// Whole content of a file (at most maxBytes; a longer file is an EFBIG
/// error), or the error. A missing file is error ENOENT.
struct ReadResult {
  std::optional<std::string> content;
  IoError error;
};

/// The following take a path as the system resolves it (symbolic links
/// followed); FileTree offers the same on paths below one directory.

/// Replaces path with content so readers see either the old or the new
/// file, creating missing parent directories (see FileTree::writeAtomically).
std::optional<IoError> writeFileAtomically(const std::string& path, std::string_view content,
                                           mode_t mode = 0644);

ReadResult readFile(const std::string& path, std::size_t maxBytes = 64 << 20);

/// Appends line and a newline to path (see FileTree::appendLine).
std::optional<IoError> appendLine(const std::string& path, std::string_view line);

/// Removes the file at path; one that does not exist is not an error.
std::optional<IoError> removeFileIfPresent(const std::string& path);

/// Renames from to to, replacing what is there.
std::optional<IoError> renameFile(const std::string& from, const std::string& to);

/// Renames path aside without replacing anything (see FileTree::moveAside);
/// *movedTo gets the new path.
std::optional<IoError> moveAside(const std::string& path, std::time_t now, std::string* movedTo);

/// Reads fd to its end, at most maxBytes (a longer file is an EFBIG error;
/// the error carries no path or action).
ReadResult readAll(int fd, std::size_t maxBytes);

/// Writes all of data to fd, retrying short writes and EINTR.
bool writeAll(int fd, std::string_view data);

}  // namespace somnara::fileio
