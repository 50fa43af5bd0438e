#pragma once

#include <string>
#include <utility>

namespace k9 {

enum class Control { Go, Close, PortList, FileList };
// Labels the logic writes: Label3 (port state), Label5 (stage), Label11 (retry count), lblDots.
enum class Caption { PortState, Stage, RetryCount, Dots };
enum class Alignment { Left, Center };
enum class MessageIcon { None, Information, Exclamation, Question, Critical };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct Message {
    Message(std::string text_, std::string title_ = {}, MessageIcon icon_ = MessageIcon::None,
            MessageButtons buttons_ = MessageButtons::Ok)
        : text(std::move(text_)), title(std::move(title_)), icon(icon_), buttons(buttons_) {}

    std::string text;
    std::string title;  // empty: the application's own title
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// What the main window's logic needs of the window. Texts are UTF-8; a line break inside a
// text is CR LF, as the messages are built.
class MainView {
  public:
    virtual ~MainView() = default;

    virtual void setStatusText(const std::string& text) = 0;
    virtual std::string statusText() const = 0;
    virtual void setStatusFontName(const std::string& name) = 0;
    virtual void setStatusFontSize(double points) = 0;
    virtual void setStatusBold(bool bold) = 0;
    virtual void setStatusAlignment(Alignment alignment) = 0;
    // A hint beside the status text, outside the designed messages; empty removes it.
    virtual void setStatusNote(const std::string&) {}
    // One line at the foot of the status area for what the program adds to the designed
    // texts (when the unit was last updated, who holds a port); empty removes it.
    virtual void setStatusAside(const std::string&) {}

    virtual void setProgress(int value) = 0;  // 0 to 100
    virtual int progress() const = 0;

    virtual void setCaption(Caption which, const std::string& text) = 0;
    virtual std::string caption(Caption which) const = 0;

    virtual void setEnabled(Control which, bool enabled) = 0;
    virtual void focusGo() = 0;
    virtual void clearSentText() = 0;  // Text2
    virtual void setBusyPointer(bool busy) = 0;

    // Modal; returns the button pressed.
    virtual MessageAnswer showMessage(const Message& message) = 0;

    // Port list cboPort.
    virtual void clearPorts() = 0;
    virtual void addPort(const std::string& entry) = 0;
    virtual int portCount() const = 0;
    virtual std::string portEntry(int index) const = 0;
    virtual void selectPort(int index) = 0;  // -1: no selection
    virtual int selectedPort() const = 0;    // -1 when none
    // What device an entry stands for: a tooltip on each entry, and one line beside the list
    // for the selected one.
    virtual void setPortTooltip(int index, const std::string& text) = 0;
    virtual void setPortDetail(const std::string& text) = 0;

    // File list cboFile.
    virtual void insertFile(int index, const std::string& entry) = 0;
    virtual void selectFile(int index) = 0;
    virtual int selectedFile() const = 0;

    // Check mark of "Filter Com Ports".
    virtual void setFilterChecked(bool checked) = 0;
    virtual bool filterChecked() const = 0;
};

}  // namespace k9
