// Feeds arbitrary bytes to the script reader as a script file, and aborts
// where a line differs from the model's.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fuzz/script_reader_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("rcon-script-reader-fuzz-" + std::to_string(getpid()));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  bool same = reader_lines(path.c_str()) == model_lines(data, size);
  std::filesystem::remove(path);  // nothing is left behind when the run ends
  if (!same) abort();
  return 0;
}
