// Helpers shared by the test suites: temporary files and running the
// interpreter or the test helper as a child process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

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

/// A file path as the runtime takes it: each byte one unit.
inline Ref<String> Name(const std::filesystem::path& path) { return FromBytes(path.string()); }

/// The units of a string, Null as empty.
inline std::u16string Units(const Ref<String>& s) { return std::u16string(Text(s).View()); }

/// Bytes as upper-case hexadecimal pairs, `separator` between pairs.
std::string Hex(const std::string& bytes, const std::string& separator = "");

/// What a finished child process left.
struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;     ///< exit status, or -1 when it did not exit normally
  int signal = 0;      ///< the signal that ended it, 0 when it exited
  bool timedOut = false;
};

/// Runs `argv[0]` with the arguments, feeding `input` to its standard input
/// (closed afterwards) once its standard output holds `inputAfter`. A child
/// still running after `timeoutSeconds` is killed and reported as timed out.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         double timeoutSeconds = 20, const std::string& workDir = "",
                         const std::string& inputAfter = "");

/// Path of the interpreter built with the tests.
std::string TapeBinary();
/// Path of the test helper program.
std::string HelperBinary();
/// Runs the test helper on one of its scenarios.
ProcessResult RunHelper(const std::string& scenario);
/// A test name for a helper scenario: its dashes become underscores.
std::string ScenarioTestName(std::string scenario);
/// Open descriptors of this process.
int OpenDescriptors();

/// The source tree's root.
std::filesystem::path SourceDir();

}  // namespace corvid::testing
