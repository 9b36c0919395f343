// The system root: the one directory under which every Windows location of
// the package lives ($ZQ_ROOT, default ".zqroot" in the working directory).
#pragma once

#include <cstdint>
#include <filesystem>

namespace zq {

// The root in use, created on first use. Read from $ZQ_ROOT unless a test
// set one with SetSystemRoot.
std::filesystem::path SystemRoot();

// Nonzero while SetSystemRoot has set a root, and different for every root
// it set: what is worked out from the root can be kept until this changes.
// Zero when the root comes from $ZQ_ROOT or the working directory, which
// may change under the process without a call here.
uint64_t SystemRootGeneration();

// The root in use if it exists already, else empty: nothing is created, so
// that a process which only draws (a tool, a fuzzer) leaves no root behind.
std::filesystem::path ExistingSystemRoot();

// Points the process at another root (tests make a fresh one each); an empty
// path goes back to $ZQ_ROOT.
void SetSystemRoot(const std::filesystem::path& root);

}  // namespace zq
