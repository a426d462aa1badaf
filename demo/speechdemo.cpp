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
            zq::ui::ShowApplicationError(e.what());
        } catch (...) {
            zq::ui::ShowApplicationError("Unknown error");
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
    zq::demo::HeadlessOptions options;
    bool headless = false, help = false;
    QString error;
    const bool parsed = zq::demo::ParseHeadlessOptions(args, options, headless, help, error);
    if (!parsed || help) {
        if (!parsed)
            std::fprintf(stderr, "speechdemo: %s\n", error.toLocal8Bit().constData());
        std::fputs(zq::demo::HeadlessHelp().toLocal8Bit().constData(), parsed ? stdout : stderr);
        return parsed ? 0 : 2;
    }
    // Runs without a window draw nothing, so they take the window system
    // that sets up least (no fonts: a tenth of a short run's start-up). A
    // screenshot of the window (for the documentation) is drawn off screen
    // whatever the display.
    const QString& screenshot = options.screenshot;
    if (headless)
        setenv("QT_QPA_PLATFORM", "minimal", 1);
    else if (!screenshot.isEmpty())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    else if (!HaveDisplay() && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    TApplication app(argc, argv);
    TApplication::setApplicationName("speechdemo");
    if (headless)
        return zq::demo::RunHeadless(options);
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
        zq::ui::ShowApplicationError(e.what());
        return 1;
    }
    form->move(form->screen()->availableGeometry().center() - form->rect().center());
    form->show();
    return app.exec();
}
