// The window suites need one QApplication, offscreen unless PW_TEST_X11 asks for the X
// server the caller started.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet("PW_TEST_X11")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
