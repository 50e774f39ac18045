#pragma once

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// A fixture whose suite runs with a widgets application on Qt's offscreen platform: windows
// exist and draw, but no display is needed.
class OffscreenWidgets : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "offscreen-tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }

    static inline QApplication* app = nullptr;
};
