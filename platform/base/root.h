// The system root: the one directory under which every Windows location of
// the package lives ($ZQ_ROOT, default ".zqroot" in the working directory).
#pragma once

#include <filesystem>

namespace zq {

// The root in use, created on first use. Read from $ZQ_ROOT unless a test
// set one with SetSystemRoot.
std::filesystem::path SystemRoot();

// The root as chosen (by SetSystemRoot, ZQ_ROOT or the default), neither
// made nor made absolute: cheap enough to ask on every call.
std::filesystem::path ChosenSystemRoot();

// The root in use if it exists already, else empty: nothing is created, so
// that a process which only draws (a tool, a fuzzer) leaves no root behind.
std::filesystem::path ExistingSystemRoot();

// Points the process at another root (tests make a fresh one each); an empty
// path goes back to $ZQ_ROOT.
void SetSystemRoot(const std::filesystem::path& root);

}  // namespace zq
