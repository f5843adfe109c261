// Shared main of the tests that need no screen: a QCoreApplication for event loops.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/PrivateFolders.h"

int main(int argc, char** argv) {
  UsePrivateFolders();
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
