#include "target_data/program_settings.h"

#include <gtest/gtest.h>

#include "target_data/test_support.h"

namespace romsmith {
namespace {

using test::MessageRecorder;
using test::ReadText;
using test::TestDirectory;
using test::WriteText;

struct SettingsFixture {
  std::filesystem::path dir = TestDirectory();
  std::filesystem::path program = dir / "program";
  std::filesystem::path profile = dir / "profile" / "Romsmith.ini";
  SettingsStore store{program, profile};

  void WriteSettings(const std::string& text) { WriteText(program / "romsmith.ini", text); }
  void WriteProfile(const std::string& text) { WriteText(profile, text); }
};

TEST(ProgramSettings, DefaultsWhenSectionsAndProfileAreMissing) {
  SettingsFixture f;
  f.WriteSettings("[Remote]\r\nDevice=wren7.so\r\n");
  MessageRecorder messages;
  ASSERT_TRUE(f.store.Load());
  EXPECT_TRUE(messages.shown().empty());
  const ProgramSettings& v = f.store.values();
  EXPECT_EQ(v.remote.device, "wren7.so");
  EXPECT_EQ(v.remote.speed, 0);
  EXPECT_EQ(v.register_check_prompt, 1);
  EXPECT_EQ(v.debug, 0);
  EXPECT_EQ(v.debug_file, "");
  EXPECT_EQ(v.encrypt, 0);
  EXPECT_EQ(v.plain_loaders, 0);  // loader files used scrambled
  EXPECT_EQ(v.debug_count, 3u);
  EXPECT_EQ(v.log_to_file, 0);
  EXPECT_EQ(v.load_sector_data, 0);
  EXPECT_EQ(v.check_id, 1);
  EXPECT_EQ(v.reset_count, 1);
  EXPECT_EQ(v.time_out_polls, 120);
  EXPECT_EQ(v.test_ram_bytes, 4096);
  EXPECT_EQ(v.lpc_frequency, 11059);
  // No "Directory" values: both directories are the program directory.
  EXPECT_EQ(v.driver_module_directory, f.program.string() + "/");
  EXPECT_EQ(v.port_driver_directory, f.program.string() + "/");
}

TEST(ProgramSettings, ReadsFileAndProfileWithTheirUnits) {
  SettingsFixture f;
  f.WriteSettings(
      "; settings\r\n[Directory]\r\nDriver=/opt/ports\r\nDevice=drivers/\r\n"
      "[Remote]\r\nDevice=harrier7.so\r\nCommType=Parallel\r\nParallel=LPT2\r\n"
      "IPAddr= 10.0.0.5 \r\nSpeed=0x2\r\n[Option]\r\nRegChkPop=0\r\n"
      "[Tevrin]\r\nDebug=1\r\nDebugFile=dbg%d.bin\r\nEncrypt=$1\r\nNoExeEncrypt=1\r\n"
      "DebugCount=$FFFFFFFF\r\n[Remote]\r\nDevice=late.so\r\n");
  f.WriteProfile(
      "[Option]\r\nLog=1\r\nLoadSectData=1\r\nCheckID=0\r\nResetCount=3\r\nTimeOut=5\r\n"
      "TestRamSize=16\r\nLpcFreq=$2EE0\r\n");
  ASSERT_TRUE(f.store.Load());
  const ProgramSettings& v = f.store.values();
  EXPECT_EQ(v.port_driver_directory, "/opt/ports/");  // separator appended
  EXPECT_EQ(v.driver_module_directory, f.program.string() + "/drivers/");  // kept, made absolute
  // A repeated section is never read: the first one wins.
  EXPECT_EQ(v.remote, (RemoteSettings{"harrier7.so", "Parallel", "LPT2", "10.0.0.5", 2}));
  EXPECT_EQ(v.register_check_prompt, 0);
  EXPECT_EQ(v.debug, 1);
  EXPECT_EQ(v.debug_file, "dbg%d.bin");
  EXPECT_EQ(v.encrypt, 1);
  EXPECT_EQ(v.plain_loaders, 1);
  EXPECT_EQ(v.debug_count, 4294967295u);  // unsigned: all 32 bits kept
  EXPECT_EQ(v.log_to_file, 1);
  EXPECT_EQ(v.load_sector_data, 1);
  EXPECT_EQ(v.check_id, 0);
  EXPECT_EQ(v.reset_count, 3);
  EXPECT_EQ(v.time_out_polls, 50);    // 5 s of 100 ms polls
  EXPECT_EQ(v.test_ram_bytes, 16384); // 16 KiB
  EXPECT_EQ(v.lpc_frequency, 12000);
}

TEST(ProgramSettings, ReloadResetsWhatTheFileNoLongerHolds) {
  SettingsFixture f;
  f.WriteSettings(
      "[Remote]\r\nDevice=osprey7.so\r\nSpeed=2\r\nCommType=TCPIP\r\n[Option]\r\nRegChkPop=0\r\n"
      "[Tevrin]\r\nDebug=1\r\nDebugCount=9\r\n");
  ASSERT_TRUE(f.store.Load());
  ASSERT_EQ(f.store.values().remote.speed, 2);
  f.WriteSettings("[Remote]\r\nDevice=osprey9.so\r\nSpeed= 7\r\n");
  ASSERT_TRUE(f.store.Load());
  const ProgramSettings& v = f.store.values();
  EXPECT_EQ(v.remote.device, "osprey9.so");
  EXPECT_EQ(v.remote.comm_type, "");
  EXPECT_EQ(v.remote.speed, 7);  // decimal reading skips the blank
  EXPECT_EQ(v.register_check_prompt, 1);
  EXPECT_EQ(v.debug, 0);
  EXPECT_EQ(v.debug_count, 3u);
}

TEST(ProgramSettings, MissingFileShowsTheErrorAndKeepsTheValues) {
  SettingsFixture f;
  f.WriteSettings("[Remote]\r\nDevice=wren9.so\r\nSpeed=1\r\n");
  ASSERT_TRUE(f.store.Load());
  std::filesystem::remove(f.program / "romsmith.ini");
  MessageRecorder messages;
  EXPECT_FALSE(f.store.Load());
  ASSERT_EQ(messages.shown().size(), 1u);
  EXPECT_EQ(messages.shown()[0].text, "Can't open romsmith.ini file!");
  EXPECT_EQ(messages.shown()[0].caption, "Error");
  EXPECT_EQ(messages.shown()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(f.store.values().remote.device, "wren9.so");
  EXPECT_EQ(f.store.values().remote.speed, 1);
}

TEST(ProgramSettings, SavingRemoteKeysKeepsEveryOtherLine) {
  SettingsFixture f;
  f.WriteSettings(
      "; keep me\r\n[Directory]\r\nDevice=drivers/\r\n\r\n[Remote]\r\nDevice=osprey7.so\r\n"
      "Extra=1\r\nCommType=Parallel\r\nParallel=LPT1\r\nIPAddr=\r\nSpeed=0\r\n[Tevrin]\r\nDebug=0\r\n");
  ASSERT_TRUE(f.store.Load());
  RemoteSettings& remote = f.store.values().remote;
  remote.device = "kestrel7.so";
  remote.parallel = "LPT2";
  remote.speed = 2;
  ASSERT_TRUE(f.store.SaveRemoteSettings());
  EXPECT_EQ(ReadText(f.program / "romsmith.ini"),
            "; keep me\r\n[Directory]\r\nDevice=drivers/\r\n\r\n[Remote]\r\nDevice=kestrel7.so\r\n"
            "Extra=1\r\nCommType=Parallel\r\nParallel=LPT2\r\nIPAddr=\r\nSpeed=2\r\n[Tevrin]\r\nDebug=0\r\n");
  // What was saved is what the next load reads.
  ASSERT_TRUE(f.store.Load());
  EXPECT_EQ(f.store.values().remote, (RemoteSettings{"kestrel7.so", "Parallel", "LPT2", "", 2}));
}

TEST(ProgramSettings, RemoteKeysOfANewSectionAndAnUnreadFile) {
  SettingsFixture f;
  f.WriteSettings("[Directory]\r\nDevice=drivers/\r\n");
  ASSERT_TRUE(f.store.Load());
  f.store.values().remote = RemoteSettings{"wren7.so", "Parallel", "LPT1", "", 1};
  ASSERT_TRUE(f.store.SaveRemoteSettings());
  EXPECT_EQ(ReadText(f.program / "romsmith.ini"),
            "[Directory]\r\nDevice=drivers/\r\n[Remote]\r\nIPAddr=\r\nSpeed=1\r\nParallel=LPT1\r\n"
            "CommType=Parallel\r\nDevice=wren7.so\r\n");

  // A store that never read the existing file must not replace it.
  SettingsStore unread(f.program, f.profile);
  MessageRecorder messages;
  EXPECT_FALSE(unread.SaveRemoteSettings());
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Can't open romsmith.ini file!"});
  EXPECT_NE(ReadText(f.program / "romsmith.ini").find("Device=drivers/"), std::string::npos);
}

TEST(ProgramSettings, OptionsGoToTheProfileInTheUsersUnits) {
  SettingsFixture f;
  f.WriteSettings("[Remote]\r\n");
  f.WriteProfile("[Recent File List]\r\nfile1=/a.cfg\r\n");
  ASSERT_TRUE(f.store.Load());
  ProgramSettings& v = f.store.values();
  v.log_to_file = 1;
  v.reset_count = 2;
  v.time_out_polls = 300;
  v.test_ram_bytes = 8192;
  v.lpc_frequency = 14745;
  ASSERT_TRUE(f.store.SaveOptions());
  ProfileStore profile(f.profile);
  EXPECT_EQ(profile.GetInt("Option", "TimeOut", 0), 30);
  EXPECT_EQ(profile.GetInt("Option", "TestRamSize", 0), 8);
  EXPECT_EQ(profile.GetText("Recent File List", "file1"), "/a.cfg");  // other sections kept

  SettingsStore again(f.program, f.profile);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.values().log_to_file, 1);
  EXPECT_EQ(again.values().reset_count, 2);
  EXPECT_EQ(again.values().time_out_polls, 300);
  EXPECT_EQ(again.values().test_ram_bytes, 8192);
  EXPECT_EQ(again.values().lpc_frequency, 14745);
}

TEST(ProgramSettings, OverridesHoldAtEveryLoadAndAreNeverSaved) {
  SettingsFixture f;
  const std::string settings =
      "[Directory]\r\nDevice=drivers/\r\n[Remote]\r\nDevice=osprey7.so\r\nSpeed=1\r\n"
      "[Option]\r\nRegChkPop=1\r\n";
  const std::string profile = "[Option]\r\nTimeOut=12\r\n";
  f.WriteSettings(settings);
  f.WriteProfile(profile);
  f.store.SetOverride("Remote", "Device", "test_driver.so");
  f.store.SetOverride("Directory", "Device", "/opt/test/drivers");
  f.store.SetOverride("Option", "TimeOut", "3");     // a profile key
  f.store.SetOverride("Option", "RegChkPop", "0");   // a key of the file's "Option"
  f.store.SetOverride("Tevrin", "Debug", "1");       // a section the file lacks
  ASSERT_TRUE(f.store.Load());
  ProgramSettings& v = f.store.values();
  EXPECT_EQ(v.remote.device, "test_driver.so");
  EXPECT_EQ(v.remote.speed, 1);  // what is not overridden comes from the file
  EXPECT_EQ(v.driver_module_directory, "/opt/test/drivers/");
  EXPECT_EQ(v.time_out_polls, 30);
  EXPECT_EQ(v.register_check_prompt, 0);
  EXPECT_EQ(v.debug, 1);

  // A later change of the file is read, the overrides still win.
  f.WriteSettings("[Remote]\r\nDevice=wren7.so\r\nSpeed=2\r\n");
  ASSERT_TRUE(f.store.Load());
  EXPECT_EQ(v.remote.device, "test_driver.so");
  EXPECT_EQ(v.remote.speed, 2);
  EXPECT_EQ(v.time_out_polls, 30);

  // Saving writes the values, never an override the caller did not adopt.
  v.remote.speed = 0;
  v.remote.device = "wren7.so";
  ASSERT_TRUE(f.store.SaveRemoteSettings());
  const std::string saved = ReadText(f.program / "romsmith.ini");
  EXPECT_EQ(saved.find("test_driver"), std::string::npos);
  EXPECT_EQ(saved.find("Tevrin"), std::string::npos);
  EXPECT_EQ(ReadText(f.profile), profile);
}

TEST(ProfileStore, MissingProfileReadsFallbacksAndSaveCreatesIt) {
  const auto dir = TestDirectory();
  const auto path = dir / "deep" / "er" / "Romsmith.ini";
  ProfileStore profile(path);
  EXPECT_EQ(profile.GetInt("Option", "TimeOut", 12), 12);
  EXPECT_EQ(profile.GetText("Recent File List", "file1", "none"), "none");
  profile.SetInt("Option", "TimeOut", 7);
  profile.SetText("Recent File List", "file1", "/x.cfg");
  ASSERT_TRUE(profile.Save());
  ProfileStore reread(path);
  EXPECT_EQ(reread.GetInt("Option", "TimeOut", 12), 7);
  EXPECT_EQ(reread.GetText("Recent File List", "file1"), "/x.cfg");
  reread.RemoveSection("Recent File List");
  EXPECT_EQ(reread.GetText("Recent File List", "file1", "gone"), "gone");
}

}  // namespace
}  // namespace romsmith
