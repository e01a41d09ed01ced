#include "cli/run_record.h"

#include <gtest/gtest.h>

namespace romsmith {
namespace {

TEST(RunRecord, ResultLinesGiveTheirValues) {
  RunResults r;
  EXPECT_TRUE(TakeResultLine("Info: checksum completed, it is 0x0A5F.\n", r));
  EXPECT_EQ(r.checksum, 0x0A5Fu);
  EXPECT_TRUE(TakeResultLine("Info: device code is 0x2249, target test success.\n", r));
  EXPECT_EQ(r.device_code, 0x2249u);
  EXPECT_FALSE(r.read_value);
  EXPECT_TRUE(TakeResultLine("Info: device code is 0x22, read value is 0x2222, target test success.\n", r));
  EXPECT_EQ(r.read_value, 0x2222u);
  EXPECT_TRUE(TakeResultLine("Info: device code is 0x2249, read value is 0xFFFF, target test failed.\n", r));
  EXPECT_EQ(r.read_value, 0xFFFFu);
  EXPECT_TRUE(TakeResultLine("Info: LPC vector checksum 0xB8A06F60 put at 0x14 (the file holds 0x00000000).\n", r));
  EXPECT_EQ(r.lpc_vector_checksum, 0xB8A06F60u);

  // The first difference is the first one named.
  EXPECT_TRUE(TakeResultLine("Error: verify failed, different at address 0x00004321.\n", r));
  EXPECT_TRUE(TakeResultLine("Error: verify failed, different at address 0x00009999.\n", r));
  ASSERT_TRUE(r.first_difference);
  EXPECT_EQ(r.first_difference->address, 0x4321u);
  EXPECT_FALSE(r.first_difference->data);
  RunResults blank;
  EXPECT_TRUE(TakeResultLine("Error: blank check failed, address 0x00004000 contain data 0x5A.\n", blank));
  EXPECT_EQ(blank.first_difference->address, 0x4000u);
  EXPECT_EQ(blank.first_difference->data, 0x5Au);

  // Lines that only look alike carry nothing.
  RunResults none;
  for (const char* text : {"Info: start checksum...\n", "Info: checksum completed, it is 0x12.34\n",
                           "Info: checksum completed, it is 0x1234. and more\n",
                           "Error: verify failed, the program file is empty.\n",
                           "Info: device code is 0x2249\n"})
    EXPECT_FALSE(TakeResultLine(text, none)) << text;
  EXPECT_FALSE(none.checksum || none.device_code || none.first_difference);
}

TEST(RunRecord, JsonHasEveryFieldAndKeepsBadBytes) {
  RunRecord record;
  record.command = "checksum";
  record.exit_status = 3;
  record.target.board = "";
  record.results.checksum = 0x1234;
  record.results.bad_blocks = std::vector<int>{2, 7};
  record.sectors = std::make_pair(1, 4);
  record.bytes = 4096;
  // A line from a driver need not be UTF-8.
  record.messages.push_back({LineKind::kWarning, std::string("Warning: \xff odd")});
  const nlohmann::json json = RecordJson(record);
  EXPECT_EQ(json["outcome"], "stopped");
  EXPECT_EQ(json["exit_status"], 3);
  EXPECT_EQ(json["results"]["checksum"], 0x1234);
  EXPECT_TRUE(json["results"]["device_code"].is_null());
  EXPECT_EQ(json["results"]["bad_blocks"], nlohmann::json::array({2, 7}));
  EXPECT_EQ(json["sectors"]["last"], 4);
  EXPECT_TRUE(json["target"]["board"].is_null());
  EXPECT_TRUE(json["file"].is_null());
  EXPECT_EQ(json["messages"][0]["kind"], "warning");
  const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  EXPECT_NE(text.find("Warning: \xef\xbf\xbd odd"), std::string::npos) << text;
  EXPECT_STREQ(OutcomeName(0), "ok");
  EXPECT_STREQ(OutcomeName(1), "failed");
  EXPECT_STREQ(OutcomeName(2), "usage");
}

}  // namespace
}  // namespace romsmith
