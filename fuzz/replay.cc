// Reads each file named on the command line with the script reader and
// checks it against the model, without libFuzzer, so that the fuzz seeds
// are checked by every test run.
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/script_reader_model.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; i++) {
    std::ifstream file(argv[i], std::ios::binary);
    std::string seed((std::istreambuf_iterator<char>(file)),
                     std::istreambuf_iterator<char>());
    const uint8_t* data = reinterpret_cast<const uint8_t*>(seed.data());
    bool same = file && reader_lines(argv[i]) == model_lines(data, seed.size());
    printf("%s: %s\n", argv[i],
           same ? "as the model reads it" : "NOT as the model reads it");
    if (!same) status = 1;
  }
  return status;
}
