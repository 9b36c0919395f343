// Every header of the base in one translation unit: each declares its own
// constants and types, and none may clash with another's. Compiling this file
// is the check; the build also compiles each header on its own (see
// CMakeLists.txt beside this file).
#include "base/clock.h"
#include "base/diag.h"
#include "base/error.h"
#include "base/files.h"
#include "base/fsutil.h"
#include "base/kernel_objects.h"
#include "base/loader.h"
#include "base/locale.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/muldiv.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/profile.h"
#include "base/resource_directory.h"
#include "base/resources.h"
#include "base/root.h"
#include "base/spool_types.h"
#include "base/text.h"
#include "base/types.h"
