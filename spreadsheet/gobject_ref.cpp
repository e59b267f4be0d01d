#include "spreadsheet/gobject_ref.h"

#include <glib-object.h>

namespace ratemover::spreadsheet {

void ReleaseGObject(void* object) noexcept { g_object_unref(object); }

}  // namespace ratemover::spreadsheet
