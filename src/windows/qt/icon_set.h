#pragma once
// The program's icon set: "icn%d.ico" files from the icon folder, numbered
// from 0 and read until the first number that is missing; numbers the folder
// does not supply are drawn from the built-in set, so a window never goes
// without its icon.
#include <filesystem>
#include <vector>

#include <QIcon>
#include <QImage>

namespace qm::windows::qt {

// Numbers the program uses: main 0, tray 1 and 8, state 14 to 17, window
// types 12, 28 and 53, severities 20 to 28, status parts 30 to 33.
constexpr int kBuiltinIconCount = 60;

// The built-in picture of one number at one size (square, with alpha).
QImage DrawBuiltinIcon(int number, int size);
// Writes the built-in set as "icn%d.ico" (16, 24, 32 and 48 pixels each);
// false on the first file that could not be written.
bool WriteBuiltinIcons(const std::filesystem::path& folder);

class IconSet {
public:
    // Loads what the folder has; returns the number of icons read from files.
    int Load(const std::filesystem::path& folder);
    int LoadedFromFiles() const { return fromFiles_; }
    QIcon Icon(int number) const;

private:
    mutable std::vector<QIcon> icons_;
    int fromFiles_ = 0;
};

// The program-wide set the windows draw from; loaded at start-up.
IconSet& ProgramIcons();

// The program's own icon, drawn in, whatever the icon folder holds (the
// tray shows it for a number the folder did not supply).
QIcon ProgramMainIcon();

}  // namespace qm::windows::qt
