// Program with the data streamed through the debug comms channel: the NOR
// loader runs once per contiguous range and takes each word from the
// channel (its stream operation), so the core is never halted between
// chunks and no data goes through target RAM. The host writes the words
// over scan chain 2 and reads the channel's control only every few words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "operations/command_context.h"
#include "operations/loader_job.h"

namespace romsmith {

// Words the host writes between two reads of the comms control: once a
// batch. No word is written over one the loader has not taken as long as
// the loader programs a word in the time the probe needs for the next one's
// 42-clock scan: at least 84 us at a parallel port's 1 us an access, against
// a 16- or 32-bit word program of the data sheets' 7 to 20 us. The check
// finds the loader's verdict (a failed word) and a loader that lags (the
// last word still waiting); from then on, and on a byte-wide bus (four
// programs a word), each word waits for the one before to be taken. A word
// lost anyway leaves the loader waiting for one more at the end: the
// command fails, never passes.
inline constexpr std::uint32_t kStreamCheckWords = 1024;
// Words per call into the driver: the stop check and the progress bar move
// this often (4 KiB: under 0.1 s even at a parallel port's 1 us an access).
inline constexpr std::uint32_t kStreamBatchWords = 1024;

// The next `count` bytes of a range into `bytes`; fewer at its end.
using ByteSource = std::function<std::size_t(std::uint8_t* bytes, std::size_t count)>;

// Whether Program streams its data for this command: the option is on, the
// flash is NOR on an external bus (what the NOR loader's stream operation
// programs), the flash start is word-aligned and debug images are off. When
// the option is on and the target cannot stream, says so and answers false
// (the command programs in chunks).
bool StreamsThisProgram(const CommandContext& context);

// One range with the loader already in target RAM: its parameter block
// (`params` with the stream operation, address and length filled in) goes
// to RAM, the loader is started, `length` bytes of `source` (0xFF behind
// a short read, up to a whole word) are streamed into it, and the run is
// followed to its breakpoint. `progress` is called with the bytes streamed
// so far. Each failure logged.
RunResult StreamRange(const CommandContext& context, LoaderParams params, std::uint32_t address,
                      std::uint32_t length, const ByteSource& source,
                      const std::function<void(std::uint32_t)>& progress);

// Program (code 4) through the stream, with the lines of the chunked
// program. The automatic erase runs in the stream's own run, before the
// data, when the selected sectors go by the sector erase (its start and
// completed lines after the program's start line), else first as Erase. Auto
// verify checks the range afterwards as Verify does (on the target with
// TargetVerify).
CommandResult StreamProgramBody(const CommandContext& context);

}  // namespace romsmith
