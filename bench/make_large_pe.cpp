// Writes a valid, signable PE image of at least the given size: make_large_pe PATH BYTES
#include <cstdlib>
#include <iostream>
#include <string>

#include "fixtures/pe_images.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: corvane-bench-make-pe PATH BYTES\n";
    return 2;
  }
  corvane::test::MakeLargePeImage(argv[1], std::strtoull(argv[2], nullptr, 10));
  std::cout << corvane::test::TestImagePath("library-x64.dll") << "\n";
  return 0;
}
