#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace somnara::fileio {

/// A failed file operation: errno value, the path and what was being done.
struct IoError {
  int error = 0;
  std::string path;
  std::string action;  // e.g. "write", "create directory"

  /// "cannot <action> <path>: <strerror>"
  std::string message() const;
  /// True for failures that mean the caller lacks privileges
  /// (EACCES, EPERM, EROFS).
  bool isPermissionDenied() const;
};

/// Creates dir and its missing parents with mode 0755 (before umask).
std::optional<IoError> makeDirectories(const std::string& dir);

/// Replaces path with content so readers see either the old or the new file:
/// writes a temporary file in the same directory, fsyncs it, renames it over
/// path and fsyncs the directory. Creates missing parent directories.
std::optional<IoError> writeFileAtomically(const std::string& path, std::string_view content,
                                           mode_t mode = 0644);

/// Appends line (a newline is added) to path, creating it and its parents.
std::optional<IoError> appendLine(const std::string& path, std::string_view line);

/// Whole content of a file (at most maxBytes; a longer file is an EFBIG
/// error), or the error. A missing file is error ENOENT.
struct ReadResult {
  std::optional<std::string> content;
  IoError error;
};
ReadResult readFile(const std::string& path, std::size_t maxBytes = 64 << 20);

/// Writes all of data to fd, retrying short writes and EINTR.
bool writeAll(int fd, std::string_view data);

/// Removes the file at path; a path that does not exist is not an error.
std::optional<IoError> removeFileIfPresent(const std::string& path);

/// Renames from to to.
std::optional<IoError> renameFile(const std::string& from, const std::string& to);

/// True when path exists (following symlinks) and is a directory.
bool isDirectory(const std::string& path);

}  // namespace somnara::fileio
