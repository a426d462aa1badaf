#include "mainfrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>

#include <algorithm>

namespace {
template <class W> W* Place(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(left, top, width, height);
    return w;
}

// Labels take the width of their caption, whatever the font makes of it.
QLabel* PlaceLabel(
    QWidget* parent, const char* name, int left, int top, int width, int height, const char* text)
{
    auto* label = Place<QLabel>(parent, name, left, top, width, height);
    label->setText(text);
    label->adjustSize();
    return label;
}
} // namespace

// The resource is compiled into a static library: it is registered by hand.
static void InitDemoResources()
{
    Q_INIT_RESOURCE(demo);
}

// Drops the device box's link to the line from the resource's description.
static void UnlinkDeviceBox(zq::framework::TFormObject& desc)
{
    if (desc.name == "zqDeviceBox1")
        std::erase_if(
            desc.properties, [](const zq::framework::TFormProperty& p) { return p.name == "zqComm"; });
    for (zq::framework::TFormObject& child : desc.children)
        UnlinkDeviceBox(child);
}

std::string zq::demo::MainFormResource()
{
    InitDemoResources();
    QFile f(":/demo/mainfrm.zfm");
    if (!f.open(QIODevice::ReadOnly))
        throw Exception("The window's resource is missing from the program");
    return f.readAll().toStdString();
}

void zq::demo::RegisterDemoClasses()
{
    zq::telephony::RegisterTelephonyComponents();
    zq::audio::RegisterSpeechComponents();
}

TForm1::TForm1(QWidget* parent, zq::demo::TFormUse use)
    : QWidget(parent)
{
    setObjectName("Form1");
    setWindowTitle("Speech Demo - zqComm Lib");
    CreateControls();
    zq::demo::RegisterDemoClasses();
    zq::framework::TFormObject desc = zq::framework::ParseForm(zq::demo::MainFormResource());
    if (use == zq::demo::TFormUse::SpeakingOnly)
        UnlinkDeviceBox(desc);
    zq::framework::ReadForm(this, desc, Handlers());
    zqSpeech1 = findChild<TzqSpeech*>("zqSpeech1");
    zqCommTAPI1 = findChild<TzqCommTAPI*>("zqCommTAPI1");

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(Button2); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(Button3); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(CheckBox1); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(Button4); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(Button5); });
    FormCreate(this);
}

TForm1::~TForm1()
{
    // The components go first, while the controls they talk to still exist.
    delete zqSpeech1;
    delete zqCommTAPI1;
}

void TForm1::CreateControls()
{
    // The layout was made for a font 10 pixels high; the controls keep
    // their sizes, so the text must not be larger.
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(10);
    setFont(font);
    resize(493, 382);
    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", 0, 0, 493, 124);
    GroupBox1->setTitle("TAPI call/answer machine");
    Label2 = PlaceLabel(GroupBox1, "Label2", 13, 23, 64, 13, "TAPI Device:");
    zqDeviceBox1 = Place<TzqDeviceBox>(GroupBox1, "zqDeviceBox1", 13, 39, 209, 21);
    Button1 = Place<QPushButton>(GroupBox1, "Button1", 248, 40, 40, 21);
    Button1->setText("...");
    Button2 = Place<QPushButton>(GroupBox1, "Button2", 328, 40, 75, 25);
    Button2->setText("Hang up");
    Label1 = PlaceLabel(GroupBox1, "Label1", 13, 72, 71, 13, "Phone Number");
    Edit1 = Place<QLineEdit>(GroupBox1, "Edit1", 14, 88, 121, 21);
    Edit1->setText("Edit1");
    Button3 = Place<QPushButton>(GroupBox1, "Button3", 160, 89, 62, 22);
    Button3->setText("Call");
    CheckBox1 = Place<QCheckBox>(GroupBox1, "CheckBox1", 270, 92, 171, 17);
    CheckBox1->setText("Wait for incoming call");
    Button6 = Place<QPushButton>(GroupBox1, "Button6", 400, 72, 75, 25);
    Button6->setText("Button6");

    GroupBox2 = Place<QGroupBox>(this, "GroupBox2", 0, 124, 189, 257);
    GroupBox2->setTitle(" TextToSpeech ");
    Label3 = PlaceLabel(GroupBox2, "Label3", 8, 24, 45, 13, "Direction:");
    ComboBox1 = Place<QComboBox>(GroupBox2, "ComboBox1", 7, 42, 169, 21);
    ComboBox1->addItems({ "Use selected TAPI voice modem", "Use a standard output (speakers)" });
    Label4 = PlaceLabel(GroupBox2, "Label4", 8, 72, 35, 13, "Voices:");
    cbVoices = Place<QComboBox>(GroupBox2, "cbVoices", 8, 88, 169, 21);
    Memo1 = Place<QPlainTextEdit>(GroupBox2, "Memo1", 7, 144, 176, 72);
    Memo1->setPlainText(
        "This is Brellow zqComm Lib \nSpeech demo program.\nIt is using the Microsoft Speech API \n"
        "v5.1 (or above) which you should \ninstall before.");
    Button4 = Place<QPushButton>(GroupBox2, "Button4", 7, 222, 60, 20);
    Button4->setText("Speak");
    Button5 = Place<QPushButton>(GroupBox2, "Button5", 117, 222, 61, 20);
    Button5->setText("Stop");

    GroupBox3 = Place<QGroupBox>(this, "GroupBox3", 189, 124, 304, 257);
    GroupBox3->setTitle(" Log ");
    ListBox1 = Place<QListWidget>(GroupBox3, "ListBox1", 2, 15, 300, 240);

    setTabOrder(zqDeviceBox1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Edit1);
    setTabOrder(Edit1, Button3);
    setTabOrder(Button3, CheckBox1);
    setTabOrder(CheckBox1, Button6);
    setTabOrder(Button6, Button4);
    setTabOrder(Button4, Memo1);
    setTabOrder(Memo1, Button5);
    setTabOrder(Button5, ComboBox1);
    setTabOrder(ComboBox1, cbVoices);
    FitLayout();
}

void TForm1::FitLayout()
{
    // The style may want more room around a list's text than the layout
    // gives; then the whole layout grows evenly until the longest entry of
    // the direction list shows in full.
    const double scale = std::max(1.0, double(ComboBox1->sizeHint().width()) / ComboBox1->width());
    if (scale == 1.0)
        return;
    auto scaled = [scale](const QRect& r) {
        return QRect(qRound(r.left() * scale), qRound(r.top() * scale), qRound(r.width() * scale),
            qRound(r.height() * scale));
    };
    for (QGroupBox* group : { GroupBox1, GroupBox2, GroupBox3 }) {
        group->setGeometry(scaled(group->geometry()));
        for (QWidget* control : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            control->setGeometry(scaled(control->geometry()));
    }
    resize(scaled(rect()).size());
}

zq::framework::THandlerTable TForm1::Handlers()
{
    return {
        { "zqCommTAPI1LineConnected", TNotifyEvent(this, &TForm1::zqCommTAPI1LineConnected) },
        { "zqCommTAPI1LineDisconnected", TNotifyCallDisconnect(this, &TForm1::zqCommTAPI1LineDisconnected) },
        { "zqSpeech1AfterPlay", TNotifyEvent(this, &TForm1::zqSpeech1AfterPlay) },
        { "zqCommTAPI1FatalError", TOnFatalErrorEvent(this, &TForm1::zqCommTAPI1FatalError) },
    };
}

void TForm1::AppendLog(const QString& Line)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, Line] { AppendLog(Line); }, Qt::QueuedConnection);
        return;
    }
    ListBox1->addItem(Line);
    if (OnLogLine)
        OnLogLine(Line);
}

// Handlers ---------------------------------------------------------------------------

void TForm1::FormCreate(TObject*)
{
    cbVoices->clear();
    for (int I = 0; I < zqSpeech1->VoiceCount(); ++I)
        cbVoices->addItem(QString::fromStdString(zqSpeech1->VoiceName(I)));
    cbVoices->setCurrentIndex(zqSpeech1->VoiceIndex());
    ComboBox1->setCurrentIndex(1);
}

void TForm1::Button1Click(TObject*)
{
    zqCommTAPI1->ConfigDialog();
}

void TForm1::Button2Click(TObject*)
{
    zqCommTAPI1->HangUp();
}

void TForm1::Button3Click(TObject*)
{
    zqCommTAPI1->SetVoice(true);
    zqCommTAPI1->SetPhone(Edit1->text().toStdString());
    zqCommTAPI1->MakeCall();
}

void TForm1::CheckBox1Click(TObject*)
{
    zqCommTAPI1->SetVoice(true);
    zqCommTAPI1->WaitForCall();
}

void TForm1::Button4Click(TObject*)
{
    zqSpeech1->SetzqCommTAPI(ComboBox1->currentIndex() == 0 ? zqCommTAPI1 : nullptr);
    zqSpeech1->Text().Clear();
    const QStringList lines = Memo1->toPlainText().split('\n');
    if (!Memo1->toPlainText().isEmpty())
        for (const QString& line : lines)
            zqSpeech1->Text().Add(line.toStdString());
    zqSpeech1->SelectVoice(cbVoices->currentIndex());
    zqSpeech1->Speak();
}

void TForm1::Button5Click(TObject*)
{
    zqSpeech1->Stop();
}

void TForm1::zqCommTAPI1LineConnected(TObject* Sender)
{
    AppendLog("Connection established");
    ComboBox1->setCurrentIndex(0);
    Button4Click(Sender);
}

void TForm1::zqCommTAPI1LineDisconnected(TObject*, bool)
{
    AppendLog("Line disconnected");
}

void TForm1::zqSpeech1AfterPlay(TObject*)
{
    AppendLog("Speaking is finished");
}

void TForm1::zqCommTAPI1FatalError(
    TObject*, Cardinal, Cardinal, const std::string& ErrorMsg, bool& RaiseException)
{
    AppendLog(QString::fromStdString(ErrorMsg));
    RaiseException = false;
}
