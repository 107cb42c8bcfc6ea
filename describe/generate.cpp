// Writes the contract's description to the file its one argument names: the
// description a build without the tool (a cross build, whose own programs
// may not run on the build machine) keeps for the Python generators and
// comparers. It is compiled for the build machine from the same tables.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "description.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const std::string text = strata::describe::description_json({});
  std::ofstream file(argv[1], std::ios::binary);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[1], std::strerror(errno));
    return 1;
  }
  return 0;
}
