#include <gtest/gtest.h>

#include "host_control.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  return RUN_ALL_TESTS();
}
