// Every driver module as a host first meets it: its one export, its 58
// slots, how it describes itself without being opened, and how open takes
// the port library and the speed option.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_api/gdi.h"
#include "modules_under_test.h"
#include "platform/shared_library.h"

namespace {

using modules_test::ModuleFacts;

std::vector<std::string> messages;
void GDI_CALL Collect(int32_t kind, const char* text) {
  EXPECT_EQ(kind, 2048);
  messages.push_back(text);
}

class ModuleTable : public ::testing::TestWithParam<ModuleFacts> {
 protected:
  void SetUp() override {
    const std::string path = std::string(ROMSMITH_STAGE_DIR) + "/drivers/" + facts.name + ".so";
    ASSERT_TRUE(library.Open(path)) << library.error();
    auto get = library.Get<GdiGetFunction>(GDI_GET_EXPORT_NAME);
    ASSERT_NE(get, nullptr);
    table = get();
    ASSERT_NE(table, nullptr);
    messages.clear();
    ASSERT_EQ(table->gdi_set_callback(GDI_MESSAGE_KIND, Collect), 0);
  }
  void TearDown() override {
    if (table) table->gdi_close(1);
  }
  int Open(const char* directory, uint8_t speed) {
    order = 2;
    speed_index = speed;
    std::strcpy(directory_text, directory);
    options = OpenOptions{&order, directory_text, &speed_index};
    return table->gdi_open(-1, 0, 3, &options, 0);
  }

  const ModuleFacts& facts = GetParam();
  platform::SharedLibrary library;
  const DriverTable* table = nullptr;
  uint8_t order = 2, speed_index = 0;
  char directory_text[260] = {};
  OpenOptions options{};
};

TEST_P(ModuleTable, ExportsOnlyTheTableAndFillsEverySlot) {
  EXPECT_EQ(library.Symbol("port_readb"), nullptr);
  EXPECT_EQ(library.Symbol("_ZN7drivers6Driver4OpenEPK11OpenOptions"), nullptr);
  EXPECT_EQ(library.Symbol("_ZN7drivers14kModuleProfileE"), nullptr);
  const auto* slots = reinterpret_cast<const GdiNoArgumentSlot*>(table);
  for (int i = 0; i < GDI_SLOT_COUNT; ++i) EXPECT_NE(slots[i], nullptr) << i;
  for (int i : {5, 7, 10, 11, 25, 30, 35, 38, 40, 42, 45, 52, 55}) {
    EXPECT_EQ(slots[i](), GDI_NOT_SUPPORTED) << i;
  }
  for (int i : {16, 21, 22, 41}) EXPECT_EQ(slots[i](), GDI_OK) << i;
}

// The comms channel slot checks its arguments before it touches the probe.
TEST_P(ModuleTable, WritesToTheCommsChannelOnlyWithWhereToSayHowFar) {
  const uint32_t word = 0;
  CommsResult result{};
  EXPECT_EQ(table->gdi_write_comms(&word, 1, 1, nullptr), GDI_BAD_ARGUMENT);
  EXPECT_EQ(table->gdi_write_comms(nullptr, 1, 1, &result), GDI_BAD_ARGUMENT);
  EXPECT_EQ(table->gdi_write_comms(&word, 1, 1, &result), GDI_FAILED);  // not connected
  EXPECT_EQ(result.written, 0u);
}

// FastRead is the one option; anything else is refused and changes nothing.
TEST_P(ModuleTable, SetsOnlyTheOptionsItKnows) {
  struct Case {
    const char* name;
    int32_t value;
    int32_t result;
  };
  for (const Case& c : {Case{"FastRead", 1, GDI_OK}, Case{"FastRead", 0, GDI_OK},
                        Case{"FastRead", 2, GDI_BAD_ARGUMENT}, Case{"FastRead", -1, GDI_BAD_ARGUMENT},
                        Case{"fastread", 1, GDI_BAD_ARGUMENT}, Case{"", 1, GDI_BAD_ARGUMENT},
                        Case{nullptr, 1, GDI_BAD_ARGUMENT}}) {
    EXPECT_EQ(table->gdi_set_option(c.name, c.value), c.result)
        << (c.name ? c.name : "null") << " " << c.value;
  }
}

TEST_P(ModuleTable, DescribesItselfWithoutBeingOpened) {
  DriverInfo info{};
  ASSERT_EQ(table->gdi_get_info(&info), 0);
  EXPECT_STREQ(info.description, facts.description);
  EXPECT_EQ(info.version, facts.version);
  EXPECT_EQ(info.version_text, std::to_string(facts.version));
  EXPECT_EQ(info.comm_types, GDI_COMM_PARALLEL);
  EXPECT_EQ(info.speed_count, facts.speed_count);
  if (facts.speed_names.empty()) {
    EXPECT_EQ(info.speed_names, nullptr);  // a host must not read names from it
  } else {
    ASSERT_NE(info.speed_names, nullptr);
    for (std::size_t i = 0; i < facts.speed_names.size(); ++i) {
      EXPECT_STREQ(info.speed_names[i], facts.speed_names[i]) << i;
    }
  }
  EXPECT_EQ(table->gdi_free(info.description), 0);
  EXPECT_EQ(table->gdi_free(info.version_text), 0);
  EXPECT_EQ(table->gdi_free(info.extra_text), 0);
  EXPECT_EQ(table->gdi_free(nullptr), 0);
  uint32_t version = 0;
  EXPECT_EQ(table->gdi_get_version(&version), 0);
  EXPECT_EQ(version, facts.version);
}

TEST_P(ModuleTable, OpenWithoutAPortLibraryFailsWithTheModulesDriverLine) {
  EXPECT_EQ(Open("/nonexistent/ports/", 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages, (std::vector<std::string>{facts.port_library_failed}));
  // Other kinds leave the callback alone; without one, messages are dropped.
  ASSERT_EQ(table->gdi_set_callback(7, nullptr), 0);
  EXPECT_EQ(Open("/nonexistent/ports/", 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages.size(), 2u);
  ASSERT_EQ(table->gdi_set_callback(GDI_MESSAGE_KIND, nullptr), 0);
  EXPECT_EQ(Open("/nonexistent/ports/", 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages.size(), 2u);
}

// A library that loads but lacks port_readb and port_writeb (here a driver
// module in its place) fails open with no line.
TEST_P(ModuleTable, APortLibraryWithoutItsExportsFailsOpenWithoutALine) {
  const std::string dir = ::testing::TempDir() + "module_table_ports_" + facts.name + "/";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(std::string(ROMSMITH_STAGE_DIR) + "/drivers/" + facts.name + ".so",
                             dir + "portcall.so",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Open(dir.c_str(), 0), GDI_OPEN_FAILED);
  EXPECT_TRUE(messages.empty()) << messages.front();
  std::filesystem::remove_all(dir);
}

// Every index a module names opens quietly; the first one past them warns
// and runs at full speed (the module that reads no speed never warns).
TEST_P(ModuleTable, AnOutOfRangeSpeedWarnsOnce) {
  const std::string directory = std::string(ROMSMITH_STAGE_DIR) + "/ports/simboard/";
  const char* ports = directory.c_str();
  for (std::size_t index = 0; index < facts.speed_names.size(); ++index) {
    ASSERT_EQ(Open(ports, static_cast<uint8_t>(index)), GDI_OK) << index;
    ASSERT_EQ(table->gdi_close(1), GDI_OK);
  }
  EXPECT_TRUE(messages.empty()) << messages.front();
  ASSERT_EQ(Open(ports, static_cast<uint8_t>(facts.speed_names.size())), GDI_OK);
  if (facts.speed_warning) {
    EXPECT_EQ(messages, (std::vector<std::string>{facts.speed_warning}));
  } else {
    EXPECT_TRUE(messages.empty());
  }
}

TEST_P(ModuleTable, MemorySlotsCheckTheWidthFirst) {
  MemoryCell cells[3] = {};
  EXPECT_EQ(table->gdi_read_memory(0, 0x1000, cells, 3, 3), GDI_BAD_ARGUMENT);
  EXPECT_EQ(table->gdi_write_memory(0, 0x1000, cells, 0, 4), GDI_OK);
  char cpu[8] = {};
  EXPECT_EQ(table->gdi_get_cpu_state(cpu), 0);
  EXPECT_STREQ(cpu, "ARM");
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleTable, ::testing::ValuesIn(modules_test::kAllModules),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
