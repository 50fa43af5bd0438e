#include "app/message_presenter.h"

#include <QMessageBox>

#include "app/app_texts.h"

namespace k9 {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QString displayText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

MessageAnswer QtMessagePresenter::show(QWidget* parent, const Message& message) {
    const std::string title = message.title.empty() ? std::string(kAppTitle) : message.title;
    QMessageBox box(boxIcon(message.icon), displayText(title), displayText(message.text),
                    message.buttons == MessageButtons::YesNo
                        ? QMessageBox::Yes | QMessageBox::No
                        : QMessageBox::StandardButtons(QMessageBox::Ok),
                    parent);
    box.setTextFormat(Qt::PlainText);
    const int answer = box.exec();
    if (message.buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    // Closing a Yes/No box without a button counts as No.
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace k9
