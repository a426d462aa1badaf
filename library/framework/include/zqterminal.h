#pragma once
// The terminal hook: sits in front of an edit's own key handling, so typed
// characters can be sent (and consumed) before the edit shows them, and
// shows received text the way a terminal does.
#include "zqclasses_export.h"
#include <QObject>
#include <QWidget>

#include <string>

class TzqBaseIO;

namespace zq::framework {

class ZQCLASSES_EXPORT TerminalHook : public QObject {
    Q_OBJECT
public:
    TerminalHook(TzqBaseIO* io, QWidget* edit);
    ~TerminalHook() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TzqBaseIO* io_;
    QWidget* edit_;
};

// One character message to the edit: control characters act as keys.
ZQCLASSES_EXPORT void SendCharToEdit(QWidget* edit, unsigned char ch);
// Inserts text at the caret of the edit, replacing any selection.
ZQCLASSES_EXPORT void ReplaceSelection(QWidget* edit, const std::string& text);

} // namespace zq::framework
