// Runs the interpreter on a code text as a child process and splits its
// transcript, for the golden tests.
#pragma once

#include <string>

#include "support/test_support.h"

namespace corvid::testing {

/// The standard output of a successful run of the code file `name`, in which
/// the program wrote `output`.
inline std::string Transcript(const std::string& name, const std::string& output) {
  return "Executing " + name + "\r\n\r\n" + output + "\r\n\r\nExecution complete.\r\n>";
}

/// Writes `code` to a file and runs the interpreter on it with `input`,
/// given once standard output holds `inputAfter`.
inline ProcessResult RunCode(const TempDir& dir, const std::string& code, const std::string& input,
                             double timeoutSeconds = 20, const std::string& inputAfter = "") {
  auto path = dir.Write("code.tape", code);
  return RunProcess({TapeBinary(), path.string()}, input, timeoutSeconds, "", inputAfter);
}

/// What the program wrote with ".", when the run had the usual transcript
/// around it; otherwise the whole standard output, prefixed with "?".
inline std::string ProgramOutput(const TempDir& dir, const ProcessResult& result) {
  std::string head = "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n";
  std::string tail = "\r\n\r\nExecution complete.\r\n>";
  const std::string& out = result.out;
  if (out.size() < head.size() + tail.size() || out.compare(0, head.size(), head) != 0 ||
      out.compare(out.size() - tail.size(), tail.size(), tail) != 0)
    return "?" + out;
  return out.substr(head.size(), out.size() - head.size() - tail.size());
}

}  // namespace corvid::testing
