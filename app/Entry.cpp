#include "app/Entry.h"

#include <QMainWindow>
#include <exception>

#include "platform/Messages.h"
#include "platform/NamedMutex.h"

namespace velserin {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        platform::ShowException(e.what());
    } catch (...) {
        platform::ShowException(std::string());
    }
}

std::unique_ptr<QWidget> CreatePlaceholderForm() {
    auto form = std::make_unique<QMainWindow>();
    form->setWindowTitle(QStringLiteral("Configuration"));
    form->resize(640, 400);
    return form;
}

int RunApplication(int argc, char** argv, const MainFormFactory& createMainForm) {
    // The application object comes first: message boxes need it. It touches
    // no file of the suite.
    Application app(argc, argv);
    return RunUtility(createMainForm);
}

int RunUtility(const MainFormFactory& createMainForm) {
    // The title goes to message boxes only; setting it as Qt's display name
    // would make Qt append it to every window caption.
    platform::SetApplicationTitle(kApplicationTitle);

    // Probing and then creating would let two copies started together both
    // run: take our own mutex in one step, and a refusal means another copy
    // holds it.
    platform::NamedMutex::Result result;
    std::unique_ptr<platform::NamedMutex> ownMutex =
        platform::NamedMutex::Create(kConfigurationMutex, &result);
    if (result == platform::NamedMutex::Result::AlreadyHeld) {
        platform::ShowMessage(kAlreadyRunningMessage);
        return 0;
    }
    // Failed: run without our own mutex, as when the system refuses to make one.

    if (platform::ProbeNamedMutex(kDesignProgramMutex) == platform::MutexProbe::Held) {
        platform::ShowMessage(kDesignProgramRunningMessage);
        ownMutex.reset();
        return 0;
    }

    try {
        std::unique_ptr<QWidget> form = createMainForm();
        if (form) {
            form->show();
            QApplication::exec();
        }
    } catch (...) {
        ShowCurrentException();
    }
    ownMutex.reset();
    return 0;
}

}  // namespace velserin
