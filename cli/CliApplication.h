#pragma once

#include <QCoreApplication>

#include <memory>

// The tool's application object. Pictures (analyze --png) need a GUI
// application, on the offscreen platform since the tool never shows a
// window, and the plot widgets: for them a widget application is created
// and the picture writer installed. Every other command runs in a core
// application. Only this part of the tool links widgets.
std::unique_ptr<QCoreApplication> createCliApplication(int &argc, char *argv[]);
