// The GUI tests' main: a QApplication on the offscreen platform (unless one is named) with a
// private runtime directory, then every test.
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtimeDir;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-gui-XXXXXX").string();
        if (mkdtemp(tmpl.data())) { // mkdtemp makes it 0700
            runtimeDir = tmpl;
            setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Skarlin");
    std::filesystem::create_directories(QUORVEL_SCREENSHOT_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (!runtimeDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(runtimeDir, ec);
    }
    return rc;
}
