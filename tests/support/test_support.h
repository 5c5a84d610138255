// Helpers shared by the test suites: temporary files, named pipes and
// links, and running the interpreter or the test helper as a child process,
// with one interface over each system's calls (system_posix.cpp,
// system_win32.cpp).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/internal/platform.h"
#include "runtime/string.h"

namespace corvid::testing {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// Writes `bytes` to the file `name` in the directory; returns its path.
  std::filesystem::path Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);

/// A file path as the runtime takes it: on POSIX each byte one unit, as the
/// POSIX half reads names; on Windows the path's own 16-bit text.
inline Ref<String> Name(const std::filesystem::path& path) {
#ifdef _WIN32
  return FromUnits(path.u16string());
#else
  return FromBytes(path.string());
#endif
}

/// The path the runtime names with `units` (Name's inverse): on POSIX
/// each unit's low byte, on Windows the units themselves.
inline std::filesystem::path PathOf(std::u16string_view units) {
#ifdef _WIN32
  return std::filesystem::path(std::u16string(units));
#else
  return std::filesystem::path(ToBytes(FromUnits(units)));
#endif
}

/// The units of a string, Null as empty.
inline std::u16string Units(const Ref<String>& s) { return std::u16string(Text(s).View()); }

/// Bytes as upper-case hexadecimal pairs, `separator` between pairs.
std::string Hex(const std::string& bytes, const std::string& separator = "");

/// What a finished child process left.
struct ProcessResult {
  std::string out;
  std::string err;
  /// The exit status: on POSIX its 8 bits, or -1 when the child did not
  /// exit normally; on Windows the 32-bit exit code as an int.
  int status = -1;
  int signal = 0;      ///< the signal that ended it, 0 when it exited (always 0 on Windows)
  bool timedOut = false;
};

/// The status a parent sees for a child ended by an uncaught error
/// (platform::kUncaughtErrorStatus): the whole -1 on Windows, its low 8
/// bits, 255, where statuses are 8 bits wide.
#ifdef _WIN32
inline constexpr int kUncaughtStatus = platform::kUncaughtErrorStatus;
#else
inline constexpr int kUncaughtStatus = platform::kUncaughtErrorStatus & 0xFF;
#endif

/// Runs `argv[0]` with the arguments, feeding `input` to its standard input
/// (closed afterwards) once its standard output holds `inputAfter`. A child
/// still running after `timeoutSeconds` is killed and reported as timed out.
/// Each byte of an argument and of `workDir` is one unit of the name the
/// child's runtime sees.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         double timeoutSeconds = 20, const std::string& workDir = "",
                         const std::string& inputAfter = "");
/// The same with arguments as 16-bit text: on POSIX each unit goes as its
/// low byte, as the POSIX half spells names; on Windows the units go as
/// they are, through the 16-bit command line.
ProcessResult RunProcess(const std::vector<std::u16string>& argv, const std::string& input = "",
                         double timeoutSeconds = 20, const std::u16string& workDir = u"",
                         const std::string& inputAfter = "");

#ifdef _WIN32
/// How a child's standard output is given, on Windows: a pipe the test
/// reads, a pipe whose reading end is closed before the child starts, or
/// no handle at all.
enum class ChildOutput { Read, Unread, Missing };
/// RunProcess with standard output as `output` says.
ProcessResult RunProcess(const std::vector<std::u16string>& argv, ChildOutput output, const std::string& input,
                         double timeoutSeconds);
/// Runs `argv` with a console of its own (hidden) for its standard
/// handles; its exit status, or -1 when it ran past `timeoutSeconds` and
/// was ended.
int RunInConsole(const std::vector<std::u16string>& argv, double timeoutSeconds = 20);
#endif

/// Path of the interpreter built with the tests.
std::string TapeBinary();
/// Path of the test helper program.
std::string HelperBinary();
/// Runs the test helper on one of its scenarios.
ProcessResult RunHelper(const std::string& scenario);
/// A test name for a helper scenario: its dashes become underscores.
std::string ScenarioTestName(std::string scenario);
/// Open descriptors of this process (on Windows: its handles of files and
/// sockets).
int OpenDescriptors();
/// The most memory this process has held at once, in KiB.
long PeakMemoryKilobytes();

/// A pipe under a name that a stream or a child process can open, fed from
/// a thread of the test: the first process to open it for reading gets
/// `bytes`, then the end of the data. A FIFO in `dir` on POSIX, a pipe
/// under \\.\pipe\ on Windows. The thread gives up after 15 seconds
/// without a reader; the object waits for it when it goes.
class FedPipe {
 public:
  FedPipe(const TempDir& dir, std::string bytes);
  ~FedPipe();
  FedPipe(const FedPipe&) = delete;
  FedPipe& operator=(const FedPipe&) = delete;

  const std::string& Name() const { return name_; }

 private:
  struct Feeder;
  std::string name_;
  std::unique_ptr<Feeder> feeder_;
};

#ifdef _WIN32
/// A pipe under \\.\pipe\ from which a thread of the test takes what
/// the first process to open it writes, until that process closes it.
class DrainedPipe {
 public:
  DrainedPipe();
  ~DrainedPipe();
  DrainedPipe(const DrainedPipe&) = delete;
  DrainedPipe& operator=(const DrainedPipe&) = delete;

  const std::string& Name() const { return name_; }
  /// Waits for the writer's close (15 seconds at most); what it wrote.
  std::string Received();

 private:
  struct Drainer;
  std::string name_;
  std::unique_ptr<Drainer> drainer_;
};
#endif

/// How a link is made: a symbolic link (on Windows CreateSymbolicLinkW),
/// a junction (Windows only), or a symbolic link of the Unix file system
/// under Wine (made by a Unix program; on POSIX the same as Symbolic).
enum class LinkKind { Symbolic, Junction, UnixSymbolic };
/// A name for test rows.
inline const char* LinkKindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::Symbolic: return "SymbolicLink";
    case LinkKind::Junction: return "Junction";
    case LinkKind::UnixSymbolic: return "UnixSymbolicLinkUnderWine";
  }
  return "";
}
/// Makes `link` a link of `kind` to `target` (a directory when `directory`
/// is set; `target` may be relative to the link's directory). Empty on
/// success, else why this system cannot make such a link (the caller skips).
std::string MakeLink(LinkKind kind, const std::filesystem::path& target, const std::filesystem::path& link,
                     bool directory);

/// The source tree's root.
std::filesystem::path SourceDir();

}  // namespace corvid::testing
