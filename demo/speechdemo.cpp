// The call/answer machine: the window, or a run without one.
#include "errorreport.h"
#include "headless.h"
#include "mainfrm.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// The application's standard exception handling: an exception that leaves
// an event handler is shown, and the program carries on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ShowApplicationError(e.what());
        } catch (...) {
            ShowApplicationError("Unknown error");
        }
        return false;
    }
};

bool HaveDisplay()
{
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // --screenshot FILE: draws the window off screen into a PNG (for the
    // documentation) and ends.
    QString screenshot;
    if (const qsizetype at = args.indexOf("--screenshot"); at > 0 && at + 1 < args.size()) {
        screenshot = args.takeAt(at + 1);
        args.removeAt(at);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    THeadlessOptions options;
    bool headless = false, help = false;
    QString error;
    const bool parsed = ParseHeadlessOptions(args, options, headless, help, error);
    if (!parsed || help) {
        if (!parsed)
            std::fprintf(stderr, "speechdemo: %s\n", error.toLocal8Bit().constData());
        std::fputs(HeadlessHelp().toLocal8Bit().constData(), parsed ? stdout : stderr);
        return parsed ? 0 : 2;
    }
    // Runs without a window need no display.
    if ((headless || !HaveDisplay()) && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Speaking into a file: device 0 becomes ALSA's file output.
    if (!options.wav.isEmpty()) {
        const QByteArray pcm = "file:\"" + options.wav.toLocal8Bit() + "\",wav";
        setenv("ZQ_WAVE_OUT_PCM", pcm.constData(), 1);
    }

    TApplication app(argc, argv);
    TApplication::setApplicationName("speechdemo");
    if (headless)
        return RunHeadless(options);
    if (!screenshot.isEmpty()) {
        try {
            TForm1 form;
            // As a user sees it after opening the device list once.
            form.zqDeviceBox1->RefreshDevices();
            if (form.zqDeviceBox1->count() > 0)
                form.zqDeviceBox1->setCurrentIndex(0);
            form.show();
            // The window fills its lists from queued work once shown.
            QTimer::singleShot(1000, &app, &QCoreApplication::quit);
            app.exec();
            if (!form.grab().save(screenshot, "PNG")) {
                std::fprintf(stderr, "speechdemo: cannot write %s\n", screenshot.toLocal8Bit().constData());
                return 1;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "speechdemo: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (!HaveDisplay()) {
        std::fprintf(
            stderr, "speechdemo: no display to show the window on; see --help for runs without one\n");
        return 2;
    }
    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>();
    } catch (const std::exception& e) {
        // Without a speech engine the window cannot be made.
        ShowApplicationError(e.what());
        return 1;
    }
    form->move(form->screen()->availableGeometry().center() - form->rect().center());
    form->show();
    return app.exec();
}
