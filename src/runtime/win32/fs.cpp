// Status, entries, listings and directory handles for the Win32 half.
#include "runtime/internal/platform_fs.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

// The Windows headers spell RemoveDirectory as a macro for RemoveDirectoryA
// or W, which would rename the platform call defined here; the system's
// own is named with its suffix below.
#undef RemoveDirectory

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "runtime/win32/names.h"

namespace corvid::platform {

using win32::ByName;
using win32::FromNarrow;
using win32::FromWide;

namespace {

EntryKind KindOf(unsigned short mode) {
  switch (mode & _S_IFMT) {
    case _S_IFREG: return EntryKind::File;
    case _S_IFDIR: return EntryKind::Directory;
    default: return EntryKind::Other;
  }
}

// The C runtime's status call refuses a directory named with a trailing
// separator ("dir/"), which the attribute calls here and the POSIX half
// take; it is asked without it, a root ("C:/", "/", "//") left whole.
bool Stat(std::u16string_view path, struct _stat64& raw) {
  auto separator = [](char16_t unit) { return unit == u'/' || unit == u'\\'; };
  if (path.size() > 1 && separator(path.back()) && path[path.size() - 2] != u':' &&
      !separator(path[path.size() - 2]))
    path.remove_suffix(1);
  return ByName(path, false, [&](const wchar_t* name) { return _wstat64(name, &raw) == 0; },
                [&](const char* name) { return _stat64(name, &raw) == 0; });
}

DWORD Attributes(std::u16string_view path) {
  return ByName(path, INVALID_FILE_ATTRIBUTES, [](const wchar_t* name) { return GetFileAttributesW(name); },
                [](const char* name) { return GetFileAttributesA(name); });
}

bool SetAttributes(std::u16string_view path, DWORD attributes) {
  return ByName(path, false, [&](const wchar_t* name) { return SetFileAttributesW(name, attributes) != 0; },
                [&](const char* name) { return SetFileAttributesA(name, attributes) != 0; });
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An open handle to the entry itself: a link is opened as the link.
HANDLE OpenEntry(std::u16string_view path, DWORD access, DWORD share) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  return ByName(
      path, INVALID_HANDLE_VALUE,
      [&](const wchar_t* name) { return CreateFileW(name, access, share, nullptr, OPEN_EXISTING, flags, nullptr); },
      [&](const char* name) { return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, flags, nullptr); });
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes the file or link at `path`. A read-only mark is cleared first, as
// removing a file means here (and put back when the removal fails); a link
// to a directory is removed as the directory entry it is, never its target.
bool RemoveFileOrLink(std::u16string_view path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (IsDirectory(attributes)) {
    if (!IsLink(attributes)) return false;
    return ByName(path, false, [](const wchar_t* name) { return RemoveDirectoryW(name) != 0; },
                  [](const char* name) { return RemoveDirectoryA(name) != 0; });
  }
  bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
  if (readOnly) SetAttributes(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  bool removed = ByName(path, false, [](const wchar_t* name) { return DeleteFileW(name) != 0; },
                        [](const char* name) { return DeleteFileA(name) != 0; });
  if (!removed && readOnly) SetAttributes(path, attributes);
  return removed;
}

bool IsDot(std::u16string_view name) { return name == u"." || name == u".."; }

bool IsSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

std::u16string ChildPath(const std::u16string& dir, std::u16string_view name) {
  std::u16string path = dir;
  if (!path.empty() && !IsSeparator(path.back())) path += u'/';
  path += name;
  return path;
}

// The directory holding the entry `path`. Windows resolves ".." in the text
// of a path, never through a link, so cutting off the last component names
// the same directory as appending "..".
std::u16string ParentPath(const std::u16string& path) {
  std::size_t slash = path.find_last_of(u"/\\");
  if (slash == std::u16string::npos || slash + 1 == path.size() || IsDot(std::u16string_view(path).substr(slash + 1)))
    return ChildPath(path, u"..");
  // A root ("/", "C:/", a run of separators) keeps its separator.
  if (slash == 0 || path[slash - 1] == u':' || IsSeparator(path[slash - 1])) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

EntryIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// An open handle to the file at `path`, sharing reading and writing as the C
// runtime's own opens do.
HANDLE OpenFileEntry(std::u16string_view path, DWORD access, DWORD disposition, DWORD flags) {
  constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  return ByName(
      path, INVALID_HANDLE_VALUE,
      [&](const wchar_t* name) { return CreateFileW(name, access, share, nullptr, disposition, flags, nullptr); },
      [&](const char* name) { return CreateFileA(name, access, share, nullptr, disposition, flags, nullptr); });
}

// Whether the open handle is a file on a disk (no directory, no device),
// and no reparse point unless `linkAllowed`.
bool IsPlainFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info, bool linkAllowed) {
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return linkAllowed || !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The open file handle as a C stream; the handle is closed when that fails.
File* StreamOf(HANDLE handle, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  File* file = _fdopen(fd, mode);
  if (!file) _close(fd);
  return file;
}

}  // namespace

std::size_t MaxPathUnits() { return MAX_PATH; }

std::u16string_view EntryPath(std::u16string_view path) {
  for (;;) {
    std::size_t size = path.size();
    if (size < 2) return path;
    char16_t before = path[size - 2];
    if (path.back() == u'.' && IsSeparator(before)) {
      path.remove_suffix(1);
    } else if (IsSeparator(path.back()) && before != u':' && !(size == 2 && IsSeparator(before))) {
      // The separator of a root ("C:/", the "//" of a network name) stays.
      path.remove_suffix(1);
    } else {
      return path;
    }
  }
}

bool PathStatus(std::u16string_view path, EntryStatus& status) {
  struct _stat64 raw;
  if (!Stat(path, raw)) return false;
  status.kind = KindOf(raw.st_mode);
  status.mode = static_cast<unsigned>(raw.st_mode & 07777);
  status.size = static_cast<std::int64_t>(raw.st_size);
  status.modified = static_cast<std::int64_t>(raw.st_mtime);
  return true;
}

bool LinkStatus(std::u16string_view path, EntryStatus& status) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!IsLink(attributes)) return PathStatus(path, status);
  status = EntryStatus{};
  status.kind = EntryKind::Link;
  return true;
}

bool SameEntry(std::u16string_view a, std::u16string_view b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  std::u16string_view paths[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    HANDLE handle = ByName(
        paths[i], INVALID_HANDLE_VALUE,
        [](const wchar_t* name) {
          return CreateFileW(name, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        },
        [](const char* name) {
          return CreateFileA(name, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        });
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool read = GetFileInformationByHandle(handle, &info[i]) != 0;
    CloseHandle(handle);
    if (!read) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// The owner's write bit is the only one Windows keeps: without it the file
// is read-only.
bool SetPermissionBits(std::u16string_view path, unsigned bits) {
  int mode = (bits & 0200) ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
  return ByName(path, false, [&](const wchar_t* name) { return _wchmod(name, mode) == 0; },
                [&](const char* name) { return _chmod(name, mode) == 0; });
}

bool MakeDirectory(std::u16string_view path) {
  return ByName(path, false, [](const wchar_t* name) { return _wmkdir(name) == 0; },
                [](const char* name) { return _mkdir(name) == 0; });
}

bool RemoveDirectory(std::u16string_view path) {
  return ByName(path, false, [](const wchar_t* name) { return _wrmdir(name) == 0; },
                [](const char* name) { return _rmdir(name) == 0; });
}

bool RemoveEntry(std::u16string_view path) { return RemoveFileOrLink(path); }

// The C runtime's rename never replaces an existing entry on Windows.
bool RenameEntry(std::u16string_view from, std::u16string_view to) {
  auto wideTo = win32::WideName(to);
  auto narrowTo = win32::NarrowName(to);
  return ByName(
      from, false, [&](const wchar_t* name) { return wideTo && _wrename(name, wideTo->c_str()) == 0; },
      [&](const char* name) { return narrowTo && std::rename(name, narrowTo->c_str()) == 0; });
}

// The enumeration starts at the first Next, as the C runtime's find
// functions report the first entry when they open.
struct DirectoryListing::State {
  bool wide = true;
  std::wstring widePattern;
  std::string narrowPattern;
  intptr_t find = -1;
  bool started = false;
  _wfinddata64_t wideEntry{};
  __finddata64_t narrowEntry{};
  ~State() {
    if (find != -1) _findclose(find);
  }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;
DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept = default;
DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept = default;

DirectoryListing DirectoryListing::Open(std::u16string_view path) {
  DirectoryListing listing;
  if (!IsDirectory(Attributes(path))) return listing;
  auto state = std::make_unique<State>();
  state->wide = win32::WideMode();
  if (state->wide) {
    auto name = win32::WideName(path);
    if (!name) return listing;
    wchar_t* full = _wfullpath(nullptr, name->c_str(), 0);
    if (!full) return listing;
    state->widePattern = full;
    std::free(full);
    if (state->widePattern.back() != L'\\' && state->widePattern.back() != L'/') state->widePattern += L'\\';
    state->widePattern += L'*';
  } else {
    auto name = win32::NarrowName(path);
    if (!name) return listing;
    char* full = _fullpath(nullptr, name->c_str(), 0);
    if (!full) return listing;
    state->narrowPattern = full;
    std::free(full);
    if (state->narrowPattern.back() != '\\' && state->narrowPattern.back() != '/') state->narrowPattern += '\\';
    state->narrowPattern += '*';
  }
  listing.state_ = std::move(state);
  return listing;
}

bool DirectoryListing::Next(std::u16string& name) {
  if (!state_) return false;
  State& s = *state_;
  bool found;
  if (!s.started) {
    s.started = true;
    s.find = s.wide ? _wfindfirst64(s.widePattern.c_str(), &s.wideEntry)
                    : _findfirst64(s.narrowPattern.c_str(), &s.narrowEntry);
    found = s.find != -1;
  } else {
    found = (s.wide ? _wfindnext64(s.find, &s.wideEntry) : _findnext64(s.find, &s.narrowEntry)) == 0;
  }
  if (!found) {
    // Exhausted (or unreadable): later calls must keep saying so, whatever
    // the directory gains meanwhile.
    state_.reset();
    return false;
  }
  name = s.wide ? FromWide(s.wideEntry.name) : FromNarrow(s.narrowEntry.name);
  return true;
}

// A directory handle shares reading and writing but not deletion: while it
// is open, nobody can rename or remove the directory it names, so its path
// keeps naming that directory.
namespace {
constexpr DWORD kPinnedShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DirectoryHandle::~DirectoryHandle() { Close(); }

void DirectoryHandle::Close() noexcept {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  std::swap(path_, other.path_);
  std::swap(handle_, other.handle_);
  return *this;
}

bool DirectoryHandle::IsOpen() const noexcept { return handle_ != nullptr; }

DirectoryHandle DirectoryHandle::Open(std::u16string_view pathRef) {
  DirectoryHandle dir;
  std::u16string_view path = EntryPath(pathRef);
  HANDLE handle = OpenEntry(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kPinnedShare);
  if (handle == INVALID_HANDLE_VALUE) return dir;
  // The handle's own attributes tell a reparse point it was opened on; Wine
  // opens the directory behind a Unix symbolic link instead, and only the
  // path's attributes still show the link.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || !IsDirectory(info.dwFileAttributes) ||
      IsLink(info.dwFileAttributes) || IsLink(Attributes(path))) {
    CloseHandle(handle);
    return dir;
  }
  dir.path_ = path;
  dir.handle_ = handle;
  return dir;
}

EntryIdentity DirectoryHandle::Identity() const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle_ || !GetFileInformationByHandle(handle_, &info)) return {};
  return IdentityOf(info);
}

DirectoryHandle DirectoryHandle::OpenChild(std::u16string_view name) const {
  if (!handle_ || IsDot(name)) return {};
  return Open(ChildPath(path_, name));
}

DirectoryHandle DirectoryHandle::OpenParent() const {
  if (!handle_) return {};
  return Open(ParentPath(path_));
}

std::vector<std::u16string> DirectoryHandle::Names() const {
  std::vector<std::u16string> names;
  if (!handle_) return names;
  DirectoryListing listing = DirectoryListing::Open(path_);
  std::u16string name;
  while (listing.Next(name)) {
    if (!IsDot(name)) names.push_back(name);
  }
  return names;
}

EntryKind DirectoryHandle::ChildKind(std::u16string_view name, bool followLink) const {
  if (!handle_) return EntryKind::Missing;
  std::u16string path = ChildPath(path_, name);
  if (followLink) {
    EntryStatus status;
    return PathStatus(path, status) ? status.kind : EntryKind::Missing;
  }
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  if (IsLink(attributes)) return EntryKind::Link;
  return IsDirectory(attributes) ? EntryKind::Directory : EntryKind::File;
}

bool DirectoryHandle::MakeChild(std::u16string_view name) const {
  return handle_ && !IsDot(name) && MakeDirectory(ChildPath(path_, name));
}

File* DirectoryHandle::ReadChild(std::u16string_view name, bool followLink, EntryIdentity& identity) const {
  if (!handle_ || IsDot(name)) return nullptr;
  HANDLE file = OpenFileEntry(ChildPath(path_, name), GENERIC_READ, OPEN_EXISTING,
                              followLink ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsPlainFile(file, info, followLink)) {
    CloseHandle(file);
    return nullptr;
  }
  File* stream = StreamOf(file, _O_RDONLY | _O_BINARY, "rb");
  if (stream) identity = IdentityOf(info);
  return stream;
}

File* DirectoryHandle::WriteChild(std::u16string_view name, const EntryIdentity& keep) const {
  if (!handle_ || IsDot(name)) return nullptr;
  // Opened as it stands (a link as the link) and emptied only once it is
  // known to be a plain file other than `keep`.
  HANDLE file = OpenFileEntry(ChildPath(path_, name), GENERIC_WRITE, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsPlainFile(file, info, false) || IdentityOf(info) == keep || !SetEndOfFile(file)) {
    CloseHandle(file);
    return nullptr;
  }
  return StreamOf(file, _O_WRONLY | _O_BINARY, "wb");
}

bool DirectoryHandle::RemoveChild(std::u16string_view name, bool directory) const {
  if (!handle_ || IsDot(name)) return false;
  std::u16string path = ChildPath(path_, name);
  if (!directory) return RemoveFileOrLink(path);
  DWORD attributes = Attributes(path);
  if (!IsDirectory(attributes) || IsLink(attributes)) return false;
  return RemoveDirectory(path);
}

}  // namespace corvid::platform
