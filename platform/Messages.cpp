#include "platform/Messages.h"

#include "platform/SystemInfo.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

namespace platform {

namespace {
DesktopMessageSink g_desktopSink;
MessageSink* g_sink = nullptr;
std::string g_title;
}  // namespace

MessageSink* InstallMessageSink(MessageSink* sink) {
    MessageSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

static MessageSink& CurrentSink() {
    return g_sink ? *g_sink : g_desktopSink;
}

void ShowMessage(const std::string& text) {
    CurrentSink().Show(MessageKind::Message, text);
}

void ShowException(const std::string& text) {
    CurrentSink().Show(MessageKind::Exception, text);
}

void SetApplicationTitle(const std::string& title) {
    g_title = title;
}

const std::string& ApplicationTitle() {
    return g_title;
}

void DesktopMessageSink::Show(MessageKind kind, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), text.c_str());
    std::fflush(stderr);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QMessageBox box(kind == MessageKind::Exception ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(g_title), QString::fromStdString(text), QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

}  // namespace platform
