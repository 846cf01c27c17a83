// xvelm: command-line driver of the connector.
#include <cstdio>
#include <cstring>

#include "info.hxx"

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "info") != 0) {
    std::fprintf(stderr, "usage: xvelm info FILE\n");
    return 2;
  }
  return xvelm::info(argv[2], stdout, stderr);
}
