// Shared main of the window tests: the program's own application object on whatever Qt
// platform the environment names (offscreen under ctest).
#include <gtest/gtest.h>

#include "platform/Application.h"

int main(int argc, char** argv) {
  sonarelle::Application app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
