// Entry of the GUI tests: one QApplication (and GLUT, whose fonts the view
// uses) for all of them. Listing the tests needs neither, so test discovery
// works without a display.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <clocale>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  glutInit(&argc, argv);
  QApplication app(argc, argv);
  // Recent files and the graph window's place go to a folder of their own,
  // never to the user's settings.
  QTemporaryDir settings;
  QCoreApplication::setOrganizationName("orvaldyn-tests");
  QCoreApplication::setApplicationName("gui_tests");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  std::setlocale(LC_NUMERIC, "C");  // as the program does after Qt took the user's locale
  return RUN_ALL_TESTS();
}
