// Status, entries, listings and directory handles for the POSIX half.
#include "runtime/internal/platform_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "runtime/posix/names.h"

namespace corvid::platform {

using posix::DecodeName;
using posix::EncodeName;

namespace {

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

void Fill(const struct stat& raw, EntryStatus& status) {
  status.kind = KindOf(raw.st_mode);
  status.mode = static_cast<unsigned>(raw.st_mode & 07777);
  status.size = static_cast<std::int64_t>(raw.st_size);
  status.modified = static_cast<std::int64_t>(raw.st_mtime);
}

bool IsDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

std::size_t MaxPathUnits() { return PATH_MAX; }

std::u16string_view EntryPath(std::u16string_view path) {
  for (;;) {
    if (path.size() > 1 && path.back() == u'/') {
      path.remove_suffix(1);
    } else if (path.size() > 1 && path.ends_with(u"/.")) {
      path.remove_suffix(1);
    } else {
      return path;
    }
  }
}

bool PathStatus(std::u16string_view path, EntryStatus& status) {
  auto name = EncodeName(path);
  struct stat raw;
  if (!name || stat(name->c_str(), &raw) != 0) return false;
  Fill(raw, status);
  return true;
}

bool LinkStatus(std::u16string_view path, EntryStatus& status) {
  auto name = EncodeName(path);
  struct stat raw;
  if (!name || lstat(name->c_str(), &raw) != 0) return false;
  Fill(raw, status);
  return true;
}

bool SameEntry(std::u16string_view a, std::u16string_view b) {
  auto one = EncodeName(a);
  auto other = EncodeName(b);
  struct stat first, second;
  if (!one || !other || stat(one->c_str(), &first) != 0 || stat(other->c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SetPermissionBits(std::u16string_view path, unsigned bits) {
  auto name = EncodeName(path);
  struct stat raw;
  if (!name || stat(name->c_str(), &raw) != 0) return false;
  return chmod(name->c_str(), (raw.st_mode & 07000) | (bits & 0777)) == 0;
}

bool MakeDirectory(std::u16string_view path) {
  auto name = EncodeName(path);
  return name && mkdir(name->c_str(), 0777) == 0;
}

bool RemoveDirectory(std::u16string_view path) {
  auto name = EncodeName(path);
  return name && rmdir(name->c_str()) == 0;
}

bool RemoveEntry(std::u16string_view path) {
  auto name = EncodeName(path);
  return name && unlink(name->c_str()) == 0;
}

bool RenameEntry(std::u16string_view fromPath, std::u16string_view toPath) {
  auto from = EncodeName(fromPath);
  auto to = EncodeName(toPath);
  if (!from || !to) return false;
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A system or file system without the no-replace flag: look first.
  // Another process could still slip an entry in between, but no caller of
  // ours does.
  struct stat raw;
  if (lstat(to->c_str(), &raw) == 0) return false;
  return std::rename(from->c_str(), to->c_str()) == 0;
}

struct DirectoryListing::State {
  DIR* dir;
  ~State() { closedir(dir); }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;
DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept = default;
DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept = default;

DirectoryListing DirectoryListing::Open(std::u16string_view path) {
  DirectoryListing listing;
  auto name = EncodeName(path);
  if (DIR* dir = name ? opendir(name->c_str()) : nullptr) listing.state_.reset(new State{dir});
  return listing;
}

bool DirectoryListing::Next(std::u16string& name) {
  if (!state_) return false;
  const dirent* entry = readdir(state_->dir);
  if (!entry) {
    // Exhausted (or unreadable): later calls must keep saying so, whatever
    // the directory gains meanwhile.
    state_.reset();
    return false;
  }
  name = DecodeName(entry->d_name);
  return true;
}

DirectoryHandle::~DirectoryHandle() { Close(); }

void DirectoryHandle::Close() noexcept {
  if (handle_ >= 0) close(handle_);
  handle_ = -1;
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  std::swap(handle_, other.handle_);
  return *this;
}

bool DirectoryHandle::IsOpen() const noexcept { return handle_ >= 0; }

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

EntryIdentity IdentityOf(const struct stat& raw) {
  return {static_cast<std::uint64_t>(raw.st_dev), static_cast<std::uint64_t>(raw.st_ino)};
}

// The descriptor as a C stream when it is open on a regular file, else
// closed. It was opened without waiting (a FIFO would have blocked the
// open); from here on it waits as any file does.
File* RegularFileStream(int fd, const char* mode, struct stat& raw) {
  if (fd < 0) return nullptr;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &raw) != 0 || !S_ISREG(raw.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  File* file = fdopen(fd, mode);
  if (!file) close(fd);
  return file;
}

}  // namespace

DirectoryHandle DirectoryHandle::Open(std::u16string_view path) {
  DirectoryHandle handle;
  if (auto name = EncodeName(EntryPath(path))) handle.handle_ = open(name->c_str(), kDirectoryFlags);
  return handle;
}

EntryIdentity DirectoryHandle::Identity() const {
  struct stat raw;
  if (handle_ < 0 || fstat(handle_, &raw) != 0) return {};
  return IdentityOf(raw);
}

DirectoryHandle DirectoryHandle::OpenChild(std::u16string_view name) const {
  DirectoryHandle child;
  auto bytes = EncodeName(name);
  if (handle_ >= 0 && bytes) child.handle_ = openat(handle_, bytes->c_str(), kDirectoryFlags);
  return child;
}

DirectoryHandle DirectoryHandle::OpenParent() const {
  DirectoryHandle parent;
  if (handle_ >= 0) parent.handle_ = openat(handle_, "..", kDirectoryFlags);
  return parent;
}

std::vector<std::u16string> DirectoryHandle::Names() const {
  std::vector<std::u16string> names;
  if (handle_ < 0) return names;
  int copy = dup(handle_);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    close(copy);
    return names;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    if (!IsDot(entry->d_name)) names.push_back(DecodeName(entry->d_name));
  }
  closedir(dir);
  return names;
}

EntryKind DirectoryHandle::ChildKind(std::u16string_view name, bool followLink) const {
  auto bytes = EncodeName(name);
  struct stat raw;
  if (handle_ < 0 || !bytes || fstatat(handle_, bytes->c_str(), &raw, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
    return EntryKind::Missing;
  return KindOf(raw.st_mode);
}

bool DirectoryHandle::MakeChild(std::u16string_view name) const {
  auto bytes = EncodeName(name);
  return handle_ >= 0 && bytes && mkdirat(handle_, bytes->c_str(), 0777) == 0;
}

File* DirectoryHandle::ReadChild(std::u16string_view name, bool followLink, EntryIdentity& identity) const {
  auto bytes = EncodeName(name);
  if (handle_ < 0 || !bytes) return nullptr;
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  struct stat raw;
  File* file = RegularFileStream(openat(handle_, bytes->c_str(), flags), "rb", raw);
  if (file) identity = IdentityOf(raw);
  return file;
}

File* DirectoryHandle::WriteChild(std::u16string_view name, const EntryIdentity& keep) const {
  auto bytes = EncodeName(name);
  if (handle_ < 0 || !bytes) return nullptr;
  // Emptied only once it is known to be neither a link nor `keep`: opening
  // with O_TRUNC would empty the file before anything could be checked.
  int fd = openat(handle_, bytes->c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat raw;
  File* file = RegularFileStream(fd, "wb", raw);
  if (file && (IdentityOf(raw) == keep || ftruncate(fileno(file), 0) != 0)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool DirectoryHandle::RemoveChild(std::u16string_view name, bool directory) const {
  auto bytes = EncodeName(name);
  return handle_ >= 0 && bytes && unlinkat(handle_, bytes->c_str(), directory ? AT_REMOVEDIR : 0) == 0;
}

}  // namespace corvid::platform
