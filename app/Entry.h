#pragma once
// The utility's entry: single-instance guard, then the configuration dialog
// as the main window until it closes. Exits with 0 on every path.

#include <QApplication>
#include <functional>
#include <memory>

#include <QWidget>

namespace velserin {

inline constexpr const char* kConfigurationMutex = "VelSerinDesignCAD(Configuration)";
inline constexpr const char* kDesignProgramMutex = "VelSerinDesignCAD";
inline constexpr const char* kApplicationTitle = "VelSerin Design CAD System Configuration";
inline constexpr const char* kAlreadyRunningMessage = "Application Already Running.";
inline constexpr const char* kDesignProgramRunningMessage =
    "After Close VelSerin Application, try again!";

// The application object. An exception that escapes an event handler is
// shown with the exception display and the loop goes on, as the framework's
// application does.
class Application : public QApplication {
  public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows a caught exception: std::exception with its message, anything else
// with an empty message.
void ShowCurrentException();

using MainFormFactory = std::function<std::unique_ptr<QWidget>()>;

// The main form until the configuration dialog exists: a plain window
// captioned "Configuration".
std::unique_ptr<QWidget> CreatePlaceholderForm();

// Runs the utility and returns the process's exit code (always 0).
int RunApplication(int argc, char** argv, const MainFormFactory& createMainForm);
// The same with the application object already made.
int RunUtility(const MainFormFactory& createMainForm);

}  // namespace velserin
