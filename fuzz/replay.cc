// Runs the fuzz target once on each file named on the command line, without
// libFuzzer, so that the seeds are checked by every test run. The target
// aborts on a mismatch with its model.
#include <stdint.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    std::ifstream file(argv[i], std::ios::binary);
    if (!file) {
      (void)fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::string seed((std::istreambuf_iterator<char>(file)),
                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
    printf("%s: as the model reads it\n", argv[i]);
  }
  return 0;
}
