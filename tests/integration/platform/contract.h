// A small runner for the platform contract suite, which builds for Linux and for both Windows
// targets alike (GoogleTest is not built for mingw). Cases run in the order they are written.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace contract {

struct Case {
  const char* name;
  void (*run)();
};
inline std::vector<Case> gCases;  // constant-initialized, so ready before any case registers
inline int gFailures = 0;

// Whether checks that only debug and sanitizer builds carry are compiled in.
#ifdef NDEBUG
inline constexpr bool kDebugBuild = false;
#else
inline constexpr bool kDebugBuild = true;
#endif

inline bool Check(bool ok, const std::string& what, int line) {
  if (!ok) std::printf("  FAIL line %d: %s\n", line, what.c_str());
  gFailures += ok ? 0 : 1;
  return ok;
}

// A table row's label in a failure message.
inline std::string Row(const char* text) {
  return text != nullptr ? std::string(text).insert(0, 1, '"') + '"' : "null";
}

// Runs the cases whose names contain `filter` (every case when it is null); the exit code.
inline int RunAll(const char* filter) {
  int ran = 0, failed = 0;
  for (const Case& c : gCases) {
    if (filter != nullptr && std::strstr(c.name, filter) == nullptr) continue;
    const int before = gFailures;
    c.run();
    ++ran;
    failed += gFailures == before ? 0 : 1;
    std::printf("%s %s\n", gFailures == before ? "[  OK  ]" : "[ FAIL ]", c.name);
  }
  std::printf("%d passed, %d failed\n", ran - failed, failed);
  return ran > 0 && failed == 0 ? 0 : 1;
}

}  // namespace contract

#define CONTRACT(name)                                                               \
  static void name();                                                                \
  static const bool name##Added = (contract::gCases.push_back({#name, &name}), true); \
  static void name()
#define CHECK(cond) contract::Check((cond), #cond, __LINE__)
#define CHECK_ROW(cond, row) contract::Check((cond), #cond " for " + (row), __LINE__)
#define REQUIRE(cond) \
  if (!CHECK(cond)) return
