#include "app/paint/templates.h"

#include <gtest/gtest.h>

#include <QRect>

#include "app/paint/skin.h"

namespace quelt {
namespace {

// Pixel rectangles worked out by hand: 1.5 px per horizontal unit and 1.625 px per vertical
// unit, each edge rounded to the nearest pixel, halves up.
TEST(Templates, DialogUnitsMapWithTheFixedFactors) {
  EXPECT_EQ(kFlasherTemplate.ClientPixels(), QSize(354, 153));  // 236 x 94 units
  EXPECT_EQ(kAboutTemplate.ClientPixels(), QSize(317, 73));     // 211 x 45 units
  struct Case {
    int id;
    const char* text;
    QRect pixels;
  } cases[] = {
      {IDC_WRITE, "Write", QRect(23, 29, 90, 23)},     // 22.5..112.5, 29.25..52
      {IDC_VERIFY, "Verify", QRect(120, 29, 83, 23)},  // 120..202.5
      {IDC_STATUS, "Ready", QRect(12, 138, 332, 13)},  // 12..343.5, 138.125..151.125
      {IDC_PROGRESS, "", QRect(23, 72, 180, 29)},      // 71.5..100.75
      {IDC_STATIC, "", QRect(11, 132, 333, 1)},        // 10.5..343.5, 131.625..133.25
      {IDC_STATIC, "", QRect(9, 0, 207, 124)},         // 9..216, 0..123.5
  };
  ASSERT_EQ(std::size(kFlasherControls), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(kFlasherControls[i].id, cases[i].id) << i;
    EXPECT_EQ(kFlasherControls[i].text, cases[i].text) << i;
    EXPECT_EQ(kFlasherControls[i].Pixels(), cases[i].pixels) << i;
  }
  EXPECT_EQ(kAboutControls[2].Pixels(), QRect(218, 24, 75, 26));  // 217.5..292.5, 24.375..50.375
  // The icon control (20 x 20 units, 30 x 33 px) takes the 32 x 32 of its icon, drawn whole.
  EXPECT_EQ(kAboutControls[0].Pixels(), QRect(20, 16, 32, 32));  // 19.5.., 16.25..
}

}  // namespace
}  // namespace quelt
