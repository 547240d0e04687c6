// Music.dll stand-in: the function table's slots and the trace of each call.
#include "ferrox/music.h"

#include <gtest/gtest.h>

#include "standin_fixture.h"
#include "winport/module.h"

namespace {

using namespace standin_test;

TEST(MusicStandIn, TableSlotsAnswerAndEveryCallIsTraced) {
  Environment env;
  testsupport::TempDir dir;
  env.set("VIRTMUSIC_TRACE", dir.file("music.txt"));
  testsupport::LoadedModule module(kMusicLibraryName);
  ASSERT_TRUE(module);
  const auto getTable = module.get<MusicGetFunctionTableFn>(kMusicGetFunctionTableName);
  ASSERT_NE(getTable, nullptr);
  const MusicFunctionTable* table = getTable();
  ASSERT_NE(table, nullptr);
  const MusicOpenRecord open = {0, 9, 1};
  EXPECT_EQ(table->open(&open), 0);
  const MusicPlayRecord scanTune = {"/tunes/scan.wav", MUSIC_MODE_SCAN};
  table->play(&scanTune);
  table->stop();
  const MusicPlayRecord emptyPath = {"", MUSIC_MODE_END_SCAN};
  table->play(&emptyPath);
  table->close();
  const std::vector<std::string> expected = {
      "music slot=0 open=0,9,1 status=0", "music slot=3 play mode=0 path=/tunes/scan.wav status=0",
      "music slot=4 stop status=0", "music slot=3 play mode=1 path= status=0",
      "music slot=1 close status=0"};
  EXPECT_EQ(readLines(dir.file("music.txt")), expected);
}

TEST(MusicStandIn, SharesTheDriverTraceWhenNoOwnIsNamed) {
  Environment env;
  testsupport::TempDir dir;
  env.set("VIRTSCAN_TRACE", dir.file("trace.txt"));
  testsupport::LoadedModule module(kMusicLibraryName);
  ASSERT_TRUE(module);
  module.get<MusicGetFunctionTableFn>(kMusicGetFunctionTableName)()->stop();
  EXPECT_EQ(readLines(dir.file("trace.txt")),
            std::vector<std::string>{"music slot=4 stop status=0"});
}

TEST(MusicStandIn, ExportsOnlyTheTableFunction) {
  testsupport::LoadedModule module(kMusicLibraryName);
  ASSERT_TRUE(module);
  const WinportModuleInfo* info = winport_module_info_of(module.handle());
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->exportCount, 1u);
  EXPECT_STREQ(info->exports[0].name, kMusicGetFunctionTableName);
}

}  // namespace
