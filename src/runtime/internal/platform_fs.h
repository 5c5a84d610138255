// File-system calls of the platform layer: status, permissions, making,
// renaming and removing entries, directory listings, and directory handles
// that walk a tree without ever following a symbolic link or junction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/internal/platform.h"

namespace corvid::platform {

enum class EntryKind { Missing, File, Directory, Link, Other };

/// What a status call reports about one entry.
struct EntryStatus {
  EntryKind kind = EntryKind::Missing;
  unsigned mode = 0;          ///< permission and special bits (07777)
  std::int64_t size = 0;      ///< bytes
  std::int64_t modified = 0;  ///< seconds since 1970-01-01 UTC
};

/// What tells one file or directory from every other while it exists: the
/// device and inode number on POSIX, the volume serial number and file
/// index on Windows. All zero when it could not be read.
struct EntryIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const EntryIdentity&) const = default;
};

/// Paths of this many code units or more are too long for every call here.
std::size_t MaxPathUnits();

/// `path` without the trailing separators and "." components after which
/// the system follows a link at the last component ("link/." names what the
/// link points to, "link" the link itself). A root keeps its separator; "."
/// stays "."; ".." components stay.
std::u16string_view EntryPath(std::u16string_view path);

/// Status of `path` with links followed (never Link). False when there is
/// none to read.
bool PathStatus(std::u16string_view path, EntryStatus& status);
/// Status of `path` itself: a symbolic link (on Windows any reparse point,
/// a junction too) reports as Link.
bool LinkStatus(std::u16string_view path, EntryStatus& status);
/// True when both paths exist and name the same file (hard links included).
bool SameEntry(std::u16string_view a, std::u16string_view b);

/// Sets the permission bits (0777) of `path`, keeping its special bits. On
/// Windows only the owner's write bit counts: without it the file is
/// marked read-only.
bool SetPermissionBits(std::u16string_view path, unsigned bits);
/// Makes one directory with mode 0777, less the umask.
bool MakeDirectory(std::u16string_view path);
/// Removes an empty directory.
bool RemoveDirectory(std::u16string_view path);
/// Removes a file or a symbolic link (the link, not its target); never a
/// directory.
bool RemoveEntry(std::u16string_view path);
/// Renames or moves `from` to `to`. Fails rather than replace an existing
/// `to`, so a rename never destroys another entry.
bool RenameEntry(std::u16string_view from, std::u16string_view to);

/// The platform's handle of an open directory: a descriptor on POSIX, a
/// HANDLE on Windows.
#ifdef _WIN32
using NativeDirectory = void*;
#else
using NativeDirectory = int;
#endif

/// An open enumeration of a directory's entries, "." and ".." included, in
/// the order the system gives them. Closed when it goes.
class DirectoryListing {
 public:
  DirectoryListing();
  ~DirectoryListing();
  DirectoryListing(DirectoryListing&& other) noexcept;
  DirectoryListing& operator=(DirectoryListing&& other) noexcept;

  /// A listing of `path` (links followed); not open when `path` is no
  /// readable directory.
  static DirectoryListing Open(std::u16string_view path);
  bool IsOpen() const noexcept { return state_ != nullptr; }
  /// The next entry name; false once the entries are exhausted, and on
  /// every call after that.
  bool Next(std::u16string& name);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// An open directory reached without following a link at its last step, so
/// a tree walk that goes from handle to child handle stays inside the tree
/// even when an entry is swapped for a link under it. Closed when it goes.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  ~DirectoryHandle();
  DirectoryHandle(DirectoryHandle&& other) noexcept;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;

  /// The directory `path` names, its last component not followed (trailing
  /// separators and "." components count for nothing, see EntryPath); not
  /// open when that component is a link, no directory or unreadable.
  static DirectoryHandle Open(std::u16string_view path);
  bool IsOpen() const noexcept;
  /// Which directory this is; all zero when not open.
  EntryIdentity Identity() const;
  /// The child directory `name`; not open when it is a link or no directory.
  DirectoryHandle OpenChild(std::u16string_view name) const;
  /// The directory that holds this one now (it may have been moved since it
  /// was opened: compare its Identity with the one expected); not open when
  /// it cannot be reached.
  DirectoryHandle OpenParent() const;
  /// Entry names other than "." and ".."; empty when they cannot be read.
  std::vector<std::u16string> Names() const;
  /// Kind of the entry `name`: of the entry itself (a link reports as Link),
  /// or with `followLink` of what a link leads to.
  EntryKind ChildKind(std::u16string_view name, bool followLink = false) const;
  /// Makes the directory `name` (mode 0777 less the umask); false when it
  /// cannot, also when an entry of that name is there already.
  bool MakeChild(std::u16string_view name) const;
  /// The regular file `name` opened for reading, through a link only with
  /// `followLink`; `identity` tells which file that is. Null when it is no
  /// regular file (a FIFO is never waited on) or cannot be opened.
  File* ReadChild(std::u16string_view name, bool followLink, EntryIdentity& identity) const;
  /// The regular file `name` opened for writing from its start: made (mode
  /// 0666 less the umask) when missing, else emptied. Never through a link:
  /// null when `name` is a link or no regular file, when it is the file
  /// `keep` (which stays untouched), or when it cannot be opened.
  File* WriteChild(std::u16string_view name, const EntryIdentity& keep) const;
  /// Removes the entry `name`: an empty directory when `directory` is set,
  /// else a file or link.
  bool RemoveChild(std::u16string_view name, bool directory) const;

 private:
#ifdef _WIN32
  // Windows opens no entry relative to a handle; the path the handle was
  // reached by names its children, and the open handle (which refuses
  // renaming and removal while it lives) keeps that path meaning the same
  // directory.
  std::u16string path_;
  NativeDirectory handle_ = nullptr;
#else
  NativeDirectory handle_ = -1;
#endif
  void Close() noexcept;
};

}  // namespace corvid::platform
