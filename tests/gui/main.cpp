// Runs the GUI tests on one QApplication (offscreen unless told otherwise).
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        std::string dir = (std::filesystem::temp_directory_path() / "quorvel-gui-XXXXXX").string();
        if (mkdtemp(dir.data())) setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Skarlin");
    std::filesystem::create_directories(QUORVEL_SCREENSHOT_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
