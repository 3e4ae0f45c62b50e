// Writes the program's built-in icon set as "icn<N>.ico" files into a folder
// (the default home's Resource/Icons), where users may replace any of them.
//
//   write_icons <folder>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <QGuiApplication>

#include "windows/qt/icon_set.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    if (!qm::windows::qt::WriteBuiltinIcons(folder)) {
        std::fprintf(stderr, "could not write the icons into %s\n", folder.c_str());
        return 1;
    }
    std::printf("%d icons written into %s\n", qm::windows::qt::kBuiltinIconCount, folder.c_str());
    return 0;
}
