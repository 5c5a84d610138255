// Raising and catching errors by class, the error classes' texts, the hooks,
// and how an uncaught error ends a process.
#include "runtime/error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <ostream>
#include <string>
#include <vector>

#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::RaisedBy;
using testing::Raises;
using testing::RunHelper;

// Catches by class the way library code does; tells which clause caught.
template <class T>
std::string CatchAs(void (*body)(), const char* label) {
  try {
    body();
  } catch (const Raised& raised) {
    auto error = raised.As<T>();
    if (!error) throw;
    return label;
  }
  return "none";
}

TEST(ErrorClasses, RootClassShowsItsAddress) {
  auto error = MakeRef<TCorvidException>();
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<void*>(error.Get()));
  EXPECT_EQ(ToBytes(error->ToString()), expected);
}

TEST(ErrorClasses, RuntimeErrorKeepsItsMessageObject) {
  EXPECT_EQ(MakeRef<TRuntimeException>()->ToString(), String::Empty());
  Ref<String> message = "List index out of range"_s;
  auto error = TRuntimeException::Create(message);
  EXPECT_EQ(error->ToString(), message);  // the same object, not a copy
  auto fromNull = TRuntimeException::Create(nullptr);
  EXPECT_EQ(ToBytes(fromNull->ToString()), "");
}

TEST(ErrorClasses, ReservedSlotsRaiseAString) {
  auto object = MakeRef<TRuntimeException>();
  for (auto slot : {&Object::Reserved1, &Object::Reserved2, &Object::Reserved3}) {
    auto text = CastTo<String>(RaisedBy([&] { ((*object).*slot)(); }));
    ASSERT_TRUE(text);
    EXPECT_EQ(ToBytes(text), "Illegal call to reserved method");
  }
}

TEST(RaiseHelpers, EachRaisesItsClass) {
  EXPECT_TRUE(Raises<TNullObjectException>(RaiseNullObject));
  EXPECT_TRUE(Raises<TNullMethodException>(RaiseAbstractMethod));
  EXPECT_TRUE(Raises<TNullFunctionException>(RaiseNullFunction));
  EXPECT_TRUE(Raises<TArrayBoundsException>(RaiseArrayBounds));
  EXPECT_TRUE(Raises<TOutOfDataException>(RaiseOutOfData));
  EXPECT_TRUE(Raises<TRuntimeException>([] { RaiseRuntimeError("x"_s); }));
  EXPECT_TRUE(Raises<String>([] { RaiseText("C Assert failed"); }));
  // Raising Null raises the null-object error instead.
  EXPECT_TRUE(Raises<TNullObjectException>([] { Throw(nullptr); }));
}

TEST(CatchByClass, BaseClauseCatchesSubclassesButNotStrings) {
  EXPECT_EQ(CatchAs<TCorvidException>([] { RaiseRuntimeError("x"_s); }, "base"), "base");
  EXPECT_EQ(CatchAs<TCorvidException>(RaiseAbstractMethod, "base"), "base");
  EXPECT_THROW(CatchAs<TCorvidException>([] { Throw("plain"_s); }, "base"), Raised);
  EXPECT_THROW(CatchAs<TArrayBoundsException>(RaiseOutOfData, "sibling"), Raised);
}

TEST(CatchByClass, ObjectClauseCatchesEverything) {
  EXPECT_EQ(CatchAs<Object>([] { Throw("plain"_s); }, "any"), "any");
  EXPECT_EQ(CatchAs<Object>([] { Throw(MakeRef<TCorvidException>()); }, "any"), "any");
  EXPECT_EQ(CatchAs<Object>(RaiseOutOfData, "any"), "any");
}

// Three levels: the innermost clause that matches wins, unmatched errors
// pass outward unchanged.
std::vector<std::string> trail;

void Innermost(void (*raise)()) {
  try {
    raise();
  } catch (const Raised& raised) {
    auto error = raised.As<TArrayBoundsException>();
    if (!error) throw;
    trail.push_back("inner");
  }
}

void Middle(void (*raise)()) {
  try {
    Innermost(raise);
    trail.push_back("middle done");
  } catch (const Raised& raised) {
    auto error = raised.As<TCorvidException>();
    if (!error) throw;
    trail.push_back("middle:" + ToBytes(error->ToString()));
  }
}

std::string Outer(void (*raise)()) {
  trail.clear();
  try {
    Middle(raise);
  } catch (const Raised& raised) {
    auto error = raised.As<Object>();
    if (!error) throw;
    trail.push_back("outer:" + ToBytes(error->ToString()));
  }
  std::string joined;
  for (const auto& step : trail) joined += step + ";";
  return joined;
}

TEST(CatchByClass, InnermostMatchWinsAcrossLevels) {
  EXPECT_EQ(Outer(RaiseArrayBounds), "inner;middle done;");
  EXPECT_EQ(Outer([] { RaiseRuntimeError("deep"_s); }), "middle:deep;");
  EXPECT_EQ(Outer([] { Throw("a string"_s); }), "outer:a string;");
}

int Nest(int depth, int catchAt) {
  try {
    if (depth == 0) RaiseRuntimeError("bottom"_s);
    return Nest(depth - 1, catchAt);
  } catch (const Raised& raised) {
    auto error = raised.As<TRuntimeException>();
    if (!error || depth != catchAt) throw;
    return depth;
  }
}

TEST(CatchByClass, ElevenNestedBlocksCatchAtTheRightLevel) {
  for (int level = 0; level <= 10; ++level) EXPECT_EQ(Nest(10, level), level);
}

std::string logged;
int stops = 0;

TEST(DebugHooks, ForwardToReplacedHooks) {
  DebugStop();
  DebugLog("ignored by default"_s);
  StopHook oldStop = DebugStopHook;
  LogHook oldLog = DebugLogHook;
  DebugStopHook = [] { ++stops; };
  DebugLogHook = [](const Ref<String>& message) { logged = ToBytes(message); };
  DebugStop();
  DebugLog("note"_s);
  DebugStopHook = oldStop;
  DebugLogHook = oldLog;
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(logged, "note");
}

// ---- Uncaught errors end the process --------------------------------------

struct Uncaught {
  const char* scenario;
  std::string stderrBytes;
};

void PrintTo(const Uncaught& param, std::ostream* out) { *out << param.scenario; }

class UncaughtError : public ::testing::TestWithParam<Uncaught> {};

TEST_P(UncaughtError, WritesItsTextAndEndsWithTheErrorStatus) {
  auto result = RunHelper(GetParam().scenario);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.err, GetParam().stderrBytes);
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
  EXPECT_EQ(result.out, "[end]");  // end functions ran
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, UncaughtError,
    ::testing::Values(
        Uncaught{"raise-runtime", "List index out of range"},
        Uncaught{"raise-string", "caf\xe9 A"},
        Uncaught{"raise-zero-unit", std::string("a\0b", 3)},
        Uncaught{"raise-null-object", "Attempt to access field or method of Null object"},
        Uncaught{"raise-abstract", "Attempt to call abstract method"},
        Uncaught{"raise-null-function", "Attempt to call uninitialized function pointer"},
        Uncaught{"raise-bounds", "Attempt to index array element beyond array length"},
        Uncaught{"raise-out-of-data", "Attempt to read beyond end of data"},
        Uncaught{"raise-text", "C Assert failed"},
        Uncaught{"raise-reserved", "Illegal call to reserved method"},
        Uncaught{"raise-null", "Attempt to access field or method of Null object"},
        Uncaught{"raise-std", "library failure"},
        Uncaught{"raise-noexcept", "escaped a noexcept"}),
    [](const auto& info) { return testing::ScenarioTestName(info.param.scenario); });

TEST(UncaughtError, OutputWaitingIsWrittenFirst) {
  auto result = RunHelper("pending-raise");
  EXPECT_EQ(result.err, "late");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
  EXPECT_EQ(result.out, "[pending][end]");
}

// An address as the C library's "%p" writes it: "0x" and the digits in
// glibc's; eight digits, no prefix, for a 32-bit Windows program.
#ifdef _WIN32
constexpr char kAddress[] = "[0-9A-Fa-f]{8}";
#else
constexpr char kAddress[] = "0x[0-9a-f]+";
#endif

TEST(UncaughtError, RootClassWritesItsAddress) {
  auto result = RunHelper("raise-corvid");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
  // The helper shows the error's ToString before raising it.
  EXPECT_EQ(result.out, result.err + "\n[end]");
  EXPECT_TRUE(std::regex_match(result.err, std::regex(kAddress))) << result.err;
}

TEST(UncaughtError, TextThatRaisesFallsBackToTheAddress) {
  auto result = RunHelper("raise-bad-text");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
  EXPECT_TRUE(std::regex_match(result.err, std::regex(kAddress))) << result.err;
}

TEST(UncaughtError, ReplacedHookDecides) {
  auto result = RunHelper("raise-custom-hook");
  EXPECT_EQ(result.err, "custom: hooked");
  EXPECT_EQ(result.status, 7);
  EXPECT_EQ(result.out, "[end]");
}

TEST(UncaughtError, RaisedInAnEndFunctionEndsAtOnce) {
  auto result = RunHelper("raise-at-end");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.err, "raised at end");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
  EXPECT_EQ(result.out, "");  // the earlier-registered end function is skipped
}

}  // namespace
}  // namespace corvid
