#include "base/root.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace zq {

namespace {
std::mutex g_rootLock;
std::filesystem::path g_override;
uint64_t g_changes = 0;                     // under g_rootLock
std::atomic<uint64_t> g_overrideGeneration{0};  // 0: no root set

std::filesystem::path ChosenRoot() {
    std::filesystem::path root;
    {
        std::lock_guard lock(g_rootLock);
        root = g_override;
    }
    if (root.empty()) {
        const char* env = std::getenv("ZQ_ROOT");
        root = (env && *env) ? std::filesystem::path(env) : std::filesystem::current_path() / ".zqroot";
    }
    return root;
}
}  // namespace

uint64_t SystemRootGeneration() { return g_overrideGeneration.load(std::memory_order_acquire); }

std::filesystem::path SystemRoot() {
    const std::filesystem::path root = ChosenRoot();
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    return std::filesystem::absolute(root, ec);
}

std::filesystem::path ExistingSystemRoot() {
    const std::filesystem::path root = ChosenRoot();
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return {};
    return std::filesystem::absolute(root, ec);
}

void SetSystemRoot(const std::filesystem::path& root) {
    std::lock_guard lock(g_rootLock);
    g_override = root;
    g_overrideGeneration.store(root.empty() ? 0 : ++g_changes, std::memory_order_release);
}

}  // namespace zq
