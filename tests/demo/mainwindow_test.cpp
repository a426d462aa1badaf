// The main window on the offscreen platform: its start-up, the handlers as
// the user reaches them, and a call between the exchange's two simulated
// lines, one window on each, in this process. Wave device 0 plays into a
// raw file, so what the speakers would have said can be inspected.
#include "eventwait.h"
#include "fastrings.h"
#include "mainfrm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Set before anything opens a wave device or the registry.
struct ProcessSetup {
    fs::path dir = fs::temp_directory_path() / ("zqdemo-window-test-" + std::to_string(getpid()));
    fs::path speakers = dir / "speakers.raw";
    ProcessSetup()
    {
        fs::create_directories(dir);
        setenv("ZQ_REGISTRY_FILE", (dir / "registry.json").c_str(), 1);
        setenv("ZQ_WAVE_OUT_PCM", ("file:\"" + speakers.string() + "\",raw").c_str(), 1);
    }
    ~ProcessSetup() { fs::remove_all(dir); }
};
const ProcessSetup& Process()
{
    static ProcessSetup setup;
    return setup;
}
[[maybe_unused]] const ProcessSetup& kSetupBeforeMain = Process();

// The exchange rings quickly, so calls connect without long waits.
class QuickRings : public ::testing::Environment {
public:
    void SetUp() override { zqtest::UseFastRings(); }
};
[[maybe_unused]] ::testing::Environment* const kQuickRings
    = ::testing::AddGlobalTestEnvironment(new QuickRings);

const char* const kFinished = "Speaking is finished";

int Entries(const TForm1& form, const QString& text)
{
    return int(form.ListBox1->findItems(text, Qt::MatchExactly).size());
}

QStringList Log(const TForm1& form)
{
    QStringList out;
    for (int i = 0; i < form.ListBox1->count(); ++i)
        out << form.ListBox1->item(i)->text();
    return out;
}

bool WaitEntries(const TForm1& form, const QString& text, int n = 1)
{
    return zqtest::WaitUntil([&] { return Entries(form, text) >= n; });
}

void Click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// The user's pick in the device box.
void PickDevice(TzqDeviceBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Root mean square of 16-bit mono PCM.
double Rms(const std::vector<int16_t>& s)
{
    double sum = 0;
    for (int16_t v : s)
        sum += double(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

std::vector<int16_t> ReadPcm(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::error_code ec;
        fs::remove(Process().speakers, ec);
    }
    std::unique_ptr<TForm1> NewForm(const QString& memo = "Hi.")
    {
        auto form = std::make_unique<TForm1>();
        form->Memo1->setPlainText(memo);
        form->show();
        return form;
    }
    // What device 0 played since the test began.
    static std::vector<int16_t> Played() { return ReadPcm(Process().speakers); }
};

TEST_F(MainWindow, StartUpShowsTheControlsFillsTheVoicesAndChoosesTheSpeakers)
{
    auto form = NewForm();
    EXPECT_EQ(form->windowTitle(), "Speech Demo - zqComm Lib");
    EXPECT_EQ(form->GroupBox1->title(), "TAPI call/answer machine");
    EXPECT_EQ(form->GroupBox2->title(), " TextToSpeech ");
    EXPECT_EQ(form->GroupBox3->title(), " Log ");
    EXPECT_EQ(form->Button4->text(), "Speak");
    EXPECT_EQ(form->CheckBox1->text(), "Wait for incoming call");
    EXPECT_EQ(form->Edit1->text(), "Edit1");
    EXPECT_EQ(form->ListBox1->count(), 0);

    ASSERT_GT(form->zqSpeech1->VoiceCount(), 0);
    ASSERT_EQ(form->cbVoices->count(), form->zqSpeech1->VoiceCount());
    for (int i = 0; i < form->cbVoices->count(); ++i)
        EXPECT_EQ(form->cbVoices->itemText(i).toStdString(), form->zqSpeech1->VoiceName(i));
    EXPECT_EQ(form->cbVoices->currentIndex(), 0);

    ASSERT_EQ(form->ComboBox1->count(), 2);
    EXPECT_EQ(form->ComboBox1->itemText(0), "Use selected TAPI voice modem");
    EXPECT_EQ(form->ComboBox1->currentIndex(), 1);

    // The device box follows the line component: its devices, none chosen.
    ASSERT_EQ(form->zqDeviceBox1->zqComm(), form->zqCommTAPI1);
    ASSERT_EQ(form->zqDeviceBox1->count(), 2);
    EXPECT_EQ(form->zqDeviceBox1->itemText(0), "Simulated line 1");
    EXPECT_EQ(form->zqDeviceBox1->itemText(1), "Simulated line 2");
    EXPECT_EQ(form->zqDeviceBox1->currentIndex(), -1);
    PickDevice(form->zqDeviceBox1, 1);
    EXPECT_EQ(form->zqCommTAPI1->GetDeviceIndex(), 1);
    EXPECT_EQ(form->zqDeviceBox1->currentIndex(), 1);
}

TEST_F(MainWindow, CaptionsShowInFull)
{
    auto form = NewForm();
    EXPECT_LE(form->ComboBox1->sizeHint().width(), form->ComboBox1->width());
    EXPECT_LE(form->CheckBox1->sizeHint().width(), form->CheckBox1->width());
    for (QLabel* label : { form->Label1, form->Label2, form->Label3, form->Label4 })
        EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    for (QPushButton* button :
        { form->Button1, form->Button2, form->Button3, form->Button4, form->Button5, form->Button6 })
        EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width())
            << button->text().toStdString();
}

TEST_F(MainWindow, TheMemoStartsWithItsFiveLines)
{
    auto form = std::make_unique<TForm1>();
    EXPECT_EQ(form->Memo1->toPlainText().split('\n'),
        QStringList(
            { "This is Brellow zqComm Lib ", "Speech demo program.", "It is using the Microsoft Speech API ",
                "v5.1 (or above) which you should ", "install before." }));
}

TEST_F(MainWindow, SpeakToTheSpeakersPlaysOnDeviceZero)
{
    auto form = NewForm();
    Click(form->Button4);
    ASSERT_TRUE(WaitEntries(*form, kFinished)) << Log(*form).join('|').toStdString();
    EXPECT_EQ(Log(*form), QStringList { kFinished });
    EXPECT_EQ(form->zqSpeech1->zqCommTAPI(), nullptr);
    // All of the rendering reached the device, and it is speech, not silence.
    const auto played = Played();
    ASSERT_GT(form->zqSpeech1->RenderedBytes(), 0u);
    EXPECT_GE(played.size() * 2, size_t(form->zqSpeech1->RenderedBytes()));
    EXPECT_GT(Rms(played), 100.0);
}

TEST_F(MainWindow, SpeakToTheModemWithoutADevicePlaysOnDeviceZeroToo)
{
    auto form = NewForm();
    form->ComboBox1->setCurrentIndex(0);
    Click(form->Button4);
    ASSERT_TRUE(WaitEntries(*form, kFinished)) << Log(*form).join('|').toStdString();
    EXPECT_EQ(Log(*form), QStringList { kFinished });
    EXPECT_EQ(form->zqSpeech1->zqCommTAPI(), form->zqCommTAPI1);
    EXPECT_GT(Rms(Played()), 100.0);
}

TEST_F(MainWindow, SpeakWhileSpeakingRestartsAndStopEnds)
{
    // The memo's own text, several seconds long, on a line's wave device,
    // which plays in real time: still playing at the second press.
    auto form = std::make_unique<TForm1>();
    form->show();
    PickDevice(form->zqDeviceBox1, 0);
    form->ComboBox1->setCurrentIndex(0);
    Click(form->Button4);
    ASSERT_TRUE(form->zqSpeech1->Playing());
    Click(form->Button4);
    ASSERT_TRUE(WaitEntries(*form, kFinished)) << Log(*form).join('|').toStdString();
    EXPECT_TRUE(form->zqSpeech1->Playing());
    Click(form->Button5);
    ASSERT_TRUE(WaitEntries(*form, kFinished, 2));
    EXPECT_FALSE(form->zqSpeech1->Playing());
    EXPECT_EQ(Log(*form), QStringList({ kFinished, kFinished }));
}

TEST_F(MainWindow, EmptyMemoSpeaksNothing)
{
    auto form = NewForm("");
    Click(form->Button4);
    EXPECT_FALSE(form->zqSpeech1->Playing());
    // Anything the empty memo had caused would be logged before the entry
    // of a speech that follows it.
    form->Memo1->setPlainText("Hi.");
    Click(form->Button4);
    ASSERT_TRUE(WaitEntries(*form, kFinished));
    EXPECT_EQ(Log(*form), QStringList { kFinished });
}

TEST_F(MainWindow, ErrorsOfTheComponentsBecomeOneEntryEachAndTheProgramCarriesOn)
{
    auto form = NewForm();
    // Nothing selected in the device box: the line component refuses voice
    // and the call, each with a report the window logs whole.
    form->Edit1->setText("1002");
    ASSERT_NO_THROW(Click(form->Button3));
    const QStringList log = Log(*form);
    ASSERT_FALSE(log.isEmpty());
    for (const QString& entry : log) {
        EXPECT_TRUE(entry.startsWith("zqCommLib TAPI error:")) << entry.toStdString();
        EXPECT_TRUE(entry.contains("TAPI Error Code [")) << entry.toStdString();
    }
    EXPECT_TRUE(log.last().contains("Device index (-1 of 2) is not valid")) << log.last().toStdString();

    // Still working afterwards.
    Click(form->Button4);
    ASSERT_TRUE(WaitEntries(*form, kFinished));
}

TEST_F(MainWindow, LogEntriesFromOtherThreadsArriveOnTheMainThread)
{
    auto form = NewForm();
    std::thread t([&] { form->AppendLog("from elsewhere"); });
    t.join();
    ASSERT_TRUE(WaitEntries(*form, "from elsewhere"));
    EXPECT_EQ(form->ListBox1->count(), 1);
}

// One window per simulated line: Simulated line 1 calls Simulated line 2.
class TwoWindows : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        caller = NewForm();
        answerer = NewForm("");
        PickDevice(caller->zqDeviceBox1, 0);
        PickDevice(answerer->zqDeviceBox1, 1);
        caller->Edit1->setText("1002");
    }
    void TearDown() override
    {
        // No more repeats of the call or the wait while the windows go.
        caller->zqCommTAPI1->SetRetries(0);
        answerer->zqCommTAPI1->SetRetries(0);
        caller.reset();
        answerer.reset();
    }
    std::string Logs() const
    {
        return ("caller: " + Log(*caller).join(" | ") + "\nanswerer: " + Log(*answerer).join(" | "))
            .toStdString();
    }
    std::unique_ptr<TForm1> caller, answerer;
};

TEST_F(TwoWindows, CallSpeaksIntoTheLineAndTheFarEndSeesTheHangUp)
{
    Click(answerer->CheckBox1);
    EXPECT_TRUE(answerer->CheckBox1->isChecked());
    EXPECT_EQ(answerer->zqCommTAPI1->LineState, lsWaiting);
    Click(caller->Button3);

    ASSERT_TRUE(WaitEntries(*caller, "Connection established")) << Logs();
    // The direction turned to the line, whatever it showed before.
    EXPECT_EQ(caller->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(caller->zqSpeech1->zqCommTAPI(), caller->zqCommTAPI1);
    ASSERT_TRUE(WaitEntries(*answerer, "Connection established")) << Logs();
    ASSERT_TRUE(WaitEntries(*caller, kFinished)) << Logs();
    // The speech went into the call, not to the speakers.
    EXPECT_FALSE(fs::exists(Process().speakers));

    Click(caller->Button2);
    ASSERT_TRUE(WaitEntries(*answerer, "Line disconnected")) << Logs();
    EXPECT_EQ(Log(*caller).first(), "Connection established");
    EXPECT_EQ(Log(*answerer), QStringList({ "Connection established", "Line disconnected" })) << Logs();
}

TEST_F(TwoWindows, TheCheckBoxWaitsOnUncheckingToo)
{
    Click(answerer->CheckBox1);
    Click(answerer->CheckBox1);
    EXPECT_FALSE(answerer->CheckBox1->isChecked());
    EXPECT_EQ(answerer->zqCommTAPI1->LineState, lsWaiting);
    Click(caller->Button3);
    ASSERT_TRUE(WaitEntries(*answerer, "Connection established")) << Logs();
    ASSERT_TRUE(WaitEntries(*caller, kFinished)) << Logs();
    Click(caller->Button2);
    ASSERT_TRUE(WaitEntries(*answerer, "Line disconnected")) << Logs();
}

// Finds a described object by name anywhere below root.
const zq::framework::TFormObject* FindObject(const zq::framework::TFormObject& root, const std::string& name)
{
    if (root.name == name)
        return &root;
    for (const zq::framework::TFormObject& c : root.children)
        if (const zq::framework::TFormObject* f = FindObject(c, name))
            return f;
    return nullptr;
}

// A value as the reader sets it: enumeration members, and sets of them,
// become the integers they stand for.
std::string Normalised(const zq::framework::TFormValue& v)
{
    zq::framework::TFormValue n = v;
    int value = 0;
    if (v.kind == zq::framework::TFormValue::Kind::Ident && zq::framework::EnumMemberValue(v.text, value)) {
        n = zq::framework::TFormValue {};
        n.integer = value;
    } else if (v.kind == zq::framework::TFormValue::Kind::Set) {
        long long bits = 0;
        bool known = true;
        for (const std::string& m : v.members) {
            known = known && zq::framework::EnumMemberValue(m, value);
            bits |= 1ll << value;
        }
        if (known) {
            n = zq::framework::TFormValue {};
            n.integer = bits;
        }
    }
    zq::framework::TFormObject o;
    o.name = "x";
    o.className = "T";
    o.properties.push_back({ "v", n, 0 });
    return zq::framework::WriteFormText(o);
}

// What the written form says differently from the window's resource, for
// the objects and properties chosen.
std::vector<std::string> DifferencesFromResource(const TForm1& form,
    const std::function<bool(const std::string& object, const std::string& property)>& chosen)
{
    const zq::framework::TFormObject resource = zq::framework::ParseForm(zq::demo::MainFormResource());
    const zq::framework::TFormObject written = zq::framework::WriteForm(
        const_cast<TForm1*>(&form), "TForm1", const_cast<TForm1&>(form).Handlers());
    std::vector<std::string> differences;
    for (const zq::framework::TFormObject& object : resource.children) {
        const zq::framework::TFormObject* out = FindObject(written, object.name);
        for (const zq::framework::TFormProperty& p : object.properties) {
            if (!chosen(object.name, p.name))
                continue;
            const std::string what = object.name + "." + p.name;
            if (!out) {
                differences.push_back(what + ": object not written");
                continue;
            }
            auto it = std::find_if(out->properties.begin(), out->properties.end(),
                [&](const zq::framework::TFormProperty& q) { return q.name == p.name; });
            if (it == out->properties.end())
                differences.push_back(what + ": not written");
            else if (Normalised(it->value) != Normalised(p.value))
                differences.push_back(what + ": written " + Normalised(it->value));
        }
    }
    return differences;
}

bool IsModemSetting(const std::string& property)
{
    return property.rfind("DeviceModem.", 0) == 0;
}

TEST_F(MainWindow, WrittenFormCarriesTheResourceValuesOfTheComponents)
{
    TForm1 form;
    const auto differences
        = DifferencesFromResource(form, [](const std::string& object, const std::string& property) {
              return object != "zqDeviceBox1" && !IsModemSetting(property);
          });
    EXPECT_TRUE(differences.empty()) << ::testing::PrintToString(differences);
}

// The form writer describes neither the line component's modem settings
// (the settings object, which has no parent object, is written as an empty
// reference that does not read back) nor controls placed inside group
// boxes, such as the device box.
TEST_F(MainWindow, WrittenFormCarriesTheModemSettingsAndTheDeviceBox)
{
    TForm1 form;
    const auto differences
        = DifferencesFromResource(form, [](const std::string& object, const std::string& property) {
              return object == "zqDeviceBox1" || IsModemSetting(property);
          });
    EXPECT_TRUE(differences.empty()) << ::testing::PrintToString(differences);
    EXPECT_NO_THROW(zq::framework::ParseForm(
        zq::framework::WriteFormText(zq::framework::WriteForm(&form, "TForm1", form.Handlers()))));
}

} // namespace
