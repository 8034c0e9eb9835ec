#pragma once
// Message boxes and the application's exception display. Everything that
// tells the user something in a box goes through here, so that tests can
// record it instead.

#include <string>
#include <vector>

namespace platform {

enum class MessageKind { Message, Exception };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void Show(MessageKind kind, const std::string& text) = 0;
};

// A plain message box (the text, an OK button).
void ShowMessage(const std::string& text);
// The application's exception display: an error box with the message.
void ShowException(const std::string& text);

// Installs a sink in place of the real one; nullptr restores the real one.
// Returns the sink that was installed before.
MessageSink* InstallMessageSink(MessageSink* sink);

// The caption of message boxes; the application's title.
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

// The real display: one stderr line prefixed with the program's name, then a
// modal box when a QApplication exists.
class DesktopMessageSink : public MessageSink {
  public:
    void Show(MessageKind kind, const std::string& text) override;
};

// Records what would have been shown.
class RecordingMessageSink : public MessageSink {
  public:
    struct Entry {
        MessageKind kind;
        std::string text;
    };
    void Show(MessageKind kind, const std::string& text) override {
        entries.push_back({kind, text});
    }
    std::vector<Entry> entries;
};

// Installs a sink for the life of a scope.
class ScopedMessageSink {
  public:
    explicit ScopedMessageSink(MessageSink* sink) : previous_(InstallMessageSink(sink)) {}
    ~ScopedMessageSink() { InstallMessageSink(previous_); }
    ScopedMessageSink(const ScopedMessageSink&) = delete;
    ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

  private:
    MessageSink* previous_;
};

}  // namespace platform
