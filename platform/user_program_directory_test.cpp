#include "platform/user_program_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

fs::path Fresh(const char* name) {
  auto dir = TempDirectory() / ("romsmith-userdir-" + std::to_string(::getpid())) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void Write(const fs::path& path, const std::string& text, bool executable = false) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
  if (executable) fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
}

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// An installed program directory as the install step lays it out.
fs::path InstalledTree() {
  const fs::path tree = Fresh("installed");
  Write(tree / kInstalledMarker, "");
  Write(tree / "romsmith-cli", "program", true);
  Write(tree / "romsmith.ini", "[Directory]\n");
  Write(tree / "proc.xdl", "cpu");
  Write(tree / "parl.mdl", "loader");
  Write(tree / "drivers" / "osprey7.so", "module");
  Write(tree / "ports" / "simboard" / "portcall.so", "port");
  Write(tree / "ports" / "simboard" / "board.ini", "[Board]\n");
  Write(tree / "examples" / "demo.cfg", "[SETUP]\n");
  Write(tree / "help" / "index.html", "help");
  return tree;
}

}  // namespace

TEST(UserProgramDirectory, ReadOnlyFilesAreLinkedAndWrittenFilesCopied) {
  const fs::path installed = InstalledTree();
  const fs::path user = Fresh("user") / "romsmith";
  std::string error;
  ASSERT_TRUE(SeedUserProgramDirectory(installed, user, error)) << error;

  struct Expect {
    const char* file;
    bool linked;
  };
  for (const Expect& e : {Expect{"romsmith-cli", true}, Expect{"proc.xdl", true}, Expect{"parl.mdl", true},
                          Expect{"drivers/osprey7.so", true}, Expect{"ports/simboard/portcall.so", true},
                          Expect{"examples/demo.cfg", true}, Expect{"help/index.html", true},
                          Expect{"romsmith.ini", false}, Expect{"ports/simboard/board.ini", false}}) {
    SCOPED_TRACE(e.file);
    EXPECT_EQ(fs::is_symlink(user / e.file), e.linked);
    EXPECT_EQ(Read(user / e.file), Read(installed / e.file));
  }
  EXPECT_FALSE(fs::exists(user / kInstalledMarker));  // the copy is the user's own
  EXPECT_FALSE(NeedsUserProgramDirectory(user));
  EXPECT_TRUE(NeedsUserProgramDirectory(installed));
}

TEST(UserProgramDirectory, ASecondStartKeepsTheUsersFilesAndFollowsTheInstall) {
  const fs::path installed = InstalledTree();
  const fs::path user = Fresh("user-again") / "romsmith";
  std::string error;
  ASSERT_TRUE(SeedUserProgramDirectory(installed, user, error)) << error;
  Write(user / "romsmith.ini", "[Directory]\nDriver=ports/parport/\n");
  Write(user / "Info.log", "Info: old run\n");

  // An upgrade adds a module and drops a loader image.
  Write(installed / "drivers" / "wren7.so", "module");
  fs::remove(installed / "parl.mdl");
  ASSERT_TRUE(SeedUserProgramDirectory(installed, user, error)) << error;

  EXPECT_EQ(Read(user / "romsmith.ini"), "[Directory]\nDriver=ports/parport/\n");
  EXPECT_EQ(Read(user / "Info.log"), "Info: old run\n");
  EXPECT_TRUE(fs::is_symlink(user / "drivers" / "wren7.so"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(user / "parl.mdl")));
}

TEST(UserProgramDirectory, AnUnmakeableDirectorySaysWhy) {
  const fs::path installed = InstalledTree();
  const fs::path blocker = Fresh("blocked") / "file";
  Write(blocker, "not a directory");
  std::string error;
  EXPECT_FALSE(SeedUserProgramDirectory(installed, blocker / "romsmith", error));
  EXPECT_NE(error.find(blocker.string()), std::string::npos) << error;
}
