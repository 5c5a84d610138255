// Tests for the directory handles of the platform layer: a walk from
// handle to child handle never passes through a symbolic link.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/internal/platform_fs.h"
#include "support/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using platform::DirectoryHandle;
using platform::EntryKind;

// The moment a tree removal fears: it has seen "sub" as a directory, and
// before it steps in, "sub" becomes a link to a directory outside. On
// Windows the link may be any reparse point.
class DirectoryHandleSwap : public ::testing::TestWithParam<testing::LinkKind> {};

TEST_P(DirectoryHandleSwap, AChildSwappedForALinkIsNeitherEnteredNorRemoved) {
  testing::TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  fs::create_directory(dir.Path() / "outside");
  dir.Write("outside/keep", "kept");
  DirectoryHandle tree = DirectoryHandle::Open((dir.Path() / "tree").u16string());
  ASSERT_TRUE(tree.IsOpen());
  EXPECT_EQ(tree.Names(), std::vector<std::u16string>{u"sub"});
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Directory);

  fs::remove(dir.Path() / "tree/sub");
  if (auto why = testing::MakeLink(GetParam(), dir.Path() / "outside", dir.Path() / "tree/sub", true); !why.empty())
    GTEST_SKIP() << why;
  EXPECT_FALSE(tree.OpenChild(u"sub").IsOpen());
  EXPECT_EQ(tree.ChildKind(u"sub"), EntryKind::Link);
  EXPECT_FALSE(tree.RemoveChild(u"sub", true));
  EXPECT_FALSE(DirectoryHandle::Open((dir.Path() / "tree/sub").u16string()).IsOpen());
  EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "outside/keep"), "kept");
  // Wine cannot remove a Unix symbolic link to a directory at all.
  EXPECT_EQ(tree.RemoveChild(u"sub", false), GetParam() != testing::LinkKind::UnixSymbolic);
  EXPECT_TRUE(fs::exists(dir.Path() / "outside/keep"));
}

#ifndef _WIN32
std::string ReadAndClose(platform::File* file) {
  std::string bytes;
  for (int c; (c = std::fgetc(file)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(file);
  return bytes;
}
#endif

// A copy reads a file through a link only when asked to, writes through
// none, never waits on a FIFO, and never empties the file it copies from.
TEST(DirectoryHandle, ChildFilesOpenOnlyAsPlainFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a FIFO";
#else
  testing::TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  dir.Write("tree/file", "data");
  dir.Write("outside", "kept");
  fs::create_symlink(dir.Path() / "outside", dir.Path() / "tree/link");
  ASSERT_EQ(mkfifo((dir.Path() / "tree/fifo").c_str(), 0600), 0);
  DirectoryHandle tree = DirectoryHandle::Open((dir.Path() / "tree").u16string());
  platform::EntryIdentity fileIdentity, linkedIdentity;
  platform::File* file = tree.ReadChild(u"file", false, fileIdentity);
  ASSERT_TRUE(file);
  EXPECT_EQ(ReadAndClose(file), "data");

  const struct {
    std::u16string name;
    bool followLink;
    const char* read;  // null: refused
  } reads[] = {{u"link", false, nullptr}, {u"link", true, "kept"}, {u"fifo", true, nullptr}, {u"sub", true, nullptr}};
  for (const auto& r : reads) {
    SCOPED_TRACE(fs::path(r.name).string());
    platform::File* opened = tree.ReadChild(r.name, r.followLink, linkedIdentity);
    ASSERT_EQ(opened != nullptr, r.read != nullptr);
    if (opened) {
      EXPECT_EQ(ReadAndClose(opened), r.read);
    }
  }

  const struct {
    std::u16string name;
    platform::EntryIdentity keep;
    bool opened;
  } writes[] = {{u"link", {}, false}, {u"fifo", {}, false}, {u"sub", {}, false},
                {u"file", fileIdentity, false}, {u"file", linkedIdentity, true}, {u"fresh", fileIdentity, true}};
  for (const auto& w : writes) {
    SCOPED_TRACE(fs::path(w.name).string());
    platform::File* opened = tree.WriteChild(w.name, w.keep);
    EXPECT_EQ(opened != nullptr, w.opened);
    if (opened) {
      EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "tree" / w.name), "");
      std::fclose(opened);
    } else if (w.name == u"file") {
      EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "tree/file"), "data");
    }
  }
  EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "outside"), "kept");
  EXPECT_FALSE(tree.MakeChild(u"link"));
  EXPECT_TRUE(tree.MakeChild(u"made"));
  EXPECT_EQ(tree.ChildKind(u"made"), EntryKind::Directory);
#endif
}

// The way back up a walk: the parent reached from a child is the directory
// the child was opened from only while the child stays where it was.
TEST(DirectoryHandle, AParentIsKnownByItsIdentity) {
  testing::TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  DirectoryHandle tree = DirectoryHandle::Open((dir.Path() / "tree/.").u16string());
  DirectoryHandle sub = tree.OpenChild(u"sub");
  ASSERT_TRUE(sub.IsOpen());
  EXPECT_EQ(sub.OpenParent().Identity(), tree.Identity());
  EXPECT_NE(sub.Identity(), tree.Identity());
#ifndef _WIN32
  // Windows refuses to move a directory while it is open.
  fs::rename(dir.Path() / "tree/sub", dir.Path() / "moved");
  EXPECT_NE(sub.OpenParent().Identity(), tree.Identity());
#endif
}
std::string KindName(const ::testing::TestParamInfo<testing::LinkKind>& info) {
  return testing::LinkKindName(info.param);
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(EachKind, DirectoryHandleSwap,
                         ::testing::Values(testing::LinkKind::Symbolic, testing::LinkKind::Junction,
                                           testing::LinkKind::UnixSymbolic),
                         KindName);
#else
INSTANTIATE_TEST_SUITE_P(EachKind, DirectoryHandleSwap, ::testing::Values(testing::LinkKind::Symbolic), KindName);
#endif

}  // namespace
}  // namespace corvid
