#include "base/diag.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace zq {

namespace {

struct DiagState {
    std::mutex lock;
    bool configured = false;
    std::string target;  // "", "stderr" or a path
    int fd = -1;
    bool ownsFd = false;
    std::map<const DiagCapture*, std::vector<std::string>> captures;
};

DiagState& State() {
    static DiagState* state = new DiagState;  // lives as long as the process, used from destructors
    return *state;
}

void CloseTarget(DiagState& s) {
    if (s.ownsFd && s.fd >= 0) ::close(s.fd);
    s.fd = -1;
    s.ownsFd = false;
}

void OpenTarget(DiagState& s, std::string_view target) {
    CloseTarget(s);
    s.target = std::string(target);
    s.configured = true;
    if (s.target.empty()) return;
    if (s.target == "stderr") {
        s.fd = STDERR_FILENO;
        return;
    }
    s.fd = ::open(s.target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    s.ownsFd = s.fd >= 0;
}

void Configure(DiagState& s) {
    if (s.configured) return;
    const char* env = std::getenv("ZQ_DIAG");
    OpenTarget(s, env ? env : "");
}

}  // namespace

void DiagLine(std::string_view area, std::string_view text) {
    std::string line;
    line.reserve(area.size() + text.size() + 2);
    line.append(area).append(": ").append(text);
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    Configure(s);
    for (auto& [capture, lines] : s.captures) lines.push_back(line);
    if (s.fd < 0) return;
    // One write per line, so that processes sharing the file never interleave
    // inside a line.
    std::string out = "zq[" + std::to_string(::getpid()) + "] " + line + "\n";
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(s.fd, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void DiagRefused(std::string_view call, std::string_view reason) {
    std::string text = "refused: ";
    text.append(reason);
    DiagLine(call, text);
}

bool DiagEnabled() {
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    Configure(s);
    return s.fd >= 0 || !s.captures.empty();
}

void SetDiagTarget(std::string_view target) {
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    OpenTarget(s, target);
}

DiagCapture::DiagCapture() {
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    s.captures[this];
}

DiagCapture::~DiagCapture() {
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    s.captures.erase(this);
}

std::vector<std::string> DiagCapture::Lines() const {
    DiagState& s = State();
    std::lock_guard lock(s.lock);
    return s.captures.at(this);
}

std::vector<std::string> DiagCapture::Matching(std::string_view text) const {
    std::vector<std::string> out;
    for (auto& line : Lines())
        if (line.find(text) != std::string::npos) out.push_back(line);
    return out;
}

}  // namespace zq
