#include "appkit/GraphicsHandles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

unsigned references(const appkit::CairoSurface& surface) {
  return cairo_surface_get_reference_count(surface.get());
}

// The test keeps one reference of each surface; the handles under test take over a second one,
// so that the count shows how many they gave back.
TEST(GraphicsHandlesTest, EachReferenceIsGivenBackOnceWhateverMovesItOnTheWay) {
  appkit::CairoSurface first(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  appkit::CairoSurface second(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  {
    appkit::CairoSurface held(cairo_surface_reference(first.get()));
    appkit::CairoSurface moved(std::move(held));
    EXPECT_FALSE(held);
    EXPECT_EQ(moved.get(), first.get());
    EXPECT_EQ(references(first), 2u);

    appkit::CairoSurface other(cairo_surface_reference(second.get()));
    moved = std::move(other);  // gives back the first
    EXPECT_EQ(references(first), 1u);
    EXPECT_EQ(moved.get(), second.get());

    cairo_surface_t* kept = moved.release();
    EXPECT_FALSE(moved);
    EXPECT_EQ(references(second), 2u);
    moved.reset(kept);
    moved.reset();
    EXPECT_EQ(references(second), 1u);
    moved.reset(cairo_surface_reference(second.get()));
  }
  EXPECT_EQ(references(first), 1u);
  EXPECT_EQ(references(second), 1u);
}

}  // namespace
