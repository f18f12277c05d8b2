// The window suites need one QApplication, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
