#include "operations/image_program.h"

#include <algorithm>
#include <array>

#include "operations/command_bodies.h"
#include "operations/loader_job.h"
#include "operations/lpc_vector_checksum.h"
#include "operations/target_checksum.h"
#include "platform/run_files.h"
#include "platform/text.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kBlock = 1024;
// The checksum routine keeps one CRC per block for at most this many blocks.
constexpr std::uint32_t kBatch = kBlock * ChecksumProgramLayout::kBlocksPerRun;

const RunLines kChecksumProgramLines = {"Info: checksumming, waiting %d s.\n",
                                        "Info: user stop program.\n",
                                        "Error: time out, program failed.\n"};

// The image file, checked as every program file is before it is read, then
// parsed whole: a fault anywhere refuses it with the line or offset.
std::optional<AddressImage> LoadImage(const CommandContext& context, const char* failed_tail) {
  const std::string& name = context.config().program_file;
  if (!CheckFileName(name, context.log)) {
    context.log.Error("Error: cannot find program file.\n");
    return std::nullopt;
  }
  switch (platform::CheckPlainFile(name, kMaxAddressImageFileBytes)) {
    case platform::PlainFileCheck::kRegular:
      break;
    case platform::PlainFileCheck::kMissing:
      context.log.Error("Error: cannot find program file.\n");
      return std::nullopt;
    case platform::PlainFileCheck::kNotRegular:
      context.log.Error("Error: program file " + name +
                        " is not a regular file (a pipe, a device or a directory).\n");
      return std::nullopt;
    case platform::PlainFileCheck::kTooLarge:
      context.log.Error(FormatText("Error: image file %s is larger than %u MiB%s", name.c_str(),
                                   static_cast<unsigned>(kMaxAddressImageFileBytes >> 20),
                                   failed_tail));
      return std::nullopt;
  }
  std::string error;
  std::optional<AddressImage> image = ReadAddressImage(name, error);
  if (!image) {
    context.log.Error("Error: image file " + name + ", " + error + failed_tail);
    return std::nullopt;
  }
  context.log.Info(FormatText("Info: %s image, %zu segment%s, %llu bytes.\n",
                              AddressImageKindName(image->kind), image->segments.size(),
                              image->segments.size() == 1 ? "" : "s",
                              static_cast<unsigned long long>(image->byte_count())));
  return image;
}

// An LPC2000 part boots its first sector only when the eight vectors sum to
// zero. With the option on and all eight in the image, the image gets the
// word at 0x14 that makes them so, as a flat program file does; program
// writes it and verify expects it. True when it did.
bool PutVectorChecksum(const CommandContext& context, AddressImage& image) {
  if (!context.family.Has(FamilyTrait::kVectorChecksum) ||
      context.settings().lpc_vector_checksum == 0)
    return false;
  const std::uint32_t base = context.config().flash_address;
  for (ImageSegment& segment : image.segments) {
    if (segment.address > base || segment.end() < std::uint64_t{base} + kLpcVectorBytes) continue;
    std::uint8_t* vectors = segment.bytes.data() + (base - segment.address);
    const bool big = !context.LittleEndian();
    const std::uint32_t file_word = LoadLpcChecksum(vectors, big);
    const std::uint32_t checksum = LpcVectorChecksum(vectors, big);
    StoreLpcChecksum(vectors, checksum, big);
    context.log.Info(
        FormatText("Info: LPC vector checksum 0x%08X put at 0x14 (the file holds 0x%08X).\n",
                   checksum, file_word));
    return true;
  }
  return false;
}

// Reads [address, address + count) of the flash through the probe into
// `out`: whole words, at most one block a call.
bool ReadFlash(const CommandContext& context, std::uint32_t address, std::uint32_t count,
               std::uint8_t* out) {
  const std::uint64_t begin = address;
  const std::uint64_t end = begin + count;
  std::array<std::uint8_t, kBlock> buffer{};
  for (std::uint64_t at = begin & ~std::uint64_t{3}; at < end; at += kBlock) {
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kBlock, ((end + 3) & ~std::uint64_t{3}) - at));
    if (!context.link.DumpMemory(static_cast<std::uint32_t>(at), buffer.data(), n, 4)) {
      context.log.Error("Error: read Flash memory failed.\n");
      return false;
    }
    const std::uint64_t low = std::max(at, begin);
    const std::uint64_t high = std::min(at + n, end);
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(low - at),
              buffer.begin() + static_cast<std::ptrdiff_t>(high - at), out + (low - begin));
  }
  return true;
}

// The bytes of `sector` the image leaves undefined, read from the target so
// that writing the sector keeps them.
bool ReadUncovered(const CommandContext& context, ImageSector& sector) {
  std::uint32_t from = 0;
  const auto read_gap = [&](std::uint32_t to) {
    return to <= from || ReadFlash(context, sector.address + from, to - from, &sector.bytes[from]);
  };
  for (const SectorPiece& piece : sector.pieces) {
    if (!read_gap(piece.begin)) return false;
    from = piece.end;
  }
  return read_gap(static_cast<std::uint32_t>(sector.bytes.size()));
}

// Whether each sector already holds the image's bytes: the routine's CRC of
// each piece the image defines against the CRC of the image's piece. The
// first piece that differs settles a sector.
RunResult FindUnchanged(const CommandContext& context, const ImagePlan& plan,
                        std::vector<bool>& unchanged) {
  unchanged.assign(plan.sectors.size(), false);
  if (!LoadChecksumProgram(context)) return RunResult::kFailed;
  std::vector<std::uint32_t> crc;
  for (std::size_t i = 0; i < plan.sectors.size(); ++i) {
    const ImageSector& sector = plan.sectors[i];
    bool same = true;
    for (const SectorPiece& piece : sector.pieces) {
      if (context.StopRequested()) {
        context.log.Info(kChecksumProgramLines.user_stop);
        return RunResult::kStopped;
      }
      const std::uint32_t count = piece.end - piece.begin;
      const RunResult run =
          RunChecksum(context, sector.address + piece.begin, count, count, kChecksumProgramLines);
      if (run != RunResult::kDone) return run;
      if (!ReadChecksumResults(context, 1, crc)) return RunResult::kFailed;
      if (crc[0] != Crc32(sector.bytes.data() + piece.begin, count)) {
        same = false;
        break;
      }
    }
    unchanged[i] = same;
  }
  return RunResult::kDone;
}

// The automatic erase of exactly the sectors to be written: one erase over
// each run of adjacent ones.
std::optional<CommandResult> EraseSectors(const CommandContext& context,
                                          const std::vector<const ImageSector*>& sectors) {
  std::size_t first = 0;
  while (first < sectors.size()) {
    std::size_t last = first;
    while (last + 1 < sectors.size() && sectors[last + 1]->index == sectors[last]->index + 1)
      ++last;
    CommandSnapshot job = context.job;
    job.config.start_sector = sectors[first]->index;
    job.config.end_sector = sectors[last]->index;
    const CommandContext part{context.link, context.log,  context.frontend,
                              job,          context.stop, context.poll_interval};
    CommandResult erased = EraseBody(part);
    if (!erased.completed) return erased;
    first = last + 1;
  }
  return std::nullopt;
}

bool SameBytes(const CommandContext& context, std::uint32_t address, const std::uint8_t* flash,
               const std::uint8_t* image, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (flash[i] != image[i]) {
      context.log.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                   address + static_cast<std::uint32_t>(i)));
      return false;
    }
  }
  return true;
}

// Verify of each segment read back through the probe, block by block.
CommandOutcome VerifyByReading(const CommandContext& context, const AddressImage& image) {
  std::array<std::uint8_t, kBlock> flash{};
  for (const ImageSegment& segment : image.segments) {
    for (std::size_t offset = 0; offset < segment.bytes.size(); offset += kBlock) {
      if (context.StopRequested()) {
        context.log.Info("Info: user stop verify.\n");
        return CommandOutcome::kStopped;
      }
      const auto count =
          static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, segment.bytes.size() - offset));
      const std::uint32_t address = segment.address + static_cast<std::uint32_t>(offset);
      if (!ReadFlash(context, address, count, flash.data())) return CommandOutcome::kFailed;
      if (!SameBytes(context, address, flash.data(), segment.bytes.data() + offset, count))
        return CommandOutcome::kFailed;
      context.frontend.StepProgress();
    }
  }
  return CommandOutcome::kSucceeded;
}

// Verify with the CRC of each block computed on the target; only a block
// whose CRC differs is read back to find the first differing byte.
CommandOutcome VerifyOnTargetByCrc(const CommandContext& context, const AddressImage& image) {
  if (!LoadChecksumProgram(context)) return CommandOutcome::kFailed;
  std::vector<std::uint32_t> crcs;
  std::array<std::uint8_t, kBlock> flash{};
  for (const ImageSegment& segment : image.segments) {
    for (std::size_t batch = 0; batch < segment.bytes.size(); batch += kBatch) {
      if (context.StopRequested()) {
        context.log.Info("Info: user stop verify.\n");
        return CommandOutcome::kStopped;
      }
      const auto count =
          static_cast<std::uint32_t>(std::min<std::size_t>(kBatch, segment.bytes.size() - batch));
      const std::uint32_t address = segment.address + static_cast<std::uint32_t>(batch);
      const RunResult run = RunChecksum(context, address, count, kBlock);
      if (run == RunResult::kStopped) return CommandOutcome::kStopped;
      if (run == RunResult::kFailed) return CommandOutcome::kFailed;
      const std::size_t blocks = (count + kBlock - 1) / kBlock;
      if (!ReadChecksumResults(context, blocks, crcs)) return CommandOutcome::kFailed;
      for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint32_t n = std::min<std::uint32_t>(kBlock, count - k * kBlock);
        const std::uint8_t* expected = segment.bytes.data() + batch + k * kBlock;
        const std::uint32_t at = address + static_cast<std::uint32_t>(k * kBlock);
        if (crcs[k] != Crc32(expected, n)) {
          if (!ReadFlash(context, at, n, flash.data())) return CommandOutcome::kFailed;
          if (!SameBytes(context, at, flash.data(), expected, n)) return CommandOutcome::kFailed;
        }
        context.frontend.StepProgress();
      }
    }
  }
  return CommandOutcome::kSucceeded;
}

}  // namespace

std::uint64_t FlashLayout::end() const { return SectorStart(sector_bytes.size()); }

std::uint64_t FlashLayout::SectorStart(std::size_t sector) const {
  std::uint64_t at = flash_address;
  for (std::size_t k = 0; k < sector && k < sector_bytes.size(); ++k) at += sector_bytes[k];
  return at;
}

FlashLayout LayoutOf(const CommandContext& context) {
  FlashLayout layout;
  layout.flash_address = context.config().flash_address;
  for (std::int32_t k = 0; k < context.flash().sector_count(); ++k)
    layout.sector_bytes.push_back(context.SectorBytes(k));
  layout.first_selected = context.config().start_sector;
  layout.last_selected = context.config().end_sector;
  return layout;
}

bool CheckImagePlacement(const AddressImage& image, const FlashLayout& layout, std::string& error) {
  if (image.segments.empty()) {
    error = "the image holds no bytes";
    return false;
  }
  const std::uint64_t low = layout.flash_address;
  const std::uint64_t high = layout.end();
  // Segments ascend, so the first one reaching outside holds the lowest
  // such byte.
  for (const ImageSegment& segment : image.segments) {
    std::uint64_t outside = 0;
    if (segment.address < low)
      outside = segment.address;
    else if (segment.end() > high)
      outside = std::max<std::uint64_t>(segment.address, high);
    else
      continue;
    error =
        FormatText("image byte at 0x%08llX is outside the flash (%s)",
                   static_cast<unsigned long long>(outside), AddressRangeText(low, high).c_str());
    return false;
  }
  return true;
}

std::optional<ImagePlan> PlanImage(const AddressImage& image, const FlashLayout& layout,
                                   std::string& error) {
  if (!CheckImagePlacement(image, layout, error)) return std::nullopt;
  const std::vector<ImageSegment>& segments = image.segments;
  ImagePlan plan;
  std::uint64_t sector_start = layout.flash_address;
  std::size_t first = 0;  // the first segment not wholly below this sector
  for (std::size_t k = 0; k < layout.sector_bytes.size(); ++k) {
    const std::uint64_t sector_end = sector_start + layout.sector_bytes[k];
    while (first < segments.size() && segments[first].end() <= sector_start) ++first;
    ImageSector sector;
    for (std::size_t s = first; s < segments.size() && segments[s].address < sector_end; ++s) {
      const std::uint64_t begin = std::max<std::uint64_t>(segments[s].address, sector_start);
      const std::uint64_t end = std::min(segments[s].end(), sector_end);
      if (sector.bytes.empty()) sector.bytes.assign(layout.sector_bytes[k], 0xFF);
      std::copy(
          segments[s].bytes.begin() + static_cast<std::ptrdiff_t>(begin - segments[s].address),
          segments[s].bytes.begin() + static_cast<std::ptrdiff_t>(end - segments[s].address),
          sector.bytes.begin() + static_cast<std::ptrdiff_t>(begin - sector_start));
      sector.pieces.push_back({static_cast<std::uint32_t>(begin - sector_start),
                               static_cast<std::uint32_t>(end - sector_start)});
    }
    if (!sector.pieces.empty()) {
      sector.index = static_cast<std::int32_t>(k);
      sector.address = static_cast<std::uint32_t>(sector_start);
      plan.sectors.push_back(std::move(sector));
    }
    sector_start = sector_end;
  }
  const std::int32_t low = plan.sectors.front().index;
  const std::int32_t high = plan.sectors.back().index;
  if (low < layout.first_selected || high > layout.last_selected) {
    // Counted from 1, as the flash page and the command line count them.
    const std::string touched = low == high ? FormatText("sector %d", low + 1)
                                            : FormatText("sectors %d-%d", low + 1, high + 1);
    error = FormatText(
        "the image touches %s, not all inside the selected sectors %d-%d; select them or the "
        "whole flash",
        touched.c_str(), layout.first_selected + 1, layout.last_selected + 1);
    return std::nullopt;
  }
  return plan;
}

CommandResult ImageProgramBody(const CommandContext& context) {
  const TargetConfig& c = context.config();
  constexpr const char* kFailedTail = ", program failed.\n";
  LoaderParams params = ProgramLoaderParams(context);
  const bool whole_sectors = params.program_mode == 1;
  const bool sector_indexes = context.family.Has(FamilyTrait::kSectorIndexes);
  const bool crystal = context.family.Has(FamilyTrait::kCrystalFrequency);

  ImagePlan plan;
  std::vector<const ImageSector*> to_write;
  std::size_t unchanged = 0;
  std::size_t next = 0;      // the sector of to_write being written
  std::uint32_t offset = 0;  // into it
  std::uint32_t chunk_length = 0;
  std::uint64_t done = 0;

  LoaderJob job;
  job.start_line = "Info: start program...\n";
  job.lines = kProgramRunLines;
  job.exception_tail = kFailedTail;
  // Every input is checked and the plan made before the first change to the
  // flash; the checksums and read-backs only read it.
  job.prepare = [&]() -> std::optional<int> {
    std::optional<AddressImage> image = LoadImage(context, kFailedTail);
    if (!image) return std::nullopt;
    PutVectorChecksum(context, *image);
    std::string error;
    std::optional<ImagePlan> planned = PlanImage(*image, LayoutOf(context), error);
    if (!planned) {
      context.log.Error("Error: " + error + kFailedTail);
      return std::nullopt;
    }
    plan = std::move(*planned);
    std::vector<bool> same(plan.sectors.size(), false);
    if (context.settings().skip_unchanged != 0 &&
        FindUnchanged(context, plan, same) != RunResult::kDone)
      return std::nullopt;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < plan.sectors.size(); ++i) {
      ImageSector& sector = plan.sectors[i];
      if (same[i]) {
        ++unchanged;
        continue;
      }
      if (!sector.covered_whole() && !ReadUncovered(context, sector)) return std::nullopt;
      to_write.push_back(&sector);
      bytes += sector.bytes.size();
    }
    return static_cast<int>(bytes / 256);
  };
  std::optional<CommandResult> erase_failed;
  if (c.auto_erase != 0) {
    job.before_load = [&] {
      erase_failed = EraseSectors(context, to_write);
      return !erase_failed;
    };
  }
  job.fill = [&](std::vector<std::uint8_t>& block) {
    if (next >= to_write.size()) return JobStep::kDone;  // every sector unchanged
    const ImageSector& sector = *to_write[next];
    const auto size = static_cast<std::uint32_t>(sector.bytes.size());
    chunk_length = whole_sectors ? size : std::min(kBlock, size - offset);
    const std::uint32_t chunk_address = sector.address + offset;
    if (sector_indexes) {
      const std::uint64_t flash_offset = chunk_address - c.flash_address;
      params.cycle_count = SectorsBelow(context, flash_offset);
      params.width_bytes = SectorsBelow(context, flash_offset + chunk_length);
    }
    if (crystal) params.flash_start = static_cast<std::uint32_t>(context.settings().lpc_frequency);
    params.address = chunk_address;
    params.length = chunk_length;
    PackBlock(context, params, block, chunk_length);
    std::copy_n(sector.bytes.begin() + offset, chunk_length, block.begin() + kLoaderParamsSize);
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    if (CheckLoaderVerify(context, kFirstFamilyLayout) == JobStep::kFailed) return JobStep::kFailed;
    done += chunk_length;
    context.frontend.SetProgressPosition(static_cast<int>(done / 256));
    offset += chunk_length;
    if (offset >= to_write[next]->bytes.size()) {
      ++next;
      offset = 0;
    }
    return next >= to_write.size() ? JobStep::kDone : JobStep::kGoOn;
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  if (erase_failed) return {erase_failed->outcome, false, std::nullopt, {}};
  if (result.completed) {
    context.log.Info(FormatText("Info: %zu sector%s written, %zu unchanged.\n", to_write.size(),
                                to_write.size() == 1 ? "" : "s", unchanged));
    context.log.Info(ProgramCompletedLine(c));
  }
  return {result.outcome, result.completed, std::nullopt, {}};
}

CommandResult ImageVerifyBody(const CommandContext& context) {
  constexpr const char* kFailedTail = ", verify failed.\n";
  context.log.Info("Info: start verify...\n");
  std::optional<AddressImage> image = LoadImage(context, kFailedTail);
  if (!image) return {};
  PutVectorChecksum(context, *image);
  std::string error;
  if (!CheckImagePlacement(*image, LayoutOf(context), error)) {
    context.log.Error("Error: " + error + kFailedTail);
    return {};
  }
  context.BeginProgress(static_cast<int>((image->byte_count() + kBlock - 1) / kBlock), false);
  const CommandOutcome outcome = VerifiesOnTarget(context.settings())
                                     ? VerifyOnTargetByCrc(context, *image)
                                     : VerifyByReading(context, *image);
  context.frontend.SetProgressPosition(0);
  const bool completed = outcome == CommandOutcome::kSucceeded;
  if (completed) context.log.Info("Info: verify success.\n");
  return {outcome, completed, std::nullopt, {}};
}

bool CheckImageFormatAllowed(const CommandSnapshot& job, MessageLog& log) {
  if (!job.config.UsesAddressImage() ||
      (job.code != CommandCode::kNandProgram && job.code != CommandCode::kNandVerify))
    return true;
  log.Error(
      "Error: the image format places data at flash addresses, which a NAND device with bad "
      "blocks does not keep; use Flat Bin.\n");
  return false;
}

}  // namespace romsmith
