#include "filesystem/filesystem.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filesystem/path.h"
#include "filesystem/internal/system_path.h"
#include "runtime/error.h"
#include "runtime/internal/platform.h"
#include "stream/cstream.h"
#include "stream/stream_functions.h"
#include "stream/url.h"

namespace corvid {

namespace {

using platform::EntryKind;
using platform::EntryStatus;

// "<" and ">" are wildcards to Windows' own file look-up, which its status
// call goes through: a name holding one could report some other file. Such
// a name is missing here on every system, so that a query means the same
// everywhere.
bool Status(const Ref<String>& path, EntryStatus& status) {
  if (Text(path).View().find_first_of(u"<>") != std::u16string_view::npos) return false;
  return platform::PathStatus(SystemName(path), status);
}

Int KindOf(const Ref<String>& path) {
  EntryStatus status;
  if (!Status(path, status)) return PATHKIND_NONE;
  if (status.kind == EntryKind::File) return PATHKIND_FILE;
  if (status.kind == EntryKind::Directory) return PATHKIND_DIR;
  return PATHKIND_NONE;
}

Int ClampToInt(std::int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<Int>(value);
}

void MakeOneDir(const Ref<String>& path) {
  platform::MakeDirectory(SystemName(path));
}

bool SameEntry(const Ref<String>& a, const Ref<String>& b) {
  return platform::SameEntry(SystemName(a), SystemName(b));
}

// Plain file names (as OpenUrl would open them) of one and the same file:
// opening the destination would empty the source before it is read.
bool SameFile(const Ref<Object>& src, const Ref<Object>& dst) {
  Ref<String> a = CastTo<String>(src);
  Ref<String> b = CastTo<String>(dst);
  if (!a || !b || a->Includes("::"_s) || b->Includes("::"_s)) return false;
  return SameEntry(a->ReplaceAll("\\"_s, "/"_s), b->ReplaceAll("\\"_s, "/"_s));
}

// Copies `from` to the end into `to` and closes both: 1, or 0 when `to`
// stops taking bytes, also when the last of them are refused only as the
// file is closed (a full disk). Other errors pass on, leaving the streams
// to close when they are released.
Int CopyAndClose(const Ref<TStream>& from, const Ref<TStream>& to) {
  Int result = 1;
  try {
    CopyToEnd(from, to, 4096);
    to->Close();
  } catch (const Raised& raised) {
    if (!raised.As<TStreamWriteException>()) throw;
    result = 0;
  }
  // After a failed write the close reports the same loss again; the file is
  // released all the same.
  try {
    to->Close();
  } catch (const Raised& raised) {
    if (!raised.As<TStreamWriteException>()) throw;
  }
  from->Close();
  return result;
}

// The directories a tree walk stands in, from its top down to where it is.
// Only the deepest few stay open, so a tree of any depth is walked within
// the process's descriptor limit. Going up past them, the walk opens the
// parent again from the child it still holds, and goes on only when that is
// the very directory it came down from: a directory moved meanwhile must not
// lead it elsewhere.
class DirectoryChain {
 public:
  explicit DirectoryChain(platform::DirectoryHandle top) { Descend(std::move(top)); }

  /// The directory the walk is in; open.
  const platform::DirectoryHandle& Here() const { return levels_.back().handle; }

  void Descend(platform::DirectoryHandle child) {
    platform::EntryIdentity identity = child.Identity();
    levels_.push_back({std::move(child), identity});
    if (levels_.size() - firstOpen_ > kOpenLevels) levels_[firstOpen_++].handle = {};
  }

  /// Steps up to the parent, closing where the walk was; false at the top,
  /// and when the parent cannot be reached again as the same directory (the
  /// walk then has nowhere to go on).
  bool Ascend() {
    if (levels_.size() < 2) return false;
    platform::DirectoryHandle child = std::move(levels_.back().handle);
    levels_.pop_back();
    Level& parent = levels_.back();
    if (levels_.size() > firstOpen_) return true;
    platform::DirectoryHandle again = child.OpenParent();
    if (!again.IsOpen() || again.Identity() != parent.identity) return false;
    parent.handle = std::move(again);
    firstOpen_ = levels_.size() - 1;
    return true;
  }

 private:
  static constexpr std::size_t kOpenLevels = 16;
  struct Level {
    platform::DirectoryHandle handle;
    platform::EntryIdentity identity;
  };
  std::vector<Level> levels_;
  std::size_t firstOpen_ = 0;  // levels above this one are closed
};

// Entry names of one directory of a walk, and how far the walk has got
// through them.
struct Pending {
  explicit Pending(std::vector<std::u16string> entries, std::u16string own = {})
      : names(std::move(entries)), name(std::move(own)) {}
  bool Done() const { return next == names.size(); }

  std::vector<std::u16string> names;
  std::size_t next = 0;
  std::u16string name;  // of the directory itself, in its parent
};

// Copies the file `name` of `from` into `to`. A link is read through only
// when `viaLink` says the entry was one when it was looked at.
Int CopyFile(const platform::DirectoryHandle& from, const platform::DirectoryHandle& to,
             std::u16string_view name, bool viaLink) {
  platform::EntryIdentity identity;
  platform::File* in = from.ReadChild(name, viaLink, identity);
  if (!in) return 0;
  Ref<TStream> source = TCStream::CreateWithCStream(in, TCStream::MODE_READ);
  platform::File* out = to.WriteChild(name, identity);
  if (!out) {
    source->Close();
    return 0;
  }
  return CopyAndClose(source, TCStream::CreateWithCStream(out, TCStream::MODE_WRITE));
}

// Copies the contents of `src` into `dst`. Both trees are walked from
// handle to child handle, never through a link, so an entry of either
// swapped for a link during the copy can lead it neither to read from nor
// to write into a directory outside. The copy itself, met inside its own
// source, is left out rather than copied into itself until paths grow too
// long.
Int CopyTree(platform::DirectoryHandle src, platform::DirectoryHandle dst) {
  const platform::EntryIdentity top = dst.Identity();
  std::vector<Pending> pending;
  pending.emplace_back(src.Names());
  DirectoryChain from(std::move(src));
  DirectoryChain to(std::move(dst));
  for (;;) {
    if (pending.back().Done()) {
      pending.pop_back();
      if (pending.empty()) return 1;
      if (!from.Ascend() || !to.Ascend()) return 0;
      continue;
    }
    Pending& level = pending.back();
    const std::u16string name = std::move(level.names[level.next++]);
    const platform::DirectoryHandle& here = from.Here();
    EntryKind kind = here.ChildKind(name);
    const bool viaLink = kind == EntryKind::Link;
    if (viaLink) kind = here.ChildKind(name, true);
    if (kind == EntryKind::File) {
      if (!CopyFile(here, to.Here(), name, viaLink)) return 0;
      continue;
    }
    // A link to a directory is left out, so link cycles end.
    if (kind != EntryKind::Directory || viaLink) continue;
    platform::DirectoryHandle child = here.OpenChild(name);
    std::vector<std::u16string> names;
    if (child.IsOpen()) {
      if (child.Identity() == top) continue;
      names = child.Names();
    } else if (here.ChildKind(name) != EntryKind::Directory) {
      continue;  // gone, or swapped for a link, since it was looked at
    }
    const platform::DirectoryHandle& target = to.Here();
    if (target.ChildKind(name) == EntryKind::Missing) target.MakeChild(name);
    platform::DirectoryHandle made = target.OpenChild(name);
    if (!made.IsOpen()) return 0;
    // A directory that cannot be read has no names to copy: it is copied
    // empty, as its listing would be.
    if (!child.IsOpen()) continue;
    from.Descend(std::move(child));
    to.Descend(std::move(made));
    pending.emplace_back(std::move(names));
  }
}

// Empties the directory. Each level is reached from its parent without
// following a link, so an entry swapped for a link during the walk cannot
// lead it anywhere outside the tree; a link is removed as a link.
void RemoveContents(platform::DirectoryHandle top) {
  std::vector<Pending> pending;
  pending.emplace_back(top.Names());
  DirectoryChain chain(std::move(top));
  for (;;) {
    if (pending.back().Done()) {
      const std::u16string name = std::move(pending.back().name);
      pending.pop_back();
      if (pending.empty() || !chain.Ascend()) return;
      chain.Here().RemoveChild(name, true);
      continue;
    }
    Pending& level = pending.back();
    std::u16string name = std::move(level.names[level.next++]);
    const platform::DirectoryHandle& dir = chain.Here();
    switch (dir.ChildKind(name)) {
      case EntryKind::Missing:
        break;
      case EntryKind::Directory: {
        platform::DirectoryHandle child = dir.OpenChild(name);
        if (!child.IsOpen()) {
          dir.RemoveChild(name, true);
          break;
        }
        std::vector<std::u16string> names = child.Names();
        chain.Descend(std::move(child));
        pending.emplace_back(std::move(names), std::move(name));
        break;
      }
      default:
        dir.RemoveChild(name, false);
        break;
    }
  }
}

// Whether `path` as written is a file or a directory. A path too long for
// the system is not even built: a walk over each prefix of a very long
// path would otherwise copy it once per component.
bool ExistsAsWritten(std::u16string_view path) {
  if (path.size() >= platform::MaxPathUnits()) return false;
  Int kind = KindOf(FromUnits(path));
  return kind == PATHKIND_FILE || kind == PATHKIND_DIR;
}

// The entry of `dir` whose name matches `name` in any letter case, with a
// trailing "/" of `name` kept; false when there is none.
bool FindCased(const std::u16string& dir, std::u16string_view name, std::u16string& found) {
  bool slash = name.ends_with(u'/');
  if (slash) name.remove_suffix(1);
  Ref<String> wanted = FromUnits(name)->Lowercased();
  platform::DirectoryListing listing = ListingOf(FromUnits(dir));
  std::u16string entry;
  while (listing.Next(entry)) {
    Ref<String> candidate = FromUnits(entry);
    if (candidate->Lowercased()->View() != wanted->View()) continue;
    found = candidate->View();
    if (slash) found += u'/';
    return true;
  }
  return false;
}

}  // namespace

Int PathKind(const Ref<String>& path) { return KindOf(FixPath(path, 0)); }

Int PathModified(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? ClampToInt(status.modified) : 0;
}

Int PathBytes(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? ClampToInt(status.size) : -1;
}

Int PathPermissions(const Ref<String>& path) {
  EntryStatus status;
  return Status(FixPath(path, 0), status) ? static_cast<Int>(status.mode & 0777) : -1;
}

Int SetPathPermissions(const Ref<String>& path, Int mode) {
  Ref<String> fixed = FixPath(path, 0);
  platform::SetPermissionBits(SystemName(fixed), static_cast<unsigned>(mode) & 0777u);
  return 0;
}

Int MakeFile(const Ref<String>& pathRef) {
  Ref<String> path = FixPath(pathRef, 0);
  RemoveFile(path);
  if (platform::File* file = platform::FileOpen(SystemName(path), "wb")) platform::FileClose(file);
  return KindOf(path) == PATHKIND_FILE ? 1 : 0;
}

Int MakeDir(const Ref<String>& pathRef, Int recurse) {
  Ref<String> path = FixPath(pathRef, 1);
  if (!recurse) {
    MakeOneDir(path);
    return KindOf(path) == PATHKIND_DIR ? 1 : 0;
  }
  Ref<String> full = AbsolutePath(path);
  if (full->Length() == 0) return 0;
  full = Concat(full, "/"_s);
  // Each prefix ends with "/": first the root, then one component more at
  // each step.
  Int end = RootPath(full)->Length();
  for (;;) {
    Ref<String> prefix = Slice(full, 0, end);
    Int kind = KindOf(prefix);
    if (kind == PATHKIND_FILE) return 0;
    if (kind == PATHKIND_NONE) {
      Ref<String> dir = PathNoSlash(prefix);
      MakeOneDir(dir);
      if (KindOf(dir) != PATHKIND_DIR) return 0;
    }
    if (end >= full->Length()) return 1;
    end = full->IndexOf("/"_s, end) + 1;
  }
}

Int RemoveFile(const Ref<String>& pathRef) {
  Ref<String> path = FixPath(pathRef, 0);
  platform::RemoveEntry(SystemName(path));
  return KindOf(path) == PATHKIND_NONE ? 1 : 0;
}

Int RenamePath(const Ref<String>& oldPath, const Ref<String>& newPath) {
  Ref<String> from = FixPath(oldPath, 0);
  Ref<String> to = FixPath(newPath, 0);
  return platform::RenameEntry(SystemName(from), SystemName(to)) ? 1 : 0;
}

Int DuplicateFile(const Ref<Object>& src, const Ref<Object>& dst) {
  if (SameFile(src, dst)) return 0;
  Ref<TStream> from = OpenUrlReader(src);
  if (!from) return 0;
  Ref<TStream> to = OpenUrlWriter(dst);
  if (!to) {
    from->Close();
    return 0;
  }
  return CopyAndClose(from, to);
}

Int DuplicateDir(const Ref<String>& srcRef, const Ref<String>& dstRef) {
  Ref<String> src = FixPath(srcRef, 0);
  Ref<String> dst = FixPath(dstRef, 0);
  if (KindOf(src) != PATHKIND_DIR) return 0;
  // Neither tree is entered through a link, however the name is spelled.
  platform::DirectoryHandle from = platform::DirectoryHandle::Open(SystemName(src));
  EntryStatus status;
  if (!from.IsOpen() && !(platform::LinkStatus(platform::EntryPath(SystemName(src)), status) &&
                          status.kind == EntryKind::Directory))
    return 0;
  if (KindOf(dst) == PATHKIND_NONE) MakeOneDir(dst);
  if (KindOf(dst) != PATHKIND_DIR) return 0;
  platform::DirectoryHandle to = platform::DirectoryHandle::Open(SystemName(dst));
  if (!to.IsOpen()) return 0;
  // A source that cannot be read lists no names: an empty copy.
  if (!from.IsOpen()) return 1;
  return CopyTree(std::move(from), std::move(to));
}

Int RemoveDir(const Ref<String>& pathRef, Int recurse) {
  Ref<String> path = FixPath(pathRef, 1);
  if (recurse) {
    platform::DirectoryHandle dir = platform::DirectoryHandle::Open(SystemName(path));
    if (!dir.IsOpen()) return 0;
    RemoveContents(std::move(dir));
  }
  platform::RemoveDirectory(SystemName(path));
  return KindOf(path) == PATHKIND_NONE ? 1 : 0;
}

Int SetWorkingDir(const Ref<String>& path) {
  Ref<String> dir = FixPath(path, 1);
  return platform::ChangeDirectory(SystemName(dir)) ? 1 : 0;
}

Ref<String> DiskCasedPath(const Ref<String>& pathRef) {
  std::u16string_view path = Text(pathRef).View();
  // Walks up to the longest prefix that exists as written (or to the first
  // component), then down again, looking each component up in the
  // directory found so far. A loop rather than recursion: a path of many
  // thousand components must not exhaust the stack.
  struct Step {
    std::size_t slash, end;
  };
  std::vector<Step> steps;
  std::u16string cased;
  for (std::size_t end = path.size();;) {
    std::u16string_view here = path.substr(0, end);
    if (ExistsAsWritten(here)) {
      cased = here;
      break;
    }
    std::size_t slash = end >= 2 ? here.rfind(u'/', end - 2) : std::u16string_view::npos;
    if (slash == std::u16string_view::npos || slash == 0) {
      // A first component below "/" is looked for in "/", not in the
      // working directory, and keeps its "/".
      bool rooted = slash == 0;
      std::u16string entry;
      if (!FindCased(rooted ? u"/" : u".", here.substr(rooted ? 1 : 0), entry))
        return String::Empty();
      cased = rooted ? u"/" + entry : entry;
      break;
    }
    steps.push_back({slash, end});
    end = slash;
  }
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    std::u16string entry;
    if (!FindCased(cased, path.substr(step->slash + 1, step->end - step->slash - 1), entry))
      return String::Empty();
    cased += u'/';
    cased += entry;
  }
  return String::FromWideSpan(cased.data(), static_cast<Int>(cased.size()));
}

}  // namespace corvid
