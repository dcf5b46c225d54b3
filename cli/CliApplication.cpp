#include "CliApplication.h"

#include "AnalyzeCommand.h"

#include "analysis_ui/JitterPlots.h"

#include <QApplication>

std::unique_ptr<QCoreApplication> createCliApplication(int &argc, char *argv[])
{
    if (!analyzeNeedsGui(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto application = std::make_unique<QApplication>(argc, argv);
    setAnalyzePictureWriter(&JitterPlots::renderPng);
    return application;
}
