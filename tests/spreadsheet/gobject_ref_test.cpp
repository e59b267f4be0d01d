#include "spreadsheet/gobject_ref.h"

#include <gsf/gsf.h>
#include <gtest/gtest.h>

namespace ratemover::spreadsheet {
namespace {

guint RefCount(gpointer object) { return G_OBJECT(object)->ref_count; }

// The owner drops exactly the one reference it holds, wherever it moved to.
TEST(GObjectRef, ReleasesItsOneReferenceOnceWhereverItMoved) {
  static const char kBytes[] = "abc";
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(kBytes), 3, FALSE);
  ASSERT_NE(input, nullptr);
  g_object_ref(input);  // the test's own, to watch the count
  {
    GObjectRef<GsfInput> first(input);
    EXPECT_EQ(RefCount(input), 2u);
    GObjectRef<GsfInput> second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), input);
    GObjectRef<GsfInput> third;
    third = std::move(second);
    EXPECT_EQ(RefCount(input), 2u);
    third = GObjectRef<GsfInput>();  // replaced: its reference goes
    EXPECT_EQ(RefCount(input), 1u);
  }
  EXPECT_EQ(RefCount(input), 1u);
  g_object_unref(input);
}

}  // namespace
}  // namespace ratemover::spreadsheet
