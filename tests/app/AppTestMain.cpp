#include "ButtonAccessibility.hpp"
#include "CoveredContent.hpp"
#include "security/OpenSslProcess.hpp"

#include <QGuiApplication>
#include <QLocale>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>
#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Lumora_ThemePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_RoomsPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_HistoryPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_PeoplePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_ShellPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_TestingPlugin)

// The views need a GUI application; without a display they render offscreen on a screen of
// a common desktop size.
int main(int argc, char** argv)
{
    lumora::OpenSslProcess::keepStateUntilExit();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QQuickStyle::setStyle("Basic");
    QGuiApplication app(argc, argv);
    // A screen reader meets the buttons, and what a card or a sheet covers, as the application
    // presents them.
    lumora::ButtonAccessibility::install();
    lumora::CoveredContent::install();
    // Dates and times on screen follow the locale: the window tests read them as in the United States.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
