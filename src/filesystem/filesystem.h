// Whole-file and directory operations: status queries, making, removing,
// renaming and copying files and directory trees, permissions, the working
// directory, and the lookup of a path's spelling on the disk.
#pragma once

#include "runtime/string.h"

namespace corvid {

constexpr Int PATHKIND_NONE = 0;
constexpr Int PATHKIND_FILE = 1;
constexpr Int PATHKIND_DIR = 2;

// Paths are normalised with FixPath first (as directories where noted).
// A path with a unit whose low byte is zero names nothing: the system would
// read a shorter name in its place. Nothing here raises, except DuplicateFile and
// DuplicateDir passing on stream errors other than a refused write.

// Queries: one status call each, links followed. A path holding '<' or '>'
// is missing without asking the system.

/// PATHKIND_FILE for a regular file, PATHKIND_DIR for a directory,
/// PATHKIND_NONE for anything else or a missing path.
Int PathKind(const Ref<String>& path);
/// Modification time in seconds since 1970 (limited to the Int range); 0
/// when missing.
Int PathModified(const Ref<String>& path);
/// Size in bytes (at most 2^31-1); -1 when missing.
Int PathBytes(const Ref<String>& path);
/// The permission bits (mode & 0777); -1 when missing.
Int PathPermissions(const Ref<String>& path);

/// Sets the permission bits to `mode` & 0777; other mode bits stay.
/// Returns 0 whether or not that worked.
Int SetPathPermissions(const Ref<String>& path, Int mode);
/// Removes the file if there is one, then creates it empty. 1 when a
/// regular file is then there.
Int MakeFile(const Ref<String>& path);
/// Makes the directory (normalised as a directory; mode 0777 less the
/// umask). With `recurse`, every missing directory on the way to the
/// absolute path, stopping with 0 at a file in the way or a directory that
/// cannot be made. 1 when the directory is then there.
Int MakeDir(const Ref<String>& path, Int recurse);
/// Removes a file or a symbolic link (never a directory) without touching
/// its permission bits. 1 when the path is then missing.
Int RemoveFile(const Ref<String>& path);
/// Renames or moves; never replaces an existing entry. 1 on success.
Int RenamePath(const Ref<String>& oldPath, const Ref<String>& newPath);
/// Copies every byte of the stream `src` opens to the stream `dst` opens
/// (both names as OpenUrl takes them) and closes both. 1 on success; 0 when
/// either does not open, when both are plain names of the same file, or
/// when the destination stops taking bytes. Other stream errors pass on.
Int DuplicateFile(const Ref<Object>& src, const Ref<Object>& dst);
/// Copies the directory tree `src` into `dst` (made if missing), entry by
/// entry in listing order; stops with 0 at the first failure, keeping what
/// was copied. A symbolic link to a file is copied as the file's content; a
/// link to a directory is left out, so link cycles end. Neither tree is
/// entered through a link: 0 when `src` or `dst` is itself one, however
/// spelled ("link/." too), and a directory of either tree swapped for a
/// link during the copy is neither read from nor written into. A source
/// directory that cannot be read is copied empty. Any depth is copied. 1 on
/// success.
Int DuplicateDir(const Ref<String>& src, const Ref<String>& dst);
/// Removes the directory (normalised as a directory); with `recurse`, its
/// contents first, carrying on past what cannot be removed. Symbolic links
/// are removed as links and never followed, not even when one is swapped
/// in during the walk; a `path` that is itself a link removes nothing,
/// however spelled ("link/." too). Any depth is removed. 1 when the path is
/// then missing.
Int RemoveDir(const Ref<String>& path, Int recurse);
/// Changes the process's working directory. 1 on success.
Int SetWorkingDir(const Ref<String>& path);

/// The path (not normalised; "/" separators) with each component spelled
/// as the directory stores it when only its letter case differs; the path
/// itself when it exists as written; the empty string when some component
/// is not there in any case.
Ref<String> DiskCasedPath(const Ref<String>& path);

}  // namespace corvid
