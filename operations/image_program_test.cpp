#include "operations/image_program.h"

#include <gtest/gtest.h>

#include "reporting/message_log.h"

namespace romsmith {
namespace {

// Four sectors of 0x100, 0x100, 0x200 and 0x200 bytes from 0x1000 on, the
// middle two selected.
FlashLayout Layout(std::int32_t first = 1, std::int32_t last = 2) {
  return {0x1000, {0x100, 0x100, 0x200, 0x200}, first, last};
}

AddressImage Image(std::vector<std::pair<std::uint32_t, std::size_t>> segments) {
  AddressImage image;
  std::uint8_t value = 1;
  for (auto [address, count] : segments) {
    ImageSegment segment{address, std::vector<std::uint8_t>(count)};
    for (auto& byte : segment.bytes) byte = value++;
    image.segments.push_back(std::move(segment));
  }
  return image;
}

TEST(ImagePlan, SectorsHoldTheImageBytesAndTheirPieces) {
  // One segment across the boundary of sectors 1 and 2, one inside sector 2.
  const AddressImage image = Image({{0x11F0, 0x20}, {0x1300, 4}});
  std::string error;
  const auto plan = PlanImage(image, Layout(), error);
  ASSERT_TRUE(plan) << error;
  ASSERT_EQ(plan->sectors.size(), 2u);
  const ImageSector& first = plan->sectors[0];
  EXPECT_EQ(first.index, 1);
  EXPECT_EQ(first.address, 0x1100u);
  ASSERT_EQ(first.pieces.size(), 1u);
  EXPECT_EQ(first.pieces[0].begin, 0xF0u);
  EXPECT_EQ(first.pieces[0].end, 0x100u);
  EXPECT_EQ(first.bytes[0xEF], 0xFF);  // not the image's: read back later
  EXPECT_EQ(first.bytes[0xF0], 1);
  EXPECT_FALSE(first.covered_whole());
  const ImageSector& second = plan->sectors[1];
  EXPECT_EQ(second.index, 2);
  ASSERT_EQ(second.pieces.size(), 2u);
  EXPECT_EQ(second.pieces[0].end, 0x10u);
  EXPECT_EQ(second.pieces[1].begin, 0x100u);
  EXPECT_EQ(second.bytes[0x0F], 0x20);
  EXPECT_EQ(second.bytes[0x100], 0x21);

  const auto whole = PlanImage(Image({{0x1100, 0x100}}), Layout(), error);
  ASSERT_TRUE(whole) << error;
  EXPECT_TRUE(whole->sectors[0].covered_whole());
}

TEST(ImagePlan, RefusesWhatLiesOutsideTheFlashOrTheSelection) {
  struct Case {
    const char* name;
    AddressImage image;
    FlashLayout layout;
    const char* error;
  };
  const Case cases[] = {
      {"below the flash", Image({{0x0FFF, 2}}), Layout(0, 3),
       "image byte at 0x00000FFF is outside the flash (0x00001000-0x000015FF)"},
      {"past its end, the first byte outside", Image({{0x1000, 1}, {0x15F0, 0x20}}), Layout(0, 3),
       "image byte at 0x00001600 is outside the flash (0x00001000-0x000015FF)"},
      {"past the 32-bit space",
       Image({{0xFFFFFFF0u, 0x10}}),
       {0xFFFFF000u, {0x1000}, 0, 0},
       nullptr},
      {"nothing in it", AddressImage{}, Layout(), "the image holds no bytes"},
      {"a sector below the selection", Image({{0x1000, 1}, {0x1100, 1}}), Layout(),
       "the image touches sectors 1-2, not all inside the selected sectors 2-3; select them or "
       "the whole flash"},
      {"a sector above it", Image({{0x1400, 1}}), Layout(),
       "the image touches sector 4, not all inside the selected sectors 2-3; select them or the "
       "whole flash"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const auto plan = PlanImage(c.image, c.layout, error);
    if (!c.error) {
      // The last byte of the address space is still a flash byte.
      EXPECT_TRUE(plan) << error;
      continue;
    }
    EXPECT_FALSE(plan);
    EXPECT_EQ(error, c.error);
  }
}

TEST(ImagePlan, NandCpusRefuseTheFormatForProgramAndVerifyOnly) {
  struct Case {
    CommandCode code;
    const char* format;
    bool allowed;
  };
  const Case cases[] = {
      {CommandCode::kNandProgram, kImageFormat, false},
      {CommandCode::kNandVerify, kImageFormat, false},
      {CommandCode::kNandUpload, kImageFormat, true},
      {CommandCode::kNandProgram, kFlatBinFormat, true},
      {CommandCode::kProgram, kImageFormat, true},
  };
  for (const Case& c : cases) {
    CommandSnapshot job;
    job.code = c.code;
    job.config.format = c.format;
    MessageLog log;
    EXPECT_EQ(CheckImageFormatAllowed(job, log), c.allowed) << static_cast<int>(c.code);
  }
}

}  // namespace
}  // namespace romsmith
