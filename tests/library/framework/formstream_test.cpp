#include "testio.h"
#include "zqformstream.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QWidget>

namespace {

const char* kForm = R"(object Form1: TForm1
  // a comment line
  object Log1: TRecordingLog
  end
  object Io1: TTestIO
    TerminalEcho = True
    TerminalUsage = tuReceive
    Terminal = Edit1
    Log = Log1
    OnFatalError = Io1FatalError
  end
  object Proc1: TTestProcessor
    Log = Log1
  end
end
)";

struct Registrations {
    Registrations()
    {
        zq::framework::RegisterComponentClass(
            "TRecordingLog", [](QObject* o) { return new RecordingLog(o); });
        zq::framework::RegisterComponentClass("TTestIO", [](QObject* o) { return new TestIO(o); });
        zq::framework::RegisterComponentClass(
            "TTestProcessor", [](QObject* o) { return new TestProcessor(o); });
    }
};

class FormStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() { static Registrations r; }
    QWidget form;
    QLineEdit* edit = nullptr;
    int fatalCalls = 0;
    void FatalHandler(TObject*, Cardinal, Cardinal, const std::string&, bool& raise)
    {
        ++fatalCalls;
        raise = false;
    }
    zq::framework::THandlerTable handlers;
    void SetUp() override
    {
        form.setObjectName("Form1");
        edit = new QLineEdit(&form);
        edit->setObjectName("Edit1");
        handlers["Io1FatalError"] = TOnFatalErrorEvent(this, &FormStream::FatalHandler);
    }
};

TEST_F(FormStream, ReadingCreatesComponentsSetsPropertiesAndResolvesLinks)
{
    zq::framework::ReadForm(&form, zq::framework::ParseForm(kForm), handlers);
    auto* io = form.findChild<TestIO*>("Io1");
    auto* log = form.findChild<RecordingLog*>("Log1");
    ASSERT_TRUE(io && log);
    EXPECT_TRUE(io->TerminalEcho);
    EXPECT_EQ(io->TerminalUsage(), tuReceive);
    EXPECT_EQ(io->Terminal(), edit);
    EXPECT_EQ(io->TerminalWindow, edit); // re-applied by Loaded
    EXPECT_EQ(io->Log(), log);
    EXPECT_FALSE(io->IsLoading());
    io->FatalError(1, 0, "handled", false);
    EXPECT_EQ(fatalCalls, 1);
    io->SetTerminal(nullptr);
}

TEST_F(FormStream, SavingWritesEveryPublishedPropertyAndReadsBackTheSame)
{
    zq::framework::ReadForm(&form, zq::framework::ParseForm(kForm), handlers);
    const std::string text
        = zq::framework::WriteFormText(zq::framework::WriteForm(&form, "TForm1", handlers));
    EXPECT_NE(text.find("TerminalEcho = True"), std::string::npos) << text;
    EXPECT_NE(text.find("TerminalUsage = tuReceive"), std::string::npos) << text;
    EXPECT_NE(text.find("Log = Log1"), std::string::npos) << text;
    EXPECT_NE(text.find("OnFatalError = Io1FatalError"), std::string::npos) << text;
    EXPECT_NE(text.find("DeviceIndex = -1"), std::string::npos) << text;
    // What was written parses and writes again unchanged.
    EXPECT_EQ(zq::framework::WriteFormText(zq::framework::ParseForm(text)), text);
    form.findChild<TestIO*>("Io1")->SetTerminal(nullptr);
}

TEST(FormText, ValuesRoundTrip)
{
    const char* text = "object A: TA\n  S = 'it''s'#13'x'\n  C = #0\n  N = -12\n  B = False\n"
                       "  E = [x, y]\n  Empty = []\n  Sub.Value = 7\nend\n";
    const zq::framework::TFormObject o = zq::framework::ParseForm(text);
    ASSERT_EQ(o.properties.size(), 7u);
    EXPECT_EQ(o.properties[0].value.text, "it's\rx");
    EXPECT_EQ(o.properties[1].value.kind, zq::framework::TFormValue::Kind::Integer);
    EXPECT_EQ(o.properties[1].value.integer, 0);
    EXPECT_EQ(o.properties[2].value.integer, -12);
    EXPECT_EQ(o.properties[4].value.members, (std::vector<std::string> { "x", "y" }));
    EXPECT_TRUE(o.properties[5].value.members.empty());
    EXPECT_EQ(o.properties[6].name, "Sub.Value");
    EXPECT_EQ(zq::framework::ParseForm(zq::framework::WriteFormText(o)).properties[0].value.text, "it's\rx");
}

TEST(FormText, ListsOfStringsSpanLinesAndRoundTrip)
{
    const char* text = "object A: TA\n"
                       "  Lines = (\n"
                       "    'first'\n"
                       "    'it''s (not) the end' 'same line'\n"
                       "    ''\n"
                       "    'tab'#9'bed' #13)\n"
                       "  None = ()\n"
                       "  After = 1\n"
                       "end\n";
    const zq::framework::TFormObject o = zq::framework::ParseForm(text);
    ASSERT_EQ(o.properties.size(), 3u);
    EXPECT_EQ(o.properties[0].value.kind, zq::framework::TFormValue::Kind::List);
    const std::vector<std::string> lines { "first", "it's (not) the end", "same line", "", "tab\tbed", "\r" };
    EXPECT_EQ(o.properties[0].value.members, lines);
    EXPECT_EQ(o.properties[1].value.kind, zq::framework::TFormValue::Kind::List);
    EXPECT_TRUE(o.properties[1].value.members.empty());
    EXPECT_EQ(o.properties[2].value.integer, 1);
    EXPECT_EQ(o.properties[2].line, 8);

    const std::string written = zq::framework::WriteFormText(o);
    EXPECT_NE(written.find("  Lines = (\n    'first'\n"), std::string::npos) << written;
    const zq::framework::TFormObject again = zq::framework::ParseForm(written);
    EXPECT_EQ(again.properties[0].value.members, lines);
    EXPECT_TRUE(again.properties[1].value.members.empty());

    for (const char* bad : { "object A: TA\n  L = ('open\nend\n", "object A: TA\n  L = ('a' 1)\nend\n",
             "object A: TA\n  L = ('a') x\nend\n", "object A: TA\n  L = ('a'\n" })
        EXPECT_THROW(zq::framework::ParseForm(bad), EReadError) << bad;
}

TEST_F(FormStream, TextsWithoutAFormOrWithHugeCharacterCodesAreReadErrors)
{
    // Both once escaped the reader: one read past the last line, the other
    // threw the standard library's range error.
    for (const char* bad : { "", "\n  // only a comment\n\n", "object A: TA\n  S = #99999999999\nend\n",
             "object A: TA\n  S = #256\nend\n" })
        EXPECT_THROW(zq::framework::ParseForm(bad), EReadError) << bad;
    EXPECT_EQ(zq::framework::ParseForm("object A: TA\n  S = 'A'#0066\nend\n").properties[0].value.text, "AB");
}

TEST_F(FormStream, MistakesNameTheirLine)
{
    auto message = [&](const std::string& text) {
        try {
            QWidget f;
            f.setObjectName("Form1");
            zq::framework::ReadForm(&f, zq::framework::ParseForm(text), handlers);
        } catch (const EReadError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("object Form1: TForm1\n  object X: TNoSuchClass\n  end\nend\n"),
        "Form resource, line 2: class TNoSuchClass not found");
    EXPECT_EQ(message("object Form1: TForm1\n  object X: TTestIO\n    Nonsense = 1\n  end\nend\n"),
        "Form resource, line 3: property Nonsense does not exist");
    EXPECT_EQ(message("object Form1: TForm1\n  object X: TTestIO\n    Log = Nobody\n  end\nend\n"),
        "Form resource, line 3: no component named \"Nobody\"");
    EXPECT_EQ(message("object Form1: TForm1\n  object X: TTestIO\n"),
        "Form resource, line 3: missing \"end\" of object X");
}

} // namespace
