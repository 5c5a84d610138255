// File-system calls of the platform layer: status, permissions, making,
// renaming and removing entries, directory listings, and directory handles
// that walk a tree without ever following a symbolic link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvid::platform {

enum class EntryKind { Missing, File, Directory, Link, Other };

/// What a status call reports about one entry.
struct EntryStatus {
  EntryKind kind = EntryKind::Missing;
  unsigned mode = 0;          ///< permission and special bits (07777)
  std::int64_t size = 0;      ///< bytes
  std::int64_t modified = 0;  ///< seconds since 1970-01-01 UTC
};

/// Paths of this many bytes or more are too long for every call here.
std::size_t MaxPathBytes();

/// Status of `path` with symbolic links followed (never Link). False when
/// there is none to read.
bool PathStatus(const char* path, EntryStatus& status);
/// Status of `path` itself: a symbolic link reports as Link.
bool LinkStatus(const char* path, EntryStatus& status);
/// True when both paths exist and name the same file (hard links included).
bool SameEntry(const char* a, const char* b);

/// Sets the permission bits (0777) of `path`, keeping its special bits.
bool SetPermissionBits(const char* path, unsigned bits);
/// Makes one directory with mode 0777, less the umask.
bool MakeDirectory(const char* path);
/// Removes an empty directory.
bool RemoveDirectory(const char* path);
/// Removes a file or a symbolic link (the link, not its target); never a
/// directory.
bool RemoveEntry(const char* path);
/// Renames or moves `from` to `to`. Fails rather than replace an existing
/// `to`, so a rename never destroys another entry.
bool RenameEntry(const char* from, const char* to);

/// An open enumeration of a directory's entries, "." and ".." included, in
/// the order the system gives them. Closed when it goes.
class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(DirectoryListing&& other) noexcept;
  DirectoryListing& operator=(DirectoryListing&& other) noexcept;

  /// A listing of `path` (links followed); not open when `path` is no
  /// readable directory.
  static DirectoryListing Open(const char* path);
  bool IsOpen() const noexcept { return dir_ != nullptr; }
  /// The next entry name; false once the entries are exhausted, and on
  /// every call after that.
  bool Next(std::string& name);

 private:
  void* dir_ = nullptr;
};

/// An open directory reached without following a symbolic link at its last
/// step, so a tree walk that goes from handle to child handle stays inside
/// the tree even when an entry is swapped for a link under it. Closed when
/// it goes.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  ~DirectoryHandle();
  DirectoryHandle(DirectoryHandle&& other) noexcept;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;

  /// `path` as a directory; not open when its last component is a link or
  /// no directory.
  static DirectoryHandle Open(const char* path);
  bool IsOpen() const noexcept { return fd_ >= 0; }
  /// The child directory `name`; not open when it is a link or no directory.
  DirectoryHandle OpenChild(const std::string& name) const;
  /// Entry names other than "." and ".."; empty when they cannot be read.
  std::vector<std::string> Names() const;
  /// Kind of the entry `name` itself (a link reports as Link).
  EntryKind ChildKind(const std::string& name) const;
  /// Removes the entry `name`: an empty directory when `directory` is set,
  /// else a file or link.
  bool RemoveChild(const std::string& name, bool directory) const;

 private:
  explicit DirectoryHandle(int fd) noexcept : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace corvid::platform
