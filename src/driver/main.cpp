// main.cpp - the entry point.
#include "driver/driver.h"

int main(int argc, char** argv) {
  return zibbet::run(argc, argv);
}
