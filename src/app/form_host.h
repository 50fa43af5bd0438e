#pragma once

#include <string>

namespace k9 {

// What the main window's start-up and close need of the window beyond the controls the
// update logic paints (MainView).
class FormHost {
  public:
    virtual ~FormHost() = default;

    virtual void showTitlePicture() = 0;
    // frmStart, modal; true when the user left it with "Next".
    virtual bool showInstructions(const std::string& deviceName) = 0;
    // The size rule; also runs on every resize of the window.
    virtual void Form_Resize() = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void showWindow() = 0;
    virtual void colourProgressBar() = 0;
    // Ends the program after the close sequence: no further handler of the window runs.
    virtual void endProgram() = 0;
};

}  // namespace k9
