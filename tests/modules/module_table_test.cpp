#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_api/gdi.h"
#include "platform/shared_library.h"

namespace {

std::vector<std::string> messages;
void GDI_CALL Collect(int32_t kind, const char* text) {
  EXPECT_EQ(kind, 2048);
  messages.push_back(text);
}

class Osprey7Module : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.Open(ROMSMITH_STAGE_DIR "/drivers/osprey7.so")) << library.error();
    auto get = library.Get<GdiGetFunction>(GDI_GET_EXPORT_NAME);
    ASSERT_NE(get, nullptr);
    table = get();
    ASSERT_NE(table, nullptr);
    messages.clear();
  }
  void TearDown() override {
    if (table) table->gdi_close(1);
  }

  platform::SharedLibrary library;
  const DriverTable* table = nullptr;
};

TEST_F(Osprey7Module, ExportsOnlyTheTableAndFillsEverySlot) {
  EXPECT_EQ(library.Symbol("port_readb"), nullptr);
  EXPECT_EQ(library.Symbol("_ZN7drivers6Driver4OpenEPK11OpenOptions"), nullptr);
  const auto* slots = reinterpret_cast<const GdiNoArgumentSlot*>(table);
  for (int i = 0; i < GDI_SLOT_COUNT; ++i) EXPECT_NE(slots[i], nullptr) << i;
  for (int i : {5, 7, 10, 11, 23, 30, 35, 38, 40, 42, 45, 52, 55}) {
    EXPECT_EQ(slots[i](), GDI_NOT_SUPPORTED) << i;
  }
  for (int i : {16, 21, 22, 41}) EXPECT_EQ(slots[i](), GDI_OK) << i;
}

TEST_F(Osprey7Module, DescribesItselfWithoutBeingOpened) {
  DriverInfo info{};
  ASSERT_EQ(table->gdi_get_info(&info), 0);
  EXPECT_STREQ(info.description, "Tevrin JTAG emulator for ARM7");
  EXPECT_EQ(info.version, 0x112045u);
  ASSERT_EQ(info.speed_count, 3u);
  EXPECT_STREQ(info.speed_names[0], "High Speed");
  EXPECT_STREQ(info.speed_names[1], "Medium Speed");
  EXPECT_EQ(table->gdi_free(info.description), 0);
  EXPECT_EQ(table->gdi_free(info.version_text), 0);
  EXPECT_EQ(table->gdi_free(info.extra_text), 0);
  uint32_t version = 0;
  EXPECT_EQ(table->gdi_get_version(&version), 0);
  EXPECT_EQ(version, 0x112045u);
}

TEST_F(Osprey7Module, OpenWithoutAPortLibraryFailsWithTheDeviceDriverLine) {
  ASSERT_EQ(table->gdi_set_callback(GDI_MESSAGE_KIND, Collect), 0);
  const uint8_t order = 2, speed = 0;
  char directory[260] = "/nonexistent/ports/";
  OpenOptions options{&order, directory, &speed};
  EXPECT_EQ(table->gdi_open(-1, 0, 3, &options, 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: device driver error!\n"}));
  // Other kinds leave the callback alone; without one, messages are dropped.
  ASSERT_EQ(table->gdi_set_callback(7, nullptr), 0);
  EXPECT_EQ(table->gdi_open(-1, 0, 3, &options, 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages.size(), 2u);
  ASSERT_EQ(table->gdi_set_callback(GDI_MESSAGE_KIND, nullptr), 0);
  EXPECT_EQ(table->gdi_open(-1, 0, 3, &options, 0), GDI_OPEN_FAILED);
  EXPECT_EQ(messages.size(), 2u);
}

TEST_F(Osprey7Module, MemorySlotsCheckTheWidthFirst) {
  MemoryCell cells[3] = {};
  EXPECT_EQ(table->gdi_read_memory(0, 0x1000, cells, 3, 3), GDI_BAD_ARGUMENT);
  EXPECT_EQ(table->gdi_write_memory(0, 0x1000, cells, 0, 4), GDI_OK);
  char cpu[8] = {};
  EXPECT_EQ(table->gdi_get_cpu_state(cpu), 0);
  EXPECT_STREQ(cpu, "ARM");
}

}  // namespace
