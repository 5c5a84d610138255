#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

// The code arrives on standard input, so the final prompt then finds the
// input at its end.
TEST(CodeFromPipe, StandardInputServesAsTheCodeFile) {
  std::string code = std::string(3000, ' ') + "+++.-.";  // more than one load buffer
  auto result = RunProcess({TapeBinary(), "/dev/stdin"}, code);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript("/dev/stdin", "32"));
  EXPECT_EQ(result.err, "Error reading from stream");
  EXPECT_EQ(result.status, 255);
}

TEST(CodeFromPipe, EmptyStandardInputRunsNothing) {
  auto result = RunProcess({TapeBinary(), "/dev/stdin"}, "");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript("/dev/stdin", ""));
  EXPECT_EQ(result.status, 255);
}

// Opens the fifo for writing once the interpreter has opened it for
// reading, without blocking if it never does.
void FeedFifo(const std::string& path, const std::string& code) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int fd = -1;
  while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
    if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ssize_t written = write(fd, code.data(), code.size());
  static_cast<void>(written);
  close(fd);
}

TEST(CodeFromPipe, NamedPipeServesAsTheCodeFile) {
  TempDir dir;
  std::string fifo = (dir.Path() / "code.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread feeder(FeedFifo, fifo, "++++.\n(comment)+.\n");
  auto result = RunProcess({TapeBinary(), fifo}, "\n");
  feeder.join();
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript(fifo, "45"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace corvid
