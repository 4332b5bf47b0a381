#pragma once
// The program's entry sequence: the start-up screen, the connection to MapInfo, then the
// wizard and its companion windows until the wizard closes.
class QApplication;

namespace ui {

// The error shown when neither automation class of MapInfo can be created: two lines
// joined by a lone CR, in a box titled "Error".
inline constexpr const char* kNoMapInfoTitle = "Error";
inline constexpr const char* kNoMapInfoText =
    "MapInfo is required to run Tallomir.\rCannot find MapInfo on this computer.";

// Runs the program on `application`; the exit code, always 0.
int RunStartup(QApplication& application);

}  // namespace ui
