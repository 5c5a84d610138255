// Platform faults: the names signals and exception codes map to, and a
// faulting child process reporting its fault and ending with status 0.
#include "runtime/internal/fault.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#ifdef _WIN32
#include "runtime/win32/exceptions.h"
#else
#include <csignal>

#include "runtime/posix/signals.h"
#endif

#include "support/test_support.h"

namespace corvid {
namespace {

#ifdef _WIN32
constexpr char kNoSignals[] = "signals and their codes are POSIX's; ExceptionCodes covers Windows";
#endif

TEST(FaultName, SignalsAndCodes) {
#ifdef _WIN32
  GTEST_SKIP() << kNoSignals;
#else
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGSEGV, SEGV_MAPERR, false)), "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGSEGV, SEGV_ACCERR, false)), "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGSEGV, SEGV_MAPERR, true)), "EXCEPTION_STACK_OVERFLOW");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGBUS, BUS_ADRALN, false)), "EXCEPTION_DATATYPE_MISALIGNMENT");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGBUS, BUS_ADRERR, false)), "EXCEPTION_IN_PAGE_ERROR");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGBUS, BUS_OBJERR, false)), "EXCEPTION_IN_PAGE_ERROR");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGILL, ILL_ILLOPC, false)), "EXCEPTION_ILLEGAL_INSTRUCTION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGILL, ILL_PRVOPC, false)), "EXCEPTION_PRIV_INSTRUCTION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGILL, ILL_PRVREG, false)), "EXCEPTION_PRIV_INSTRUCTION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGTRAP, TRAP_BRKPT, false)), "EXCEPTION_BREAKPOINT");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGTRAP, SI_KERNEL, false)), "EXCEPTION_BREAKPOINT");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGTRAP, TRAP_TRACE, false)), "EXCEPTION_SINGLE_STEP");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGABRT, 0, false)), "EXCEPTION_UNKNOWN");
#endif
}

TEST(FaultName, ArithmeticCodes) {
#ifdef _WIN32
  GTEST_SKIP() << kNoSignals;
#else
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_INTDIV, false)), "EXCEPTION_INT_DIVIDE_BY_ZERO");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_INTOVF, false)), "EXCEPTION_INT_OVERFLOW");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTDIV, false)), "EXCEPTION_FLT_DIVIDE_BY_ZERO");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTOVF, false)), "EXCEPTION_FLT_OVERFLOW");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTUND, false)), "EXCEPTION_FLT_UNDERFLOW");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTRES, false)), "EXCEPTION_FLT_INEXACT_RESULT");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTINV, false)), "EXCEPTION_FLT_INVALID_OPERATION");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, FPE_FLTSUB, false)), "EXCEPTION_ARRAY_BOUNDS_EXCEEDED");
  EXPECT_STREQ(FaultName(platform::posix::FaultOfSignal(SIGFPE, SI_USER, false)), "EXCEPTION_UNKNOWN");
#endif
}

// Every published code the report names, and codes next to them or of
// other kinds (a guard page, a C++ exception, a control break) that it
// does not.
TEST(FaultName, ExceptionCodes) {
#ifndef _WIN32
  GTEST_SKIP() << "exception codes are Windows's; SignalsAndCodes covers POSIX";
#else
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT"},
      {0x80000003u, "EXCEPTION_BREAKPOINT"},
      {0x80000004u, "EXCEPTION_SINGLE_STEP"},
      {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
      {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"},
      {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
      {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
      {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION"},
      {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
      {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND"},
      {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
      {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT"},
      {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION"},
      {0xC0000091u, "EXCEPTION_FLT_OVERFLOW"},
      {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK"},
      {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW"},
      {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
      {0xC0000095u, "EXCEPTION_INT_OVERFLOW"},
      {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
      {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
      {0x80000001u, "EXCEPTION_UNKNOWN"},  // guard page
      {0xC0000008u, "EXCEPTION_UNKNOWN"},  // invalid handle
      {0xC00000FEu, "EXCEPTION_UNKNOWN"},
      {0xC000013Au, "EXCEPTION_UNKNOWN"},  // control break
      {0xE06D7363u, "EXCEPTION_UNKNOWN"},  // a C++ exception
      {0x00000005u, "EXCEPTION_UNKNOWN"},
      {0u, "EXCEPTION_UNKNOWN"},
  };
  for (const auto& [code, name] : cases)
    EXPECT_STREQ(FaultName(platform::win32::FaultOfException(code)), name) << std::hex << code;
#endif
}

// In a sanitizer build bad memory accesses belong to the sanitizer, so the
// report of those runs in the plain build only.
#ifdef CORVID_SANITIZED
constexpr bool kMemoryFaultsReported = false;
#else
constexpr bool kMemoryFaultsReported = true;
#endif

struct Fault {
  const char* scenario;
  const char* name;
  bool endFunctionsRun;
  bool memoryFault;
  const char* pending = "";  // written but not flushed before the fault
};

void PrintTo(const Fault& param, std::ostream* out) { *out << param.scenario; }

class FaultingChild : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultingChild, ReportsTheFaultAndEndsWithZero) {
  if (GetParam().memoryFault && !kMemoryFaultsReported) GTEST_SKIP() << "left to the sanitizer";
  auto result = testing::RunHelper(GetParam().scenario);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.err, std::string("Windows exception\n") + GetParam().name + "\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string(GetParam().pending) + (GetParam().endFunctionsRun ? "[end]" : ""));
}

// After a stack overflow the process ends without running more code on the
// spent stack, so end functions do not run there; a fault inside an end
// function makes no second normal exit, so no more of them run either.
INSTANTIATE_TEST_SUITE_P(
    EachFault, FaultingChild,
    ::testing::Values(Fault{"fault-null-write", "EXCEPTION_ACCESS_VIOLATION", true, true},
                      Fault{"fault-divide", "EXCEPTION_INT_DIVIDE_BY_ZERO", true, false},
                      Fault{"fault-recursion", "EXCEPTION_STACK_OVERFLOW", false, true},
                      Fault{"fault-illegal", "EXCEPTION_ILLEGAL_INSTRUCTION", true, false},
                      Fault{"fault-breakpoint", "EXCEPTION_BREAKPOINT", true, false},
                      Fault{"fault-at-end", "EXCEPTION_ACCESS_VIOLATION", false, true},
                      Fault{"pending-fault", "EXCEPTION_ACCESS_VIOLATION", true, true, "[pending]"},
                      Fault{"pending-overflow", "EXCEPTION_STACK_OVERFLOW", false, true, "[pending]"}),
    [](const auto& info) { return testing::ScenarioTestName(info.param.scenario); });

// The same signal sent by a process (kill, sigqueue, tgkill) is no fault of
// the process: it takes its default action, and the end shows the signal
// instead of a report and success.
TEST(FaultingChild, SentSignalsTakeTheirDefaultAction) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no signals: no process can send another a fault";
#else
  if (!kMemoryFaultsReported) GTEST_SKIP() << "left to the sanitizer";
  for (const char* scenario : {"sent-kill", "sent-queue", "sent-tkill"}) {
    auto result = testing::RunHelper(scenario);
    ASSERT_FALSE(result.timedOut) << scenario;
    EXPECT_EQ(result.signal, SIGSEGV) << scenario;
    EXPECT_EQ(result.err, "") << scenario;
    EXPECT_EQ(result.out, "") << scenario;
  }
#endif
}

TEST(FaultingChild, CallsTheStopHookAfterTheReport) {
  if (!kMemoryFaultsReported) GTEST_SKIP() << "left to the sanitizer";
  auto result = testing::RunHelper("fault-stop-hook");
  EXPECT_EQ(result.err, "Windows exception\nEXCEPTION_ACCESS_VIOLATION\n[stop hook]\n");
  EXPECT_EQ(result.status, 0);
}

// A wild access in a sanitizer build fails with the sanitizer's report,
// never with the fault report's status 0.
TEST(FaultingChild, MemoryFaultsInASanitizerBuildFailWithTheSanitizersReport) {
  if (kMemoryFaultsReported) GTEST_SKIP() << "sanitizer builds only";
  auto result = testing::RunHelper("fault-null-write");
  ASSERT_FALSE(result.timedOut);
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.err.find(kFaultCaption), std::string::npos);
  EXPECT_NE(result.err.find("AddressSanitizer"), std::string::npos);
}

}  // namespace
}  // namespace corvid
