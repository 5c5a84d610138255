#include "support/test_support.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include "runtime/win32/names.h"
#endif

namespace corvid::testing {

namespace {

// On Windows the tests name files as a program there does: through the
// wide calls, which its start (StartProcess) turns on. StartProcess itself
// would also turn gtest's own standard streams into byte streams, and with
// those Wine 8 now and then crashes as a test process exits.
#ifdef _WIN32
[[maybe_unused]] const bool wideCalls = [] {
  platform::win32::SetWideMode(true);
  return true;
}();
#endif

}  // namespace

TempDir::TempDir() {
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("corvid-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::string& bytes) const {
  auto path = path_ / name;
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return path;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Hex(const std::string& bytes, const std::string& separator) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex += separator;
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         double timeoutSeconds, const std::string& workDir, const std::string& inputAfter) {
  auto units = [](const std::string& bytes) { return Units(FromBytes(bytes)); };
  std::vector<std::u16string> wide;
  for (const std::string& arg : argv) wide.push_back(units(arg));
  return RunProcess(wide, input, timeoutSeconds, units(workDir), inputAfter);
}

namespace {

// The programs the tests start, made absolute while the working directory
// is still the one the suite started in: a cross build names them by the
// building system's paths ("/home/..."), which Windows reads against the
// current drive, and tests move to other drives.
const std::string tapeBinary = std::filesystem::absolute(CORVID_TAPE_BINARY).string();
const std::string helperBinary = std::filesystem::absolute(CORVID_HELPER_BINARY).string();
const std::filesystem::path sourceDir = std::filesystem::absolute(CORVID_SOURCE_DIR);

}  // namespace

std::string TapeBinary() { return tapeBinary; }
std::string HelperBinary() { return helperBinary; }

ProcessResult RunHelper(const std::string& scenario) { return RunProcess({HelperBinary(), scenario}); }

std::string ScenarioTestName(std::string scenario) {
  std::replace(scenario.begin(), scenario.end(), '-', '_');
  return scenario;
}
std::filesystem::path SourceDir() { return sourceDir; }

}  // namespace corvid::testing
