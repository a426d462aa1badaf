#pragma once
// The main window: a telephone call/answer machine that speaks the memo's
// text into a call, or to the speakers, and logs every step.
#include "zqcommbox.h"
#include "zqcommtapi.h"
#include "zqformstream.h"
#include "zqspeech.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace zq::demo {

// What a form is made for: the window, or a run that only speaks to the
// speakers or a file and never uses the line. The latter leaves the device
// box unlinked, so the telephony service is not started just to fill a list
// nobody sees (a quarter of a short run's start-up).
enum class TFormUse { Window, SpeakingOnly };

} // namespace zq::demo

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr, zq::demo::TFormUse use = zq::demo::TFormUse::Window);
    ~TForm1() override;

    QGroupBox* GroupBox1;
    QLabel* Label2;
    TzqDeviceBox* zqDeviceBox1;
    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button3;
    QCheckBox* CheckBox1;
    QPushButton* Button6;
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QComboBox* ComboBox1;
    QLabel* Label4;
    QComboBox* cbVoices;
    QPlainTextEdit* Memo1;
    QPushButton* Button4;
    QPushButton* Button5;
    QGroupBox* GroupBox3;
    QListWidget* ListBox1;

    // Created by the window's resource.
    TzqSpeech* zqSpeech1 = nullptr;
    TzqCommTAPI* zqCommTAPI1 = nullptr;

    // The handlers, in the order the window declares them.
    void FormCreate(TObject* Sender);
    void Button1Click(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Button3Click(TObject* Sender);
    void CheckBox1Click(TObject* Sender);
    void Button4Click(TObject* Sender);
    void Button5Click(TObject* Sender);
    void zqCommTAPI1LineConnected(TObject* Sender);
    void zqCommTAPI1LineDisconnected(TObject* Com, bool ByRemote);
    void zqSpeech1AfterPlay(TObject* Sender);
    void zqCommTAPI1FatalError(TObject* Sender, Cardinal ErrorCode, Cardinal Detail,
        const std::string& ErrorMsg, bool& RaiseException);

    // The handlers by name, as the resource refers to them.
    zq::framework::THandlerTable Handlers();
    // Appends to the log list; safe from any thread (the entry is handed
    // to the main thread).
    void AppendLog(const QString& Line);
    // Called with every entry as it is appended, for headless runs.
    std::function<void(const QString&)> OnLogLine;

private:
    void CreateControls();
    void FitLayout();
};

namespace zq::demo {

// The window's resource, as compiled into the program.
std::string MainFormResource();
// Makes the component classes and enumeration members known to form resources.
void RegisterDemoClasses();

} // namespace zq::demo
