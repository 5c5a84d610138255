// Tests for the file-system operations: queries, making and removing files
// and directories, renaming, copying trees, listings and the spelling of a
// path on the disk.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "filesystem/filesystem.h"
#include "filesystem/listing.h"
#include "filesystem/open.h"
#include "filesystem/path.h"
#include "stream/stream_functions.h"
#include "in_temp_dir.h"
#include "support/memory_stream.h"
#include "support/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using testing::Name;
using testing::ReadFileBytes;
using testing::Units;

Ref<String> S(std::u16string_view units) {
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

fs::perms Perms(const fs::path& path) { return fs::symlink_status(path).permissions(); }

std::vector<std::string> Sorted(const Ref<Array>& names) {
  std::vector<std::string> out;
  for (const Ref<String>& name : names->Elements<Ref<String>>()) out.push_back(ToBytes(name));
  std::sort(out.begin(), out.end());
  return out;
}

// Every entry under `root` (links not followed): a directory as "/", a link
// as "->", a file as its bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).generic_string();
    if (entry.is_symlink()) tree[relative] = "->";
    else if (entry.is_directory()) tree[relative] = "/";
    else tree[relative] = ReadFileBytes(entry.path());
  }
  return tree;
}

using FileSystem = testing::InTempDir;
using testing::LinkKind;

// The path with every backslash turned into "/".
std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Makes a link of the first kind this system makes; empty on success, else
// why none could be made.
std::string MakeSomeLink(const fs::path& target, const fs::path& link, bool directory) {
  std::string why;
  for (LinkKind kind : {LinkKind::Symbolic, LinkKind::Junction, LinkKind::UnixSymbolic}) {
    std::string failed = testing::MakeLink(kind, target, link, directory);
    if (failed.empty()) return "";
    why += (why.empty() ? "" : "; ") + failed;
  }
  return why;
}

// The system reads a zero byte as the end of a name, so a path holding one
// must not reach it: it would name the shorter path's file. Nor may a unit
// the system's encoding cannot spell.
TEST_F(FileSystem, PathsThatNameNothing) {
  dir_.Write("x<y", "data");
  dir_.Write("file", "data");
  fs::create_directories("dir/sub");
  const std::u16string cases[] = {
      Here() + u"/missing",
      Here() + u"/x<y",
      Here() + u"/file" + std::u16string(1, u'\0') + u"tail",
      Here() + u"/file\xD800",
  };
  for (const std::u16string& path : cases) {
    SCOPED_TRACE(ToBytes(S(path)));
    EXPECT_EQ(PathKind(S(path)), PATHKIND_NONE);
    EXPECT_EQ(PathModified(S(path)), 0);
    EXPECT_EQ(PathBytes(S(path)), -1);
    EXPECT_EQ(PathPermissions(S(path)), -1);
  }
  const std::u16string zero(1, u'\0');
  MakeFile(S(u"file" + zero));
  RemoveFile(S(u"file\xD800"));
  RemoveDir(S(u"dir" + zero), 1);
  EXPECT_EQ(ReadFileBytes("file"), "data");
  EXPECT_TRUE(fs::is_directory("dir/sub"));
}

TEST_F(FileSystem, QueriesOnAFileAndADirectory) {
  dir_.Write("file", "12345");
  using namespace std::chrono;
  fs::last_write_time("file", file_clock::from_sys(sys_seconds(seconds(1000000000))));
  EXPECT_EQ(SetPathPermissions("file"_s, 0640 | 04000), 0);
  EXPECT_EQ(PathKind("file"_s), PATHKIND_FILE);
  EXPECT_EQ(PathBytes(".\\file"_s), 5);
  EXPECT_EQ(PathModified("file"_s), 1000000000);
#ifdef _WIN32
  // Windows keeps the owner's write bit alone and shows it for everyone.
  EXPECT_EQ(PathPermissions("file"_s), 0666);
#else
  EXPECT_EQ(PathPermissions("file"_s), 0640);
#endif
  EXPECT_EQ(PathKind(S(Here() + u"\\")), PATHKIND_DIR);
}

TEST_F(FileSystem, MakeFileAndRemoveFile) {
  dir_.Write("readonly", "data");
  fs::permissions("readonly", fs::perms::owner_read);
  EXPECT_EQ(MakeFile("readonly"_s), 1);
  EXPECT_EQ(ReadFileBytes("readonly"), "");
  EXPECT_EQ(MakeFile("fresh"_s), 1);

  // Removing never changes permission bits: not of a directory it refuses,
  // nor of the file behind a link (RemoveFileTakesTheLinkNotTheFileBehindIt).
  fs::create_directory("dir");
  const fs::perms before = Perms("dir");
  EXPECT_EQ(RemoveFile("dir"_s), 0);
  EXPECT_EQ(MakeFile("dir"_s), 0);
  EXPECT_TRUE(fs::is_directory("dir"));
  EXPECT_EQ(Perms("dir"), before);
  EXPECT_EQ(RemoveFile("readonly"_s), 1);
  EXPECT_FALSE(fs::exists("readonly"));
}

TEST_F(FileSystem, RemoveFileTakesTheLinkNotTheFileBehindIt) {
  dir_.Write("target", "kept");
  fs::permissions("target", fs::perms::owner_read);
  const fs::perms targetPerms = Perms("target");
  if (auto why = MakeSomeLink("target", "link", false); !why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(RemoveFile("link"_s), 1);
  EXPECT_FALSE(fs::exists(fs::symlink_status("link")));
  EXPECT_EQ(Perms("target"), targetPerms);
  EXPECT_EQ(ReadFileBytes("target"), "kept");
  fs::permissions("target", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(FileSystem, MakeDir) {
  dir_.Write("file", "");
  const struct {
    std::u16string path;
    Int recurse, result;
  } cases[] = {
      {u"a/b/c", 1, 1},         {u"m\\n\\o\\", 1, 1}, {Here() + u"/p/q", 1, 1},
      {u"file/x", 1, 0},        {u"r/s", 0, 0},       {u"single/", 0, 1},
      {u"a/b/c", 1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeDir(S(c.path), c.recurse), c.result) << ToBytes(S(c.path));
    EXPECT_EQ(PathKind(S(c.path)), c.result ? PATHKIND_DIR : PATHKIND_NONE) << ToBytes(S(c.path));
  }
}

TEST_F(FileSystem, RemoveDir) {
  fs::create_directories("full/sub/deeper");
  dir_.Write("full/sub/file", "x");
  fs::permissions("full/sub/file", fs::perms::owner_read);
  fs::create_directory("empty");
  EXPECT_EQ(RemoveDir("full"_s, 0), 0);
  EXPECT_TRUE(fs::exists("full/sub/file"));
  EXPECT_EQ(RemoveDir("empty/"_s, 0), 1);
  EXPECT_EQ(RemoveDir("full\\"_s, 1), 1);
  EXPECT_FALSE(fs::exists("full"));
  EXPECT_EQ(RemoveDir("missing"_s, 1), 0);
}

// Links inside the tree go as links; what they point to stays. A directory
// named through a link is not emptied. On Windows every kind of reparse
// point counts, and Wine shows the links to directories of the Unix file
// system beneath it as reparse points too, though it cannot remove them:
// there the tree stays with the link in it, and the target is untouched.
struct Linked {
  LinkKind kind;
  bool directory;  // links to directories, else links to files
  bool removable = true;  // false: the system cannot remove such a link (Wine, a Unix link to a directory)
};

class RecursiveRemoveDir : public testing::InTempDir, public ::testing::WithParamInterface<Linked> {};

TEST_P(RecursiveRemoveDir, NeverFollowsLinks) {
  const LinkKind kind = GetParam().kind;
  fs::create_directories("outside/inner");
  dir_.Write("outside/keep", "kept");
  fs::create_directories("tree/sub");
  if (GetParam().directory) {
    if (auto why = testing::MakeLink(kind, dir_.Path() / "outside", "tree/sub/to_dir", true); !why.empty())
      GTEST_SKIP() << why;
    ASSERT_EQ(testing::MakeLink(kind, dir_.Path() / "outside", "via_link", true), "");
    EXPECT_EQ(RemoveDir("via_link"_s, 1), 0);
  } else {
    if (auto why = testing::MakeLink(kind, dir_.Path() / "outside/keep", "tree/to_file", false); !why.empty())
      GTEST_SKIP() << why;
    ASSERT_EQ(testing::MakeLink(kind, "nowhere", "tree/dangling", false), "");
  }
  EXPECT_EQ(RemoveDir("tree"_s, 1), GetParam().removable ? 1 : 0);
  EXPECT_EQ(fs::exists(fs::symlink_status("tree")), !GetParam().removable);
  EXPECT_EQ(ReadFileBytes("outside/keep"), "kept");
  EXPECT_TRUE(fs::is_directory("outside/inner"));
}

std::string LinkedName(const ::testing::TestParamInfo<Linked>& info) {
  return std::string(testing::LinkKindName(info.param.kind)) + (info.param.directory ? "ToADirectory" : "ToAFile");
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(EachKind, RecursiveRemoveDir,
                         ::testing::Values(Linked{LinkKind::Symbolic, true}, Linked{LinkKind::Symbolic, false},
                                           Linked{LinkKind::Junction, true}, Linked{LinkKind::UnixSymbolic, true, false},
                                           Linked{LinkKind::UnixSymbolic, false}),
                         LinkedName);
#else
INSTANTIATE_TEST_SUITE_P(EachKind, RecursiveRemoveDir,
                         ::testing::Values(Linked{LinkKind::Symbolic, true}, Linked{LinkKind::Symbolic, false}),
                         LinkedName);
#endif
// However a link is spelled, a trailing "/" or "." included (which makes
// the system follow it), a tree operation neither empties, reads nor writes
// the directory behind it.
TEST_F(FileSystem, NoSpellingOfALinkLeadsATreeOperationThrough) {
  fs::create_directories("victim/sub");
  dir_.Write("victim/file", "kept");
  dir_.Write("victim/sub/deeper", "kept too");
  fs::create_directory("src");
  dir_.Write("src/file", "new");
#ifdef _WIN32
  // The spellings are the POSIX half's concern; Windows strips them in the
  // same place. Under Wine the only link to a directory is a Unix one, on
  // which the temporary directory's clean-up (std::filesystem::remove_all)
  // never returns.
  GTEST_SKIP() << "Wine's only link to a directory hangs the test's clean-up";
#endif
  fs::create_directory_symlink("victim", "link");
  const auto before = Tree("victim");
  const auto removeDir = [](const Ref<String>& path) { return RemoveDir(path, 1); };
  const auto copyFrom = [](const Ref<String>& path) { return DuplicateDir(path, "copy"_s); };
  const auto copyTo = [](const Ref<String>& path) { return DuplicateDir("src"_s, path); };
  const struct {
    const char* operation;
    std::function<Int(const Ref<String>&)> run;
    std::u16string path;
  } cases[] = {
      {"RemoveDir", removeDir, u"link//"},       {"RemoveDir", removeDir, u"link/."},
      {"RemoveDir", removeDir, u"link/./"},      {"RemoveDir", removeDir, u"link///."},
      {"RemoveDir", removeDir, u"link\\."},      {"DuplicateDir from", copyFrom, u"link"},
      {"DuplicateDir from", copyFrom, u"link/"}, {"DuplicateDir from", copyFrom, u"link//."},
      {"DuplicateDir to", copyTo, u"link"},      {"DuplicateDir to", copyTo, u"link/."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + ToBytes(S(c.path)));
    EXPECT_EQ(c.run(S(c.path)), 0);
    EXPECT_EQ(Tree("victim"), before);
    EXPECT_TRUE(fs::exists(fs::symlink_status("link")));
    EXPECT_FALSE(fs::exists("copy"));
  }
}

#ifndef _WIN32
// Runs `body` `rounds` times while another thread keeps exchanging the
// entries `a` and `b`.
void WhileSwapping(const fs::path& a, const fs::path& b, int rounds, const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  for (int i = 0; i < rounds; ++i) body();
  done = true;
  swapper.join();
}
#endif

// A directory of either tree swapped for a link while the copy runs leads
// it neither to write into the link's target nor to copy from it.
TEST_F(FileSystem, DuplicateDirStaysInsideBothTreesWhileTheyChange) {
#ifdef _WIN32
  GTEST_SKIP() << "races renames through POSIX calls";
#else
  for (const std::string side : {"dst", "src"}) {
    SCOPED_TRACE(side + "/sub swapped for a link");
    const fs::path root = side;
    fs::create_directories(root / "src/sub");
    fs::create_directories(root / "dst/sub");
    fs::create_directory(root / "victim");
    for (int i = 0; i < 4; ++i) {
      dir_.Write((root / "victim/f").string() + std::to_string(i), "victim");
      dir_.Write((root / "src/sub/f").string() + std::to_string(i), "copy");
    }
    const auto before = Tree(root / "victim");
    fs::create_directory_symlink(dir_.Path() / root / "victim", root / side / "swap");
    const fs::path sub = root / side / "sub", swap = root / side / "swap";
    if (renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) != 0)
      GTEST_SKIP() << "the file system cannot exchange two entries";
    WhileSwapping(sub, swap, 100, [&] { DuplicateDir(Name(root / "src"), Name(root / "dst")); });
    EXPECT_EQ(Tree(root / "victim"), before);
    for (const auto& [name, bytes] : Tree(root / "dst")) EXPECT_NE(bytes, "victim") << name;
  }
#endif
}

// The walks hold a bounded number of descriptors, so no depth is too deep
// for them, and nothing is left behind for want of one.
TEST_F(FileSystem, TreesDeeperThanTheDescriptorLimitAreCopiedAndRemoved) {
#ifdef _WIN32
  GTEST_SKIP() << "lowers the descriptor limit of a forked child";
#else
  fs::path bottom = "deep";
  fs::create_directory(bottom);
  for (int i = 0; i < 200; ++i) fs::create_directory(bottom /= "d");
  dir_.Write((bottom / "leaf").string(), "leaf");
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{64, 64};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(100);
    Int copied = DuplicateDir("deep"_s, "copy"_s);
    Int removed = RemoveDir("deep"_s, 1);
    _exit(static_cast<int>(copied + 2 * removed));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << "1: copied, 2: removed";
  EXPECT_FALSE(fs::exists("deep"));
  fs::path copy = "copy" / fs::relative(bottom, "deep");
  EXPECT_EQ(ReadFileBytes(copy / "leaf"), "leaf");
#endif
}

TEST_F(FileSystem, RenamePathNeverReplaces) {
  dir_.Write("a", "first");
  dir_.Write("b", "second");
  EXPECT_EQ(RenamePath("a"_s, "b"_s), 0);
  EXPECT_EQ(ReadFileBytes("b"), "second");
  EXPECT_EQ(RenamePath("a"_s, "c"_s), 1);
  EXPECT_EQ(ReadFileBytes("c"), "first");
  EXPECT_EQ(RenamePath("a"_s, "d"_s), 0);
}

TEST_F(FileSystem, DuplicateFile) {
  dir_.Write("source", std::string("bytes\0\xFF", 7));
  dir_.Write("other", "other");
  fs::create_hard_link("other", "same");
  auto full = MakeRef<testing::MemoryStream>();
  full->Limit(3);
  struct Case {
    Ref<Object> src, dst;
    Int result;
  };
  std::vector<Case> cases = {
      {"source"_s, "copy"_s, 1},  {"missing"_s, "copy2"_s, 0}, {"source"_s, "no/dir"_s, 0},
      {"source"_s, full, 0},      {"other"_s, ".\\other"_s, 0}, {"other"_s, "same"_s, 0},
  };
#ifndef _WIN32
  cases.push_back({"source"_s, "/dev/full"_s, 0});  // refused only when the copy is closed
#endif
  for (const auto& c : cases) EXPECT_EQ(DuplicateFile(c.src, c.dst), c.result);
  EXPECT_EQ(ReadFileBytes("copy"), ReadFileBytes("source"));
  EXPECT_EQ(ReadFileBytes("other"), "other");
  EXPECT_FALSE(fs::exists("copy2"));
}

// A tree to copy from "src", and what a copy of it holds, as Tree lists it.
std::map<std::string, std::string> MakeSourceTree(const testing::TempDir& dir) {
  fs::create_directories("src/sub/deeper");
  fs::create_directory("src/empty");
  dir.Write("src/a.txt", "alpha");
  dir.Write("src/sub/b.bin", std::string("\0\1\2", 3));
  dir.Write("src/sub/deeper/c", "");
  std::map<std::string, std::string> tree = {
      {"a.txt", "alpha"},  {"empty", "/"},      {"sub", "/"}, {"sub/b.bin", std::string("\0\1\2", 3)},
      {"sub/deeper", "/"}, {"sub/deeper/c", ""},
  };
#ifndef _WIN32
  // No name holds a colon on Windows.
  dir.Write("src/x::y", "colons");
  tree["x::y"] = "colons";
#endif
  return tree;
}

// Every file and directory is copied, the empty one too; so is a tree
// into a place inside itself, the copy left out of it.
TEST_F(FileSystem, DuplicateDirCopiesATreeFileByFile) {
  const auto expected = MakeSourceTree(dir_);
  EXPECT_EQ(DuplicateDir("src/"_s, "dst"_s), 1);
  EXPECT_EQ(Tree("dst"), expected);
  EXPECT_EQ(DuplicateDir("src"_s, "src/sub/copy"_s), 1);
  EXPECT_EQ(Tree("src/sub/copy"), expected);
  EXPECT_EQ(DuplicateDir("src"_s, "src"_s), 0);
  EXPECT_EQ(ReadFileBytes("src/a.txt"), "alpha");
  EXPECT_EQ(DuplicateDir("src/a.txt"_s, "elsewhere"_s), 0);
}

// A link to a file is copied as the file; a link to a directory (here one
// that makes a cycle) is left out.
TEST_F(FileSystem, DuplicateDirCopiesLinkedFilesAndLeavesOutLinkedDirectories) {
  auto expected = MakeSourceTree(dir_);
  for (const auto& [target, link, directory] :
       {std::tuple<fs::path, fs::path, bool>{"../a.txt", "src/sub/link_file", false},
        {dir_.Path() / "src/a.txt", "src/sub/deeper/up_file", false},
        {"..", "src/sub/cycle", true}}) {
    if (auto why = MakeSomeLink(target, link, directory); !why.empty()) GTEST_SKIP() << why;
  }
  expected["sub/link_file"] = "alpha";
  expected["sub/deeper/up_file"] = "alpha";
  EXPECT_EQ(DuplicateDir("src/"_s, "dst"_s), 1);
  EXPECT_EQ(Tree("dst"), expected);
  EXPECT_EQ(DuplicateDir("src"_s, "src/sub/copy"_s), 1);
  EXPECT_EQ(Tree("src/sub/copy"), expected);
}

TEST_F(FileSystem, ListDir) {
  fs::create_directory("empty");
  fs::create_directory("some");
  dir_.Write("some/one", "");
  fs::create_directory("some/two");
  using Names = std::vector<std::string>;
  EXPECT_EQ(Sorted(ListDir("empty"_s, 1)), Names{});
  EXPECT_EQ(Sorted(ListDir("empty/"_s, 0)), (Names{".", ".."}));
  EXPECT_EQ(Sorted(ListDir("some"_s, 1)), (Names{"one", "two"}));
  EXPECT_EQ(Sorted(ListDir("some/one"_s, 0)), Names{});
  EXPECT_EQ(Sorted(ListDir("missing"_s, 0)), Names{});
}

// The names the system gives back (listings, the working directory) read
// as text where they are UTF-8, keep every other byte, and name the same
// entry again.
TEST_F(FileSystem, NamesFromTheSystemSpellTheSameEntryAgain) {
#ifdef _WIN32
  GTEST_SKIP() << "names are bytes on POSIX only";
#else
  const struct {
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"pr\xC3\xB6g", u"pr\u00F6g"},
      {"\xC4\x80", u"\u0100"},  // once refused: its low byte is zero
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"caf\xE9", u"caf\xDCE9"},
      {"\xC0\xAF", u"\xDCC0\xDCAF"},
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
  };
  std::vector<std::u16string> expected;
  for (const auto& c : cases) {
    fs::create_directory(c.bytes);
    dir_.Write(c.bytes + "/data", c.bytes);
    expected.push_back(c.units);
  }
  const Ref<Array> names = ListDir(S(Here()), 1);
  std::vector<std::u16string> listed;
  for (const Ref<String>& name : names->Elements<Ref<String>>()) listed.push_back(Units(name));
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Hex(c.bytes, " "));
    EXPECT_EQ(ToBytes(LoadByteText(S(c.units + u"/data"))), c.bytes);
    ASSERT_EQ(SetWorkingDir(S(c.units)), 1);
    EXPECT_EQ(Units(PathLeaf(WorkingDir())), c.units);
    ASSERT_EQ(SetWorkingDir(S(Here())), 1);
  }
#endif
}

TEST_F(FileSystem, ListingHandles) {
  dir_.Write("only", "");
  Int handle = OpenListing(S(Here()));
  ASSERT_GT(handle, 0);
  std::vector<std::string> names;
  for (Ref<String> name; (name = NextListed(handle))->Length() > 0;) names.push_back(ToBytes(name));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "only"}));
  EXPECT_EQ(Units(NextListed(handle)), u"");
  EXPECT_EQ(CloseListing(handle), 0);
  for (Int stale : {handle, handle + 1, 0, -1}) {
    EXPECT_EQ(Units(NextListed(stale)), u"");
    EXPECT_EQ(CloseListing(stale), 0);
  }
  EXPECT_EQ(OpenListing("only"_s), 0);
  EXPECT_EQ(OpenListing("missing"_s), 0);
}

// A drive's root with or without its separator, and paths through it in
// either spelling and either case of the letter.
TEST_F(FileSystem, DriveNames) {
#ifndef _WIN32
  GTEST_SKIP() << "drive names are Windows's";
#else
  dir_.Write("file", "12345");
  const std::u16string here = Here();  // "C:\\users\\...", as the system gives it
  ASSERT_EQ(here.substr(1, 2), u":\\");
  std::u16string slashed = here;
  std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
  std::u16string lower = slashed;
  lower[0] = static_cast<char16_t>(std::tolower(lower[0]));
  const std::u16string drive = here.substr(0, 2);
  const struct {
    std::u16string path;
    Int kind;
  } cases[] = {
      {drive, PATHKIND_DIR},          {drive + u"/", PATHKIND_DIR},    {drive + u"\\", PATHKIND_DIR},
      {lower.substr(0, 3), PATHKIND_DIR}, {here + u"\\file", PATHKIND_FILE}, {slashed + u"/file", PATHKIND_FILE},
      {lower + u"\\file", PATHKIND_FILE}, {slashed + u"\\.\\file", PATHKIND_FILE}, {here, PATHKIND_DIR},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathKind(S(c.path)), c.kind) << ToBytes(S(c.path));
    if (c.kind == PATHKIND_FILE) {
      EXPECT_EQ(PathBytes(S(c.path)), 5) << ToBytes(S(c.path));
    }
  }
  EXPECT_EQ(Sorted(ListDir(S(drive + u"/"), 1)), Sorted(ListDir(S(drive + u"\\"), 1)));
  EXPECT_GT(ListDir(S(drive + u"/"), 1)->Count(), 0);
#endif
}

// Names beyond Latin-1 reach Windows whole, through the wide calls: made,
// listed, opened, measured and removed by their 16-bit names.
TEST_F(FileSystem, NamesBeyondLatin1) {
#ifndef _WIN32
  GTEST_SKIP() << "POSIX takes a name's units as their low bytes, so a name beyond Latin-1 is another name there";
#else
  ASSERT_TRUE(platform::WideCalls());
  const std::u16string names[] = {u"\u043a\u043e\u0434.txt", u"\u65e5\u672c.txt", u"\u20ac.txt",
                                  u"\u00e9\u0141.txt"};
  for (const std::u16string& name : names) {
    std::ofstream(fs::path(name), std::ios::binary) << "+-.";
    ASSERT_TRUE(fs::exists(fs::path(name)));
  }
  std::vector<std::u16string> listed;
  const Ref<Array> all = ListDir(S(Here()), 1);
  for (const Ref<String>& name : all->Elements<Ref<String>>()) listed.push_back(Units(name));
  std::sort(listed.begin(), listed.end());
  std::vector<std::u16string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const std::u16string& name : names) {
    SCOPED_TRACE(ToBytes(S(name)));
    EXPECT_EQ(PathKind(S(name)), PATHKIND_FILE);
    EXPECT_EQ(PathBytes(S(Here() + u"\\" + name)), 3);
    Ref<TStream> stream = OpenSeekableReader(S(name));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Size(), 3);
    CloseSeekable(stream);
    EXPECT_EQ(RemoveFile(S(name)), 1);
    EXPECT_FALSE(fs::exists(fs::path(name)));
    EXPECT_EQ(MakeFile(S(name)), 1);
    EXPECT_TRUE(fs::exists(fs::path(name)));
  }
#endif
}

TEST_F(FileSystem, DiskCasedPath) {
  fs::create_directory("Alpha");
  dir_.Write("Alpha/Beta.txt", "");
  // The whole path, its first letter after the root ("/" or "C:/") in
  // the wrong case too.
  const std::string here = Slashed(dir_.Path().string());
  std::string rooted = here + "/ALPHA/beta.TXT";
  const std::size_t first = here.find('/') + 1;
  rooted[first] = static_cast<char>(std::toupper(rooted[first]));
  const struct {
    std::string path, expected;
  } cases[] = {
      {"Alpha/Beta.txt", "Alpha/Beta.txt"},
      {"ALPHA/beta.TXT", "Alpha/Beta.txt"},
      {"alpha/", "Alpha/"},
      {"alpha//BETA.txt", "Alpha//Beta.txt"},
      {"alpha/gamma", ""},
      {"gamma/beta.txt", ""},
      {rooted, here + "/Alpha/Beta.txt"},
      {"alpha/" + std::string(1 << 20, '/'), ""},
  };
  for (const auto& c : cases) {
#ifdef _WIN32
    // Windows finds a name in any letter case, so a path that exists in
    // another case exists as written and comes back unchanged.
    const std::string expected = c.expected.empty() ? "" : c.path;
#else
    const std::string& expected = c.expected;
#endif
    EXPECT_EQ(ToBytes(DiskCasedPath(FromBytes(c.path))), expected) << c.path;
  }
}

}  // namespace
}  // namespace corvid
