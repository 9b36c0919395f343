// Registration of the standard controls' classes.
#include "user/controls.h"
#include "user/window_internal.h"

namespace zq::user::detail {

void RegisterButtonClass();
void RegisterStaticClass();
void RegisterEditClass();
void RegisterListClasses();
void RegisterComboClass();
void RegisterScrollClass();
void RegisterTabClass();

void RegisterControlClasses() {
    RegisterButtonClass();
    RegisterStaticClass();
    RegisterEditClass();
    RegisterListClasses();
    RegisterComboClass();
    RegisterScrollClass();
    RegisterTabClass();
}

}  // namespace zq::user::detail
