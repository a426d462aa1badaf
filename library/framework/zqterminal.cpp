#include "zqterminal.h"

#include "zqbaseio.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace zq::framework {

TerminalHook::TerminalHook(TzqBaseIO* io, QWidget* edit)
    : QObject(edit)
    , io_(io)
    , edit_(edit)
{
    edit_->installEventFilter(this);
}

TerminalHook::~TerminalHook()
{
    edit_->removeEventFilter(this);
}

bool TerminalHook::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // A character message: one character of text from a key press.
        if (text.size() == 1)
            return io_->TerminalKey(static_cast<char>(text.at(0).toLatin1()));
    }
    return false;
}

void SendCharToEdit(QWidget* edit, unsigned char ch)
{
    if (!edit)
        return;
    int key = Qt::Key_unknown;
    switch (ch) {
    case 8:
        key = Qt::Key_Backspace;
        break;
    case 9:
        key = Qt::Key_Tab;
        break;
    case 13:
        key = Qt::Key_Return;
        break;
    case 27:
        key = Qt::Key_Escape;
        break;
    default:
        break;
    }
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar::fromLatin1(static_cast<char>(ch))));
    QCoreApplication::sendEvent(edit, &press);
}

void ReplaceSelection(QWidget* edit, const std::string& text)
{
    const QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        line->insert(s);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        plain->insertPlainText(s);
    else if (auto* rich = qobject_cast<QTextEdit*>(edit))
        rich->insertPlainText(s);
}

} // namespace zq::framework
