#pragma once

#include "RepairController.h"

#include "HostWnd.h"
#include "WindowRoot.h"

#include <memory>

// The main window's title, by which a second copy of the program finds it.
extern const wchar_t kMainWindowTitle[];

// The main window: its host, its tree of controls, and the controller that
// gives them their behaviour.
struct MainWindow {
    std::unique_ptr<Quv::UI::HostWnd> host;
    std::unique_ptr<Quv::UI::WindowRoot> root;
    MainWindowParts parts;
    std::unique_ptr<RepairController> controller;

    // Makes the native window and shows it, the folder field focused; false
    // when it can't be made.
    bool Create();
    ~MainWindow();
};

// Builds the main window's controls, wired to a new controller; the native
// window is made by Create.
std::unique_ptr<MainWindow> BuildMainWindow();

// Builds and runs the main window until it is destroyed; returns the quit code,
// or a non-zero code at once when the window could not be made.
int RunMainWindow();
