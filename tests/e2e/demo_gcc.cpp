// The demo package's bin\gcc.exe: a tiny Windows program, so that the
// installed tree holds something that runs.
#include <cstdio>

int main(int argc, char** argv) {
  std::printf("gcc (demo package) 1.0: %d argument(s)\n", argc - 1);
  return argc > 1 && argv[1][0] == '-' ? 0 : 1;
}
