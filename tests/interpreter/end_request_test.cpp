// Tests for a run ended from outside (a kill, Ctrl+C, a closed terminal):
// what the program wrote before still arrives, and the end still shows the
// signal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::TapeBinary;
using testing::TempDir;

#ifndef _WIN32

using Clock = std::chrono::steady_clock;

// Twelve loops that each write 255 down to 0, then a loop that never ends
// and writes nothing: everything the program writes waits in standard
// output's buffer, which the run flushes only some 50 ms later.
std::string CountdownsThenForever() {
  std::string code;
  for (int i = 0; i < 12; ++i) code += "(-.#@%)";
  return code + ">+(#@%)";
}

std::string Countdowns() {
  std::string one;
  for (int v = 255; v >= 0; --v) one += std::to_string(v);
  std::string all;
  for (int i = 0; i < 12; ++i) all += one;
  return all;
}

enum class Target { Pipe, File };

struct Ended {
  std::string out;
  int signal = 0;  // 0: it did not end by a signal
};

// Runs the interpreter on the program above with standard output to a pipe
// or a file, and once the "Executing" lines stand there, gives the run 20 ms
// to write its numbers (they take well under one, and may wait 50), then
// sends `sig`. With `ignored`, the interpreter starts with that signal ignored
// (as under nohup), and `sig` is followed by SIGTERM a moment later.
Ended RunAndSignal(const TempDir& dir, Target target, int sig, bool ignored = false) {
  const std::string code = dir.Write("code.tape", CountdownsThenForever()).string();
  const std::string head = "Executing " + code + "\r\n\r\n";
  const std::string outPath = (dir.Path() / "out.txt").string();
  int pipeFds[2] = {-1, -1};
  int outFd = -1;
  if (target == Target::Pipe) {
    if (pipe(pipeFds) != 0) return {};
    outFd = pipeFds[1];
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  } else {
    outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  const std::string tape = TapeBinary();
  pid_t child = fork();
  if (child == 0) {
    int none = open("/dev/null", O_RDWR);
    dup2(none, 0);
    dup2(outFd, 1);
    dup2(none, 2);
    // Whatever this test runs under, the child starts with the end signals
    // in their usual state.
    sigset_t all;
    sigemptyset(&all);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
      sigaddset(&all, s);
      signal(s, s == sig && ignored ? SIG_IGN : SIG_DFL);
    }
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    execl(tape.c_str(), tape.c_str(), code.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(outFd);
  Ended ended;
  auto readSome = [&] {
    if (target == Target::File) {
      ended.out = testing::ReadFileBytes(outPath);
      return;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
      ended.out.append(buffer, static_cast<std::size_t>(got));
  };
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (ended.out.find(head) == std::string::npos && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    readSome();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(child, sig);
  if (ignored) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(child, SIGTERM);
  }
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) kill(child, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    readSome();
  }
  if (target == Target::Pipe) {
    fcntl(pipeFds[0], F_SETFL, 0);
    readSome();
    close(pipeFds[0]);
  } else {
    readSome();
  }
  ended.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return ended;
}

#endif  // _WIN32

TEST(EndRequest, WhatTheProgramWroteArrivesAndTheEndShowsTheSignal) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals; Windows ends a console program by its own events";
#else
  const struct {
    int signal;
    Target target;
  } cases[] = {
      {SIGTERM, Target::Pipe}, {SIGINT, Target::Pipe}, {SIGHUP, Target::Pipe},
      {SIGTERM, Target::File}, {SIGINT, Target::File}, {SIGHUP, Target::File},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.target == Target::Pipe ? " to a pipe" : " to a file"));
    TempDir dir;
    Ended ended = RunAndSignal(dir, c.target, c.signal);
    const std::string head = "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n";
    EXPECT_EQ(ended.out, head + Countdowns());
    EXPECT_EQ(ended.signal, c.signal);
  }
#endif
}

// A signal the interpreter was started with ignored (nohup, a shell's
// background job) does not end it; the next one that is not ignored does,
// and the output still arrives whole.
TEST(EndRequest, ASignalIgnoredAtStartStaysIgnored) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals";
#else
  TempDir dir;
  Ended ended = RunAndSignal(dir, Target::Pipe, SIGHUP, true);
  const std::string head = "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n";
  EXPECT_EQ(ended.out, head + Countdowns());
  EXPECT_EQ(ended.signal, SIGTERM);
#endif
}

}  // namespace
}  // namespace corvid
