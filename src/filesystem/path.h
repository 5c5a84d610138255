// Path strings: normalisation to "/" separators, the root forms ("/", a
// drive such as "C:/", a host such as "//host/"), dissection into parent,
// leaf and extension, and resolution against the working directory.
#pragma once

#include "runtime/string.h"

namespace corvid {

// Functions that say "normalised" work on FixPath(path, 0) of their own copy
// of the argument; the caller's string never changes. A Null path reads as
// the empty string.

/// The path with every "\\" turned into "/"; a "//host" without a further
/// "/" gains one; a drive name whose ":" is not followed by "/" (and not by
/// another ":", and with no "/" before it) gains a "/" after the ":" ("C:"
/// gives "C:/", "C:x" gives "C:/x"). With `isDir` set, one trailing "/" goes
/// unless the path is a root.
Ref<String> FixPath(const Ref<String>& path, Int isDir);
/// The root the path starts with, as written (not normalised): "//host/"
/// for a path starting "//" (empty when no "/" follows the host), the text
/// up to a "/" that directly follows the first ":" (a drive root), "/" for
/// a path starting "/", otherwise the empty string.
Ref<String> RootPath(const Ref<String>& path);
/// 1 when the path is not empty and is its own root.
Int IsRootPath(const Ref<String>& path);
/// 1 when the path has a root.
Int IsAbsolutePath(const Ref<String>& path);
/// The drive of the working directory: the text before its first ":" when
/// no separator precedes that ":"; the empty string otherwise, and always
/// for a working directory that starts at "/".
Ref<String> CurrentDrive();

/// Normalised; the text after the last "/", or the whole path without one.
Ref<String> PathLeaf(const Ref<String>& path);
/// Normalised; cut before the last "." unless a "/" follows it.
Ref<String> PathNoExt(const Ref<String>& path);
/// PathLeaf(PathNoExt(path)).
Ref<String> PathLeafNoExt(const Ref<String>& path);
/// Normalised; without one trailing "/" unless the path is a root.
Ref<String> PathNoSlash(const Ref<String>& path);
/// Normalised; "." , ".." and roots stay as they are; otherwise the text
/// before the last "/" (the empty string without one), or the text up to
/// and including it when that is a root.
Ref<String> PathParent(const Ref<String>& path);
/// Normalised; the text after the last "." unless a "/" follows it, else
/// the empty string.
Ref<String> PathExt(const Ref<String>& path);
/// The working directory, normalised; the empty string when the system
/// cannot tell it.
Ref<String> WorkingDir();
/// The path resolved against the working directory (or against its own
/// root) with "." and ".." components worked out as text; ".." stops at the
/// root. A path starting with a single "/" takes the working directory's
/// drive first, when it has one. Nothing is looked up on the disk. The empty
/// string when a relative path meets an unreadable working directory.
Ref<String> AbsolutePath(const Ref<String>& path);

}  // namespace corvid
