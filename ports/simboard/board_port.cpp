#include "ports/simboard/board_port.h"

#include <fstream>
#include <string>
#include <utility>

#include "simboard/board/board_jtag.h"

namespace simboard {

std::filesystem::path PortBoardFile(const char* environment,
                                    const std::filesystem::path& library_directory) {
  if (environment != nullptr && *environment != '\0') return std::filesystem::path(environment);
  return library_directory / "board.ini";
}

BoardPort::BoardPort(const std::filesystem::path& board_file, const Reporter& report,
                     std::filesystem::path counters_file)
    : report_(report), counters_file_(std::move(counters_file)) {
  std::string error;
  board_ = JtagBoard::Open(board_file, error);
  if (board_) {
    port_ = &board_->port();
    real_time_ = board_->board().description().timing == TimingMode::RealTime;
    return;
  }
  // Board file errors name the section and key, some the file by its name
  // alone: the message names it by the path it was opened as.
  std::string file = board_file.string();
  std::string name = board_file.filename().string() + ": ";
  if (error.rfind(file + ": ", 0) != 0) {
    if (error.rfind(name, 0) == 0) error.erase(0, name.size());
    error = file + ": " + error;
  }
  if (report) report("virtual board port: " + error + " (the port reads as disconnected)\n");
}

// The board closes first, so that the report counts everything up to the
// last access and the flash images are complete before anyone reads the
// report and acts on it.
BoardPort::~BoardPort() {
  if (!board_ || counters_file_.empty()) return;
  std::string report = board_->CounterReport();
  board_.reset();
  std::ofstream out(counters_file_, std::ios::binary | std::ios::trunc);
  out << report;
  out.flush();
  if (!out && report_) {
    report_("virtual board port: cannot write the counter report to " + counters_file_.string() + "\n");
  }
}

// Once per board: a real-time clock the host cannot keep up with makes every
// wait on the board longer than its figures say.
void BoardPort::CheckBehind() {
  if (board_->board().behind_real_time() == 0) return;
  behind_reported_ = true;
  if (report_) {
    report_("virtual board port: this host cannot keep up with ClockKHz=" +
            std::to_string(board_->board().description().clock_khz) +
            " in real time; the board runs slower than its clock\n");
  }
}

}  // namespace simboard
