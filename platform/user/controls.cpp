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
void RegisterUpDownClass();
void RegisterTrackbarClass();
void RegisterListViewClass();

void RegisterControlClasses() {
    RegisterButtonClass();
    RegisterStaticClass();
    RegisterEditClass();
    RegisterListClasses();
    RegisterComboClass();
    RegisterScrollClass();
    RegisterTabClass();
    RegisterUpDownClass();
    RegisterTrackbarClass();
    RegisterListViewClass();
}

}  // namespace zq::user::detail
