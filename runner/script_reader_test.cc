#include "runner/script_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/script_reader_model.h"

// The fuzz seeds, read with the reader as script files and checked against
// the model, so that a reader fault shows in every test run.
TEST(ScriptReader, ReadsTheFuzzSeedsAsTheModelDoes) {
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(RCON_READER_SEEDS)) {
    std::string path = entry.path().string();
    std::ifstream file(path, std::ios::binary);
    std::string seed((std::istreambuf_iterator<char>(file)),
                     std::istreambuf_iterator<char>());
    const uint8_t* data = reinterpret_cast<const uint8_t*>(seed.data());
    EXPECT_EQ(reader_lines(path.c_str()), model_lines(data, seed.size())) << path;
    seeds++;
  }
  EXPECT_GE(seeds, 10);
}

// While a pass holds the script, it may be renamed away and a new one moved
// into its name, as editors that save through a new file do; the next pass
// reads the new one.
TEST(ScriptReader, MayBeReplacedWhileItIsRead) {
  std::string live = testing::TempDir() + "rcon-live-script";
  std::ofstream(live, std::ios::binary) << "rcon old\n";
  std::ofstream(live + ".new", std::ios::binary) << "rcon new\n";
  script_reader reader;
  ASSERT_TRUE(script_open(&reader, live.c_str(), nullptr));
  std::filesystem::rename(live, live + ".old");
  std::filesystem::rename(live + ".new", live);
  script_close(&reader);
  EXPECT_EQ(reader_lines(live.c_str()), std::vector<std::string>{"rcon new\n"});
  std::filesystem::remove(live + ".old");
  std::filesystem::remove(live);
}
