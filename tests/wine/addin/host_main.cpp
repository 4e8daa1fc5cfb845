// The host simulator's test program: registers Velmora.dll from beside
// itself, as an installer would, and runs the tests in one apartment.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_sim.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  CoInitialize(nullptr);
  if (sim::run(L"regsvr32.exe /s \"" + sim::addinPath() + L"\"") != 0) {
    std::fprintf(stderr, "regsvr32 could not register Velmora.dll\n");
    return 1;
  }
  int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
