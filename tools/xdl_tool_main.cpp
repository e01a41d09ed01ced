// romsmith-xdl: scrambles and unscrambles the program's data files, for the
// build and for the people who maintain the databases and loader images.
//
//   romsmith-xdl encode PLAIN SCRAMBLED
//   romsmith-xdl decode SCRAMBLED PLAIN
//
// Exits 0 on success, 1 on any failure with the reason on standard error.

#include <cstdio>
#include <string>

#include "formats/data_file.h"
#include "platform/message_box.h"

namespace {

constexpr const char* kUsage =
    "usage: romsmith-xdl encode PLAIN SCRAMBLED\n"
    "       romsmith-xdl decode SCRAMBLED PLAIN\n";

}  // namespace

int main(int argc, char** argv) {
  platform::SetMessageHandler([](const platform::MessageRequest& request) {
    std::fprintf(stderr, "romsmith-xdl: %s\n", request.text.c_str());
    return platform::DefaultAnswer(request.buttons);
  });
  if (argc != 4) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string command = argv[1];
  bool ok = false;
  if (command == "encode") {
    ok = romsmith::EncodeDataFile(argv[2], argv[3]);
  } else if (command == "decode") {
    ok = romsmith::DecodeDataFile(argv[2], argv[3]);
  } else {
    std::fprintf(stderr, "romsmith-xdl: unknown command '%s'\n%s", command.c_str(), kUsage);
    return 1;
  }
  return ok ? 0 : 1;
}
