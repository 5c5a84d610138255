#include "runtime/platform_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace corvid::platform {

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
  status.modified = static_cast<std::int64_t>(raw.st_mtim.tv_sec);
}

bool IsDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

std::size_t MaxPathBytes() { return PATH_MAX; }

bool PathStatus(const char* path, EntryStatus& status) {
  struct stat raw;
  if (stat(path, &raw) != 0) return false;
  Fill(raw, status);
  return true;
}

bool LinkStatus(const char* path, EntryStatus& status) {
  struct stat raw;
  if (lstat(path, &raw) != 0) return false;
  Fill(raw, status);
  return true;
}

bool SameEntry(const char* a, const char* b) {
  struct stat first, second;
  if (stat(a, &first) != 0 || stat(b, &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SetPermissionBits(const char* path, unsigned bits) {
  struct stat raw;
  if (stat(path, &raw) != 0) return false;
  return chmod(path, (raw.st_mode & 07000) | (bits & 0777)) == 0;
}

bool MakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }
bool RemoveDirectory(const char* path) { return rmdir(path) == 0; }
bool RemoveEntry(const char* path) { return unlink(path) == 0; }

bool RenameEntry(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: look first. Another process
  // could still slip an entry in between, but no caller of ours does.
  struct stat raw;
  if (lstat(to, &raw) == 0) return false;
  return std::rename(from, to) == 0;
}

DirectoryListing::~DirectoryListing() {
  if (dir_) closedir(static_cast<DIR*>(dir_));
}

DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept
    : dir_(std::exchange(other.dir_, nullptr)) {}

DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept {
  std::swap(dir_, other.dir_);
  return *this;
}

DirectoryListing DirectoryListing::Open(const char* path) {
  DirectoryListing listing;
  listing.dir_ = opendir(path);
  return listing;
}

bool DirectoryListing::Next(std::string& name) {
  if (!dir_) return false;
  errno = 0;
  const dirent* entry = readdir(static_cast<DIR*>(dir_));
  if (!entry) {
    // Exhausted (or unreadable): later calls must keep saying so, whatever
    // the directory gains meanwhile.
    closedir(static_cast<DIR*>(dir_));
    dir_ = nullptr;
    return false;
  }
  name = entry->d_name;
  return true;
}

DirectoryHandle::~DirectoryHandle() {
  if (fd_ >= 0) close(fd_);
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  std::swap(fd_, other.fd_);
  return *this;
}

namespace {
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
}

DirectoryHandle DirectoryHandle::Open(const char* path) {
  return DirectoryHandle(open(path, kDirectoryFlags));
}

DirectoryHandle DirectoryHandle::OpenChild(const std::string& name) const {
  if (fd_ < 0) return {};
  return DirectoryHandle(openat(fd_, name.c_str(), kDirectoryFlags));
}

std::vector<std::string> DirectoryHandle::Names() const {
  std::vector<std::string> names;
  if (fd_ < 0) return names;
  int copy = dup(fd_);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    close(copy);
    return names;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    if (!IsDot(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

EntryKind DirectoryHandle::ChildKind(const std::string& name) const {
  struct stat raw;
  if (fd_ < 0 || fstatat(fd_, name.c_str(), &raw, AT_SYMLINK_NOFOLLOW) != 0)
    return EntryKind::Missing;
  return KindOf(raw.st_mode);
}

bool DirectoryHandle::RemoveChild(const std::string& name, bool directory) const {
  if (fd_ < 0) return false;
  return unlinkat(fd_, name.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
}

}  // namespace corvid::platform
