// The library's own window classes, registered once before the first class
// lookup.
#include <mutex>

#include "user/window_internal.h"

namespace zq::user::detail {

void RegisterDialogClass();
void RegisterControlClasses();

void EnsureSystemClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterDialogClass();
        RegisterControlClasses();
    });
}

}  // namespace zq::user::detail
