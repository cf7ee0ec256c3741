// startup_floor.cpp - the floor of zibbet's start-up over a buddy file: a
// program that reads the file named by its argument line by line with
// std::getline into a std::unordered_set<std::string>, and ends. Built
// with the same flags as zibbet, and spawned by BM_startup_buddyfile.
#include <fstream>
#include <iostream>
#include <string>
#include <unordered_set>

// main - reads argv[1] into the set; exits 0, or 1 when it cannot be read.
int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1]);
  if (!in) return 1;
  std::unordered_set<std::string> names;
  std::string line;
  while (std::getline(in, line)) names.insert(line);
  // The set's size goes out, so that the reading cannot be left out.
  std::cout << names.size() << '\n';
  return 0;
}
