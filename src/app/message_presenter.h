#pragma once

#include <QString>

#include <string>

#include "platform/main_view.h"

class QWidget;

namespace k9 {

// Shows the logic's message boxes. The real one is a QMessageBox; tests answer from a script.
class MessagePresenter {
  public:
    virtual ~MessagePresenter() = default;
    virtual MessageAnswer show(QWidget* parent, const Message& message) = 0;
};

class QtMessagePresenter final : public MessagePresenter {
  public:
    MessageAnswer show(QWidget* parent, const Message& message) override;
};

// UTF-8 to QString, with the logic's CR LF line breaks as the widgets' "\n".
QString displayText(const std::string& text);

}  // namespace k9
